#include "platform/System.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "platform/Paths.h"

// The locale functions declared in System.h live in Locale.cpp.

namespace platform {

namespace {

// IBM PC code page 437, bytes 0x80..0xFF; 0x00..0x7F are ASCII. Kept here
// rather than asked of iconv so that conversion needs no locale data.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// The code page 437 byte of a code point; 0 when it has none (code point 0
// itself is ASCII and handled before).
unsigned char OemByte(char32_t cp)
{
    if (cp < 0x80) return static_cast<unsigned char>(cp);
    for (int i = 0; i < 128; ++i)
        if (kCp437High[i] == cp) return static_cast<unsigned char>(0x80 + i);
    return 0;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// Returns the sequence length, or 0 for an invalid byte at s[i].
int DecodeStrict(const std::string& s, size_t i, char32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    int len;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    else return 0;
    if (i + static_cast<size_t>(len) > s.size()) return 0;
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The path itself when it exists, else its nearest existing parent folder.
bool StatNearest(const std::string& path, struct stat& st, std::string* found = nullptr)
{
    std::string p = ExpandFileName(path.empty() ? "." : path);
    for (;;) {
        if (::stat(p.c_str(), &st) == 0) {
            if (found) *found = p;
            return true;
        }
        if (p == "/") return false;
        // Up one folder: cut at the last "/" before any trailing one.
        const size_t end = p.size() > 1 && p.back() == '/' ? p.size() - 1 : p.size();
        const size_t slash = p.rfind('/', end - 1);
        p.resize(slash == std::string::npos || slash == 0 ? 1 : slash);
        if (p.empty() || p[0] != '/') p.assign(1, '/');
    }
}

std::string ReadFirstLine(const std::string& file)
{
    std::ifstream f(file);
    std::string line;
    if (f) std::getline(f, line);
    return line;
}

} // namespace

std::string SystemTempDir()
{
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t != nullptr && *t != '\0') ? t : "/tmp";
    return IncludeTrailingPathDelimiter(dir);
}

std::string MakeUniqueTempFile(const std::string& dir, const std::string& prefix)
{
    std::string templ = IncludeTrailingPathDelimiter(dir.empty() ? SystemTempDir() : dir) + prefix + "XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) return std::string();
    ::close(fd);
    return std::string(buf.data());
}

bool IsRemovableMedia(const std::string& path)
{
    struct stat st {};
    if (!StatNearest(path, st)) return false;
    const unsigned maj = major(st.st_dev), min = minor(st.st_dev);
    // Anonymous devices (tmpfs, overlay, network file systems) have no block device.
    if (maj == 0) return false;
    const std::string link = "/sys/dev/block/" + std::to_string(maj) + ":" + std::to_string(min);
    char* real = ::realpath(link.c_str(), nullptr);
    if (real == nullptr) return false;
    std::string dev = real;
    std::free(real);
    // A partition's own folder lies inside the folder of its whole disk,
    // which carries the "removable" flag.
    struct stat pst {};
    if (::stat((dev + "/partition").c_str(), &pst) == 0) dev = ExtractFileDir(dev);
    return ReadFirstLine(dev + "/removable") == "1";
}

int64_t DiskFreeBytes(const std::string& path)
{
    struct stat st {};
    std::string found;
    if (!StatNearest(path, st, &found)) return -1;
    struct statvfs vfs {};
    if (::statvfs(found.c_str(), &vfs) != 0) return -1;
    const unsigned long unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    const unsigned __int128 bytes = static_cast<unsigned __int128>(vfs.f_bavail) * unit;
    if (bytes > static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max()))
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(bytes);
}

bool SetVolumeLabel(const std::string& path, const std::string& label)
{
    // The label names the whole file system: only a removable medium, which
    // the archive has to itself, gets one; a fixed drive belongs to the machine.
    if (label.empty() || label.size() >= FSLABEL_MAX || !IsRemovableMedia(path)) return false;
    struct stat st {};
    std::string found;
    if (!StatNearest(path, st, &found)) return false;
    // The kernel's file-system driver relabels the mounted medium itself; its
    // boot sector is never written behind the driver's back. Drivers without
    // the call, and callers without the right, refuse: the label stays.
    const int fd = ::open(found.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    char text[FSLABEL_MAX] = {};
    std::memcpy(text, label.data(), label.size());
    const bool done = ::ioctl(fd, FS_IOC_SETFSLABEL, text) == 0;
    ::close(fd);
    return done;
}

std::string AnsiToOem(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        const int len = DecodeStrict(s, i, cp);
        if (len == 0) {
            out += '?';
            ++i;
            continue;
        }
        const unsigned char b = OemByte(cp);
        out += (b != 0 || cp == 0) ? static_cast<char>(b) : '?';
        i += static_cast<size_t>(len);
    }
    return out;
}

std::string OemToAnsi(const std::string& s)
{
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) out += c;
        else AppendUtf8(out, kCp437High[b - 0x80]);
    }
    return out;
}

bool ConvertsToOemLosslessly(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        const int len = DecodeStrict(s, i, cp);
        if (len == 0) return false;
        if (cp >= 0x80 && OemByte(cp) == 0) return false;
        i += static_cast<size_t>(len);
    }
    return true;
}

bool IsAscii(const std::string& s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool IsValidUtf8(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        const int len = DecodeStrict(s, i, cp);
        if (len == 0) return false;
        i += static_cast<size_t>(len);
    }
    return true;
}

uint64_t AvailablePhysicalMemory()
{
    std::ifstream f("/proc/meminfo");
    std::string line;
    while (f && std::getline(f, line)) {
        if (line.rfind("MemAvailable:", 0) == 0) {
            std::istringstream is(line.substr(13));
            uint64_t kb = 0;
            if (is >> kb) return kb * 1024;
        }
    }
    struct sysinfo si {};
    if (::sysinfo(&si) == 0) return static_cast<uint64_t>(si.freeram) * si.mem_unit;
    return 0;
}

std::recursive_mutex& ProcessLock()
{
    static std::recursive_mutex lock;
    return lock;
}

} // namespace platform
