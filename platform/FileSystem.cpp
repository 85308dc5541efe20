#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "platform/Paths.h"
#include "primitives/AKMasks.h"

namespace platform {

namespace {

// Attributes of the entry itself when it is a link whose target is missing.
bool StatEntry(const std::string& name, struct stat& st)
{
    if (::stat(name.c_str(), &st) == 0) return true;
    return ::lstat(name.c_str(), &st) == 0;
}

// The last component of a name, ignoring trailing "/".
std::string LastComponent(const std::string& name)
{
    size_t end = name.size();
    while (end > 1 && name[end - 1] == '/') --end;
    const std::string trimmed = name.substr(0, end);
    const size_t p = trimmed.rfind('/');
    return p == std::string::npos ? trimmed : trimmed.substr(p + 1);
}

// Enumeration keeps the system's own wildcard reading of a trailing ".*":
// it also stands for no extension at all, so "*.*" lists every name and
// "name.*" lists "name" too. Everything else is the add operation's mask rule.
class TEnumMask {
public:
    explicit TEnumMask(const std::string& mask) : all_(mask == "*.*"), mask_(mask)
    {
        if (mask.size() > 2 && mask.compare(mask.size() - 2, 2, ".*") == 0)
            bare_ = std::make_unique<TMask>(mask.substr(0, mask.size() - 2));
    }
    bool Matches(const std::string& name) const
    {
        return all_ || mask_.Matches(name) || (bare_ && bare_->Matches(name));
    }

private:
    bool all_;
    TMask mask_;
    std::unique_ptr<TMask> bare_;
};

bool IsHiddenName(const std::string& leaf)
{
    return !leaf.empty() && leaf[0] == '.' && leaf != "." && leaf != "..";
}

uint32_t AttrOf(const struct stat& st, const std::string& leaf)
{
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode)) a |= faDirectory;
    else if (S_ISREG(st.st_mode)) a |= faArchive;
    if ((st.st_mode & S_IWUSR) == 0) a |= faReadOnly;
    if (IsHiddenName(leaf)) a |= faHidden;
    return a;
}

constexpr int32_t kDosEpoch = (0 << 25) | (1 << 21) | (1 << 16); // 1980-01-01 00:00:00
constexpr int32_t kDosLast = static_cast<int32_t>((127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u);

timespec ToTimespec(int32_t dos)
{
    timespec ts {};
    ts.tv_sec = static_cast<time_t>(DosDateTimeToUnix(dos));
    ts.tv_nsec = 0;
    return ts;
}

} // namespace

bool FileExists(const std::string& name)
{
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
    // A link whose target is missing is still an entry of its folder.
    return ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool DirectoryExists(const std::string& name)
{
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& name)
{
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0;
}

int64_t FileGetAttr(const std::string& name)
{
    struct stat st {};
    if (name.empty() || !StatEntry(name, st)) return -1;
    return AttrOf(st, LastComponent(name));
}

bool FileSetAttr(const std::string& name, uint32_t attr)
{
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attr & faReadOnly) mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777)) return true;
    return ::chmod(name.c_str(), mode) == 0;
}

int32_t UnixToDosDateTime(int64_t unixTime)
{
    const time_t t = static_cast<time_t>(unixTime);
    struct tm lt {};
    if (::localtime_r(&t, &lt) == nullptr) return unixTime < 0 ? kDosEpoch : kDosLast;
    const int year = lt.tm_year + 1900;
    if (year < 1980) return kDosEpoch;
    if (year > 2107) return kDosLast;
    const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(lt.tm_mon + 1) << 5) |
                          static_cast<uint32_t>(lt.tm_mday);
    // A leap second (60) still fits the 5-bit field as 30.
    const uint32_t time = (static_cast<uint32_t>(lt.tm_hour) << 11) | (static_cast<uint32_t>(lt.tm_min) << 5) |
                          static_cast<uint32_t>(lt.tm_sec / 2);
    return static_cast<int32_t>((date << 16) | time);
}

int64_t DosDateTimeToUnix(int32_t dosDateTime)
{
    const auto v = static_cast<uint32_t>(dosDateTime);
    const uint32_t date = v >> 16, time = v & 0xFFFF;
    // Stamps from other tools may hold impossible fields; bring each into range
    // rather than letting mktime roll them into a neighbouring day or year.
    struct tm lt {};
    lt.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    lt.tm_mon = std::clamp(static_cast<int>((date >> 5) & 0x0F), 1, 12) - 1;
    lt.tm_mday = std::max(static_cast<int>(date & 0x1F), 1);
    lt.tm_hour = std::min(static_cast<int>((time >> 11) & 0x1F), 23);
    lt.tm_min = std::min(static_cast<int>((time >> 5) & 0x3F), 59);
    lt.tm_sec = std::min(static_cast<int>(time & 0x1F) * 2, 59);
    lt.tm_isdst = -1;
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = lt.tm_year + 1900;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int monthDays = lt.tm_mon == 1 && !leap ? 28 : kDays[lt.tm_mon];
    lt.tm_mday = std::min(lt.tm_mday, monthDays);
    return static_cast<int64_t>(::mktime(&lt));
}

int32_t NowDosDateTime()
{
    return UnixToDosDateTime(static_cast<int64_t>(::time(nullptr)));
}

int32_t FileAge(const std::string& name)
{
    struct stat st {};
    if (name.empty() || !StatEntry(name, st)) return -1;
    return UnixToDosDateTime(static_cast<int64_t>(st.st_mtim.tv_sec));
}

bool FileSetDate(const std::string& name, int32_t dosDateTime)
{
    // Only the modification time, as the stamp describes; access time stays.
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(dosDateTime);
    return ::utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

bool FileSetDateFd(int fd, int32_t dosDateTime)
{
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(dosDateTime);
    return ::futimens(fd, times) == 0;
}

bool DeleteFile(const std::string& name)
{
    return ::unlink(name.c_str()) == 0;
}

bool RemoveDir(const std::string& name)
{
    return ::rmdir(name.c_str()) == 0;
}

bool RenameFile(const std::string& oldName, const std::string& newName)
{
    return ::rename(oldName.c_str(), newName.c_str()) == 0;
}

bool CreateDir(const std::string& name)
{
    return ::mkdir(name.c_str(), 0777) == 0;
}

bool ForceDirectories(const std::string& name)
{
    if (name.empty()) return false;
    std::string dir = name;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (DirectoryExists(dir)) return true;
    const size_t p = dir.rfind('/');
    if (p != std::string::npos && p > 0) {
        if (!ForceDirectories(dir.substr(0, p))) return false;
    }
    if (::mkdir(dir.c_str(), 0777) == 0) return true;
    // Another process may have made it meanwhile.
    return errno == EEXIST && DirectoryExists(dir);
}

int64_t FileSize(const std::string& name)
{
    struct stat st {};
    if (name.empty() || !StatEntry(name, st)) return -1;
    if (S_ISDIR(st.st_mode)) return 0;
    return static_cast<int64_t>(st.st_size);
}

bool IsSymlink(const std::string& name)
{
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::vector<TSearchRec> FindFiles(const std::string& pattern, uint32_t attr)
{
    std::vector<TSearchRec> result;
    const std::string folder = ExtractFilePath(pattern);
    const std::string mask = ExtractFileName(pattern);
    if (mask.empty()) return result;
    const TEnumMask matcher(mask);

    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) return result;

    constexpr uint32_t kFiltered = faHidden | faSysFile | faVolumeID | faDirectory;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir.get());
        if (e == nullptr) break;
        const std::string name = e->d_name;
        if (!matcher.Matches(name)) continue;
        struct stat st {};
        if (!StatEntry(folder + name, st)) continue; // vanished meanwhile
        TSearchRec rec;
        rec.Name = name;
        rec.Attr = AttrOf(st, name);
        if ((rec.Attr & kFiltered & ~attr) != 0) continue;
        rec.Time = UnixToDosDateTime(static_cast<int64_t>(st.st_mtim.tv_sec));
        rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
        result.push_back(std::move(rec));
    }
    // The order of readdir depends on the file system; a sorted list makes
    // the archives built from it reproducible.
    std::sort(result.begin(), result.end(), [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; });
    return result;
}

bool FlushFile(int fd)
{
    return ::fsync(fd) == 0;
}

std::string ResolveLinks(const std::string& name)
{
    if (name.empty()) return std::string();
    char* real = ::realpath(name.c_str(), nullptr);
    if (real == nullptr) return std::string();
    std::string result = real;
    std::free(real);
    return result;
}

bool CreateNewFile(const std::string& name)
{
    int fd;
    do {
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

} // namespace platform
