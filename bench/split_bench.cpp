// bench_split FILE ARCHIVE VOLUME_MIB [MODE]: the window's split, at library
// level. Creates ARCHIVE as a split set of VOLUME_MIB MiB volumes holding
// FILE stored (or deflated at MODE 1..9; VOLUME_MIB 0 writes one file),
// closes, and prints the time, the throughput and the process's peak memory.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "archiver/Arkiva.h"
#include "bench/BenchSupport.h"
#include "platform/FileSystem.h"


int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: bench_split FILE ARCHIVE VOLUME_MIB [MODE]\n");
        return 2;
    }
    try {
        const long volumeMiB = std::strtol(argv[3], nullptr, 10);
        const int mode = argc == 5 ? std::atoi(argv[4]) : 0;
        const auto start = std::chrono::steady_clock::now();
        TArkiva ark;
        ark.SetFileName(argv[2]);
        if (volumeMiB > 0) {
            ark.SetSpanningMode(smSplitting);
            ark.SpanningOptions().SetAdvancedNaming(true);
            ark.SpanningOptions().SetVolumeSize(vsCustom);
            ark.SpanningOptions().SetCustomVolumeSize(static_cast<int64_t>(volumeMiB) * 1048576);
        }
        ark.Options().SetStorePath(spNoPath);
        ark.SetCompressionMode(mode);
        ark.SetZip64Mode(zmAuto);
        ark.OpenArchive(fmCreate);
        ark.AddFiles(argv[1], 10431, "");
        ark.CloseArchive();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int64_t bytes = platform::FileSize(argv[1]);
        std::printf("bench_split: %lld bytes in %.3f s, %.1f MiB/s, peak memory %.1f MiB\n",
                    static_cast<long long>(bytes), seconds, bytes / 1048576.0 / seconds, PeakRssKiB() / 1024.0);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_split: %s\n", e.what());
        return 1;
    }
}
