// qvt: split, merge, list and test volume sets from a terminal or a script,
// driving the archiver exactly as the window does.
#include <algorithm>
#include <cinttypes>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "app/WindowSettings.h"
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
    "  --          end of options: a name beginning with \"-\" follows\n"
    "  --help      this text (also after a command)\n"
    "  --version   the program's and the archiver's version\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed, 2 wrong command line, 130 interrupted.\n";

// The window's archiver, remembering the items it gave up: failures answered
// with Ignore (a retried item that then succeeds is no failure; an abort ends
// the operation with its own error) and encrypted items without a password.
class CliArchiver : public TArkiva {
public:
    int Failures = 0;
    std::string LastFailure;
    std::vector<std::string> Skipped;

    void DoOnProcessFileFailure(const std::string& FileName, TAKProcessOperation Operation, int32_t NativeError,
                                int32_t ErrorCode, const std::string& ErrorMessage, TAKAction& Action) override {
        TArkiva::DoOnProcessFileFailure(FileName, Operation, NativeError, ErrorCode, ErrorMessage, Action);
        if (Action == fxaIgnore) {
            ++Failures;
            LastFailure = ErrorMessage;
        }
    }
    void DoOnPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile) override {
        TArkiva::DoOnPassword(FileName, NewPassword, SkipFile);
        if (SkipFile) Skipped.push_back(FileName);
    }
};

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
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string s = argv[i];
        if (optionsEnd) {
            a.positional.push_back(s);
            continue;
        }
        auto value = [&](std::optional<std::string>& slot) {
            if (i + 1 >= argc) throw UsageError{"option " + s + " needs a value"};
            slot = argv[++i];
        };
        if (s == "--") optionsEnd = true; // a name that begins with "-" follows
        else if (s == "--help" || s == "-h") a.help = true;
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

// Two names of one file (hard links).
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The path with its links resolved as far as it exists.
std::string Canonical(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

int Split(const Args& a) {
    Allow(a, "solpq");
    const std::string file = platform::ExpandFileName(OnePositional(a, "FILE"));
    const int64_t volumeSize = a.size ? ParseSize(*a.size) : int64_t(700) << 20;
    const int level = a.level ? ParseLevel(*a.level) : 0;
    std::string archive = a.output ? platform::ExpandFileName(*a.output) : platform::ChangeFileExt(file, ".qvt");
    if (!platform::FileExists(file)) throw EAKException(33, nullptr, {file});

    CliArchiver zip;
    ApplyWindowSettings(zip);
    zip.SetFileName(archive);
    // Creating a volume truncates it: the file must not be one of them (the
    // archive itself or a numbered volume), under any spelling of its path.
    const std::string source = Canonical(file);
    const std::string set = platform::IncludeTrailingPathDelimiter(Canonical(platform::ExtractFilePath(archive))) +
                            platform::ExtractFileName(archive);
    // Volumes lie beside the archive: only there can the file be one.
    const bool beside = platform::ExtractFilePath(source) == platform::ExtractFilePath(set);
    const int64_t volumes = beside ? std::min<int64_t>(platform::FileSize(file) / volumeSize + 2, INT32_MAX) : 0;
    for (int64_t n = -1; n < volumes; ++n) {
        std::string name = set;
        zip.GetVolumeFileName(name, static_cast<int32_t>(n), false);
        if (name == source || (n == -1 && SameFile(name, source)))
            throw UsageError{"the archive would replace " + file + "; name another one with -o"};
    }
    zip.SetCompressionMode(level);
    if (a.password) zip.SetPassword(*a.password);
    ProgressLine progress(!a.quiet, "split", platform::FileSize(file));
    HookProgress(zip, progress);
    // The file's name is the add's mask: a name with "*" or "?" in it (legal
    // here) also matches its neighbours, which must not come along.
    zip.OnConfirmProcessFile = [&file](TAKBaseArchiver*, const std::string& name, TAKProcessOperation,
                                       bool& confirm) { confirm = name == file; };

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
        // An ignored failure leaves a set without the file: nothing of it stays.
        RemoveVolumeSet(zip);
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
    const bool done = zip.Failures == 0 && zip.Skipped.empty();
    progress.Finish(done);
    if (zip.Failures > 0) std::fprintf(stderr, "qvt: %s\n", zip.LastFailure.c_str());
    for (const std::string& name : zip.Skipped)
        std::fprintf(stderr, "qvt: \"%s\" was not extracted: no valid password\n", name.c_str());
    return done ? ExitOk : ExitFailed;
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
    // Ctrl-C stops inside a large item too, at its next block.
    zip.ProgressEnabled = true;
    zip.OnOverallProgress = [](TAKBaseArchiver*, double, TAKProcessOperation, TAKProgressPhase, bool& cancel) {
        if (g_interrupted) cancel = true;
    };
    const int32_t count = zip.DirManager()->CurrentList.GetCount();
    int failed = 0;
    // The failures' own messages go to standard error, one line each.
    std::vector<std::string> errors;
    for (int32_t i = 0; i < count && !g_interrupted; ++i) {
        const std::string name = zip.DirManager()->CurrentList.ItemAt(i).StoredName;
        NullStream sink;
        try {
            zip.Cancelled = false;
            zip.ExtractItemToStream(i, sink);
            if (g_interrupted) break;
            if (zip.SkipCurrentFile) {
                ++failed;
                std::printf("SKIPPED %s: no valid password\n", name.c_str());
                errors.push_back("\"" + name + "\" was not tested: no valid password");
            } else {
                std::printf("OK      %s\n", name.c_str());
            }
        } catch (const std::exception& e) {
            // A platform error (a truncated volume, for one) fails this item only.
            ++failed;
            std::printf("FAILED  %s: %s\n", name.c_str(), e.what());
            errors.push_back(e.what());
        }
    }
    zip.CloseArchive();
    if (g_interrupted) return ExitInterrupted;
    std::printf("%d item%s tested, %d failed\n", count, count == 1 ? "" : "s", failed);
    std::fflush(stdout);
    for (const std::string& e : errors) std::fprintf(stderr, "qvt: %s\n", e.c_str());
    return failed ? ExitFailed : ExitOk;
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
