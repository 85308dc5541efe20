#include "tests/common/TestSupport.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

std::string TempBase()
{
    const char* t = std::getenv("TMPDIR");
    std::string base = (t && *t) ? t : "/tmp";
    if (base.back() != '/') base += '/';
    return base;
}

} // namespace

TempFolder::TempFolder() : TempFolder(TempBase()) {}

TempFolder::TempFolder(const std::string& base)
{
    std::string templ = base + (base.empty() || base.back() == '/' ? "" : "/") + "qvt-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("cannot create a temporary folder: " + std::string(std::strerror(errno)));
    path_ = std::string(buf.data()) + "/";
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    // Tests may leave read-only files or folders behind; give write back first.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::none, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    ec.clear();
    std::filesystem::remove_all(path_, ec);
}

TmpfsDrive::TmpfsDrive(int64_t bytes)
{
    if (geteuid() != 0) {
        refused_ = "mounting a tmpfs needs root";
        return;
    }
    const std::string options = "size=" + std::to_string(bytes);
    if (mount("tmpfs", folder_.Path().c_str(), "tmpfs", 0, options.c_str()) != 0)
        refused_ = "cannot mount a tmpfs here: " + std::string(std::strerror(errno));
}

TmpfsDrive::~TmpfsDrive()
{
    // Detached, so that a file a test still holds open cannot keep it.
    if (refused_.empty()) umount2(folder_.Path().c_str(), MNT_DETACH);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

int RunCommand(const std::string& cmd, std::string* output)
{
    std::string full = "( " + cmd + (output ? " ) 2>&1" : " ) >/dev/null 2>&1");
    FILE* p = popen(full.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (output) *output = std::move(out);
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string RandomBytes(size_t n, uint32_t seed)
{
    // xorshift32; a zero state would stay zero.
    uint32_t x = seed ? seed : 0x9E3779B9u;
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

std::string ShellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

bool HaveTool(const std::string& name)
{
    return RunCommand("command -v " + ShellQuote(name)) == 0;
}
