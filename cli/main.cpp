// qvt: split, merge, list and test volume sets from a terminal or a script,
// driving the archiver exactly as the window does.
#include <cinttypes>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "archiver/Arkiva.h"
#include "cli/Progress.h"
#include "cli/TerminalDialogs.h"
#include "container/DirManager.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

constexpr const char* kProgramTitle = "QVT Zedidoru v.0.1.2";

enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitInterrupted = 130 };

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) {
    g_interrupted = 1;
}

void InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

struct UsageError {
    std::string message;
};

const char* const kUsage =
    "Usage: qvt COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  split FILE [-s SIZE] [-o ARCHIVE] [-l LEVEL] [-p PASSWORD] [-q]\n"
    "      Cut FILE into volumes of SIZE (MiB, or with a K, M or G suffix; at least 64K;\n"
    "      default 700M): ARCHIVE_001.qvt, ARCHIVE_002.qvt, ..., ARCHIVE.qvt. ARCHIVE\n"
    "      defaults to FILE with the extension \".qvt\". LEVEL 0-9 (0: stored, the default).\n"
    "  merge ARCHIVE [-d DIR] [-p PASSWORD] [-q]\n"
    "      Join the set of ARCHIVE back into DIR (default: the current folder).\n"
    "  list ARCHIVE\n"
    "      One line per item: size, packed size, method, date and time, CRC-32, name.\n"
    "  test ARCHIVE [-p PASSWORD]\n"
    "      Read and check every item (size and CRC-32) without writing anything.\n"
    "\n"
    "  -q          no progress line\n"
    "  --help      this text (also after a command)\n"
    "  --version   the program's and the archiver's version\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed, 2 wrong command line, 130 interrupted.\n";

// The window's archiver, remembering the item failures it was asked about.
class CliArchiver : public TArkiva {
public:
    int Failures = 0;
    std::string LastFailure;

    void DoOnProcessFileFailure(const std::string& FileName, TAKProcessOperation Operation, int32_t NativeError,
                                int32_t ErrorCode, const std::string& ErrorMessage, TAKAction& Action) override {
        ++Failures;
        LastFailure = ErrorMessage;
        TArkiva::DoOnProcessFileFailure(FileName, Operation, NativeError, ErrorCode, ErrorMessage, Action);
    }
};

// The settings the window stores with its archiver (with ZIP64 allowed).
void ApplyWindowSettings(CliArchiver& zip) {
    zip.SetName("");
    zip.SetExtractCorruptedFiles(false);
    zip.SetCompressionLevel(clNone);
    zip.SetCompressionMode(0);
    zip.SetSpanningMode(smSplitting);
    zip.SpanningOptions().SetAdvancedNaming(true);
    zip.SpanningOptions().SetVolumeSize(vsCustom);
    zip.Options().SetStorePath(spNoPath);
    zip.Options().SetFlushBuffers(true);
    zip.Options().SetOEMFileNames(true);
    zip.SetFileMasks({"qvt"});
    zip.SetInMemory(false);
    zip.SetZip64Mode(zmAuto);
}

struct Args {
    std::string command;
    std::vector<std::string> positional;
    std::optional<std::string> size, output, level, password, dir;
    bool quiet = false;
    bool help = false;
};

Args Parse(int argc, char** argv) {
    Args a;
    if (argc < 2) throw UsageError{"no command given"};
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string s = argv[i];
        auto value = [&](std::optional<std::string>& slot) {
            if (i + 1 >= argc) throw UsageError{"option " + s + " needs a value"};
            slot = argv[++i];
        };
        if (s == "--help" || s == "-h") a.help = true;
        else if (s == "-q" || s == "--quiet") a.quiet = true;
        else if (s == "-s" || s == "--size") value(a.size);
        else if (s == "-o" || s == "--output") value(a.output);
        else if (s == "-l" || s == "--level") value(a.level);
        else if (s == "-p" || s == "--password") value(a.password);
        else if (s == "-d" || s == "--dir") value(a.dir);
        else if (s.size() > 1 && s[0] == '-') throw UsageError{"unknown option " + s};
        else a.positional.push_back(s);
    }
    return a;
}

void Allow(const Args& a, const std::string& allowed) {
    auto check = [&](const std::optional<std::string>& v, char letter) {
        if (v && allowed.find(letter) == std::string::npos)
            throw UsageError{std::string("option -") + letter + " does not apply to " + a.command};
    };
    check(a.size, 's');
    check(a.output, 'o');
    check(a.level, 'l');
    check(a.password, 'p');
    check(a.dir, 'd');
    if (a.quiet && allowed.find('q') == std::string::npos) throw UsageError{"option -q does not apply to " + a.command};
}

std::string OnePositional(const Args& a, const char* what) {
    if (a.positional.size() != 1) throw UsageError{std::string(a.command) + " takes one " + what};
    return a.positional[0];
}

// "100" (MiB), "64K", "700M", "4G"; at least 64 KiB.
int64_t ParseSize(const std::string& text) {
    if (text.empty()) throw UsageError{"empty size"};
    size_t used = 0;
    unsigned long long n = 0;
    try {
        n = std::stoull(text, &used);
    } catch (...) {
        throw UsageError{"bad size " + text};
    }
    const std::string suffix = text.substr(used);
    unsigned long long unit = 1ull << 20;
    if (suffix == "K" || suffix == "k") unit = 1ull << 10;
    else if (suffix == "M" || suffix == "m" || suffix.empty()) unit = 1ull << 20;
    else if (suffix == "G" || suffix == "g") unit = 1ull << 30;
    else throw UsageError{"bad size " + text};
    if (text[0] == '-' || n > (static_cast<unsigned long long>(INT64_MAX) / unit)) throw UsageError{"bad size " + text};
    const int64_t bytes = static_cast<int64_t>(n * unit);
    if (bytes < 65536) throw UsageError{"size " + text + " is below 64K"};
    return bytes;
}

int ParseLevel(const std::string& text) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '9') throw UsageError{"level must be 0 to 9"};
    return text[0] - '0';
}

void HookProgress(CliArchiver& zip, ProgressLine& progress) {
    zip.OnOverallProgress = [&progress](TAKBaseArchiver*, double percent, TAKProcessOperation, TAKProgressPhase,
                                        bool& cancel) {
        progress.Update(percent);
        if (g_interrupted) cancel = true;
    };
}

// Removes the volumes an interrupted split left (the commit has rolled back).
void RemoveVolumeSet(CliArchiver& zip) {
    for (int32_t n = 0;; ++n) {
        std::string name = zip.FileName();
        zip.GetVolumeFileName(name, n, false);
        if (!platform::FileExists(name)) break;
        platform::DeleteFile(name);
    }
    platform::DeleteFile(zip.FileName());
}

int Split(const Args& a) {
    Allow(a, "solpq");
    const std::string file = platform::ExpandFileName(OnePositional(a, "FILE"));
    const int64_t volumeSize = a.size ? ParseSize(*a.size) : int64_t(700) << 20;
    const int level = a.level ? ParseLevel(*a.level) : 0;
    std::string archive = a.output ? platform::ExpandFileName(*a.output) : platform::ChangeFileExt(file, ".qvt");
    if (archive == file) throw UsageError{"the archive would replace " + file + "; name another one with -o"};
    if (!platform::FileExists(file)) throw EAKException(33, nullptr, {file});

    CliArchiver zip;
    ApplyWindowSettings(zip);
    zip.SetCompressionMode(level);
    if (a.password) zip.SetPassword(*a.password);
    ProgressLine progress(!a.quiet, "split", platform::FileSize(file));
    HookProgress(zip, progress);

    zip.SetFileName(archive);
    // Set before the first volume is requested so its free-space check sees
    // the size this split uses.
    zip.SpanningOptions().SetCustomVolumeSize(volumeSize);
    zip.OpenArchive(fmCreate);
    zip.SetBaseDir(platform::ExtractFilePath(file));
    try {
        zip.AddFiles(file, 10431, "");
    } catch (...) {
        progress.Finish(false);
        zip.CloseArchive();
        if (g_interrupted) {
            RemoveVolumeSet(zip);
            return ExitInterrupted;
        }
        throw;
    }
    if (g_interrupted || zip.Cancelled) {
        progress.Finish(false);
        zip.CloseArchive();
        RemoveVolumeSet(zip);
        return ExitInterrupted;
    }
    const bool stored = zip.DirManager() && zip.DirManager()->CurrentList.GetCount() == 1;
    zip.CloseArchive();
    progress.Finish(stored);
    if (!stored) {
        std::fprintf(stderr, "qvt: %s\n", zip.LastFailure.empty() ? ("nothing was stored from " + file).c_str()
                                                                  : zip.LastFailure.c_str());
        return ExitFailed;
    }
    return ExitOk;
}

int64_t TotalUncompressed(CliArchiver& zip) {
    int64_t total = 0;
    const TAKDirArray& list = zip.DirManager()->CurrentList;
    for (int32_t i = 0; i < list.GetCount(); ++i) total += ItemUncompressedSize(list.ItemAt(i));
    return total;
}

int Merge(const Args& a) {
    Allow(a, "dpq");
    const std::string archive = OnePositional(a, "ARCHIVE");
    const std::string dir = platform::IncludeTrailingPathDelimiter(platform::ExpandFileName(a.dir ? *a.dir : "."));

    CliArchiver zip;
    ApplyWindowSettings(zip);
    if (a.password) zip.SetPassword(*a.password);
    zip.SetFileName(archive);
    zip.OpenArchive(fmOpenRead | fmShareDenyNone);
    ProgressLine progress(!a.quiet, "merge", TotalUncompressed(zip));
    HookProgress(zip, progress);
    zip.SetBaseDir(dir);
    try {
        zip.ExtractFiles("*.*", 10431, "");
    } catch (...) {
        progress.Finish(false);
        if (g_interrupted) return ExitInterrupted;
        throw;
    }
    zip.CloseArchive();
    if (g_interrupted || zip.Cancelled) {
        progress.Finish(false);
        return ExitInterrupted;
    }
    progress.Finish(zip.Failures == 0);
    if (zip.Failures > 0) {
        std::fprintf(stderr, "qvt: %s\n", zip.LastFailure.c_str());
        return ExitFailed;
    }
    return ExitOk;
}

const char* MethodName(uint16_t method) {
    switch (method) {
    case 0: return "Stored";
    case 8: return "Deflate";
    case 9: return "Defl64";
    default: return "Other";
    }
}

int List(const Args& a) {
    Allow(a, "");
    CliArchiver zip;
    ApplyWindowSettings(zip);
    zip.SetFileName(OnePositional(a, "ARCHIVE"));
    zip.OpenArchive(fmOpenRead | fmShareDenyNone);
    std::printf("%12s %12s %-7s %-16s %-8s %s\n", "Size", "Packed", "Method", "Modified", "CRC-32", "Name");
    int64_t size = 0, packed = 0, count = 0;
    TAKArchiveItem rec;
    for (bool found = zip.FindFirst("*.*", rec, "", 10431); found; found = zip.FindNext(rec)) {
        const TDirItem& item = zip.DirManager()->CurrentList.ItemAt(rec.SearchRec.ItemIndex);
        const unsigned d = rec.LastModDate, t = rec.LastModTime;
        std::printf("%12" PRId64 " %12" PRId64 " %-7s %04u-%02u-%02u %02u:%02u %08" PRIx32 " %s\n", rec.UncompressedSize,
                    rec.CompressedSize, MethodName(item.Header.Method), 1980 + (d >> 9), (d >> 5) & 15, d & 31, t >> 11,
                    (t >> 5) & 63, rec.Crc32, item.StoredName.c_str());
        size += rec.UncompressedSize;
        packed += rec.CompressedSize;
        ++count;
    }
    std::printf("%12" PRId64 " %12" PRId64 " %" PRId64 " item%s\n", size, packed, count, count == 1 ? "" : "s");
    zip.CloseArchive();
    return ExitOk;
}

// Takes the item's bytes and forgets them: testing writes nothing.
class NullStream : public TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t count) override {
        pos_ += count;
        if (pos_ > size_) size_ = pos_;
        return count;
    }
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
        pos_ = origin == SeekOrigin::Begin ? offset : origin == SeekOrigin::Current ? pos_ + offset : size_ + offset;
        return pos_;
    }
    void SetSize(int64_t n) override { size_ = n; }

private:
    int64_t pos_ = 0, size_ = 0;
};

int Test(const Args& a) {
    Allow(a, "p");
    CliArchiver zip;
    ApplyWindowSettings(zip);
    if (a.password) zip.SetPassword(*a.password);
    zip.SetFileName(OnePositional(a, "ARCHIVE"));
    zip.OpenArchive(fmOpenRead | fmShareDenyNone);
    const int32_t count = zip.DirManager()->CurrentList.GetCount();
    int failed = 0;
    for (int32_t i = 0; i < count && !g_interrupted; ++i) {
        const std::string name = zip.DirManager()->CurrentList.ItemAt(i).StoredName;
        NullStream sink;
        try {
            zip.ExtractItemToStream(i, sink);
            if (zip.SkipCurrentFile) {
                ++failed;
                std::printf("SKIPPED %s: no password\n", name.c_str());
            } else {
                std::printf("OK      %s\n", name.c_str());
            }
        } catch (const EAKException& e) {
            ++failed;
            std::printf("FAILED  %s: %s\n", name.c_str(), e.what());
        }
    }
    zip.CloseArchive();
    if (g_interrupted) return ExitInterrupted;
    std::printf("%d item%s tested, %d failed\n", count, count == 1 ? "" : "s", failed);
    if (failed) {
        std::fprintf(stderr, "qvt: %d of %d items failed the test\n", failed, count);
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    SetDialogs(std::make_shared<TerminalDialogs>());
    InstallSignalHandlers();
    try {
        if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
            std::fputs(kUsage, stdout);
            return ExitOk;
        }
        if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
            TArkiva zip;
            std::printf("%s\narchiver %s\n", kProgramTitle, zip.CurrentVersion().c_str());
            return ExitOk;
        }
        const Args a = Parse(argc, argv);
        if (a.help) {
            std::fputs(kUsage, stdout);
            return ExitOk;
        }
        if (a.command == "split") return Split(a);
        if (a.command == "merge") return Merge(a);
        if (a.command == "list") return List(a);
        if (a.command == "test") return Test(a);
        throw UsageError{"unknown command " + a.command};
    } catch (const UsageError& e) {
        std::fprintf(stderr, "qvt: %s\nTry 'qvt --help'.\n", e.message.c_str());
        return ExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvt: %s\n", e.what());
        return g_interrupted ? ExitInterrupted : ExitFailed;
    }
}
