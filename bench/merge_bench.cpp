// bench_merge ARCHIVE DESTDIR: the window's merge, at library level. Opens
// the set in automatic mode, extracts everything into DESTDIR, closes, and
// prints the time, the throughput and the process's peak memory.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "archiver/Arkiva.h"
#include "bench/BenchSupport.h"
#include "container/DirManager.h"


int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_merge ARCHIVE DESTDIR\n");
        return 2;
    }
    try {
        const auto start = std::chrono::steady_clock::now();
        TArkiva ark;
        ark.SetFileName(argv[1]);
        ark.OpenArchive();
        int64_t bytes = 0;
        const TAKDirArray& list = ark.DirManager()->CurrentList;
        for (int32_t i = 0; i < list.GetCount(); ++i) bytes += ItemUncompressedSize(list.ItemAt(i));
        ark.SetBaseDir(argv[2]);
        ark.ExtractFiles("*.*", 10431, "");
        ark.CloseArchive();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("bench_merge: %lld bytes in %.3f s, %.1f MiB/s, peak memory %.1f MiB\n",
                    static_cast<long long>(bytes), seconds, bytes / 1048576.0 / seconds, PeakRssKiB() / 1024.0);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_merge: %s\n", e.what());
        return 1;
    }
}
