#include "platform/Streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

// ---------------------------------------------------------------- TStream

int64_t TStream::Size()
{
    const int64_t pos = Seek(0, SeekOrigin::Current);
    const int64_t size = Seek(0, SeekOrigin::End);
    Seek(pos, SeekOrigin::Begin);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count <= 0) return;
    if (Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count)
{
    if (count <= 0) return;
    if (Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    if (count <= 0) return 0;
    // A source that is too short is refused before anything is written.
    if (source.Size() - source.Position() < count) throw EReadError("Stream read error");
    // Between files the bytes stay inside the kernel.
    if (TransferFrom(source, count) == count) return count;
    if (source.Position() >= source.Size()) throw EReadError("Stream read error");
    throw EWriteError("Stream write error");
}

int64_t TStream::TransferFrom(TStream& source, int64_t count)
{
    if (count <= 0) return 0;
    constexpr int64_t kBufferSize = 256 * 1024;
    std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(std::min(count, kBufferSize))]);
    int64_t moved = 0;
    while (moved < count) {
        const int64_t want = std::min(count - moved, kBufferSize);
        const int64_t got = source.Read(buf.get(), want);
        if (got <= 0) break;
        const int64_t put = Write(buf.get(), got);
        if (put > 0) moved += put;
        if (put != got) {
            // What was read but not written is given back to the source.
            source.Seek(put - got, SeekOrigin::Current);
            break;
        }
        if (got < want) break;
    }
    return moved;
}

// ------------------------------------------------------------ TFileStream

namespace {

// One read(2)/write(2) call never asks for more than this, so the count
// always fits ssize_t and a huge request cannot wrap.
constexpr int64_t kMaxTransfer = 1 << 30;

// Repeats a system read or write, call(done, n) moving n bytes at offset
// done of the transfer, until count bytes are done, the call reports the end
// (0) or an error other than an interruption (a full disk, an I/O error):
// the caller sees the short count.
template <typename Call>
int64_t Repeat(int64_t count, Call call)
{
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = call(done, static_cast<size_t>(std::min(count - done, kMaxTransfer)));
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

[[noreturn]] void ThrowOpenFailure(bool creating, const std::string& name, const std::string& reason)
{
    if (creating) throw EFCreateError("Cannot create file " + Quoted(name) + ". " + reason);
    throw EFOpenError("Cannot open file " + Quoted(name) + ". " + reason);
}

// The reason given when another open of the file denies this one.
const char* const kSharingViolation =
    "The process cannot access the file because it is being used by another process.";

} // namespace

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : fileName_(fileName)
{
    const bool creating = mode == fmCreate;
    int flags = O_CLOEXEC | O_NOCTTY;
    // Which advisory lock the open holds: writers that deny nothing share one
    // (LOCK_SH) so that an open that denies writing (LOCK_EX) fails while any
    // writer has the file, and is itself refused to later writers. Readers
    // that deny nothing hold none and are never refused.
    int lock = 0;
    if (creating) {
        // Created files are written by exactly one opener: a second create of
        // the same file must not truncate it under the first.
        flags |= O_RDWR | O_CREAT;
        lock = LOCK_EX;
    } else {
        const int access = mode & 3;
        const int share = mode & 0xF0;
        switch (access) {
        case 0: flags |= O_RDONLY; break;
        case 1: flags |= O_WRONLY; break;
        case 2: flags |= O_RDWR; break;
        default: ThrowOpenFailure(false, fileName, std::strerror(EINVAL));
        }
        if (share == fmShareExclusive || share == fmShareDenyWrite) lock = LOCK_EX;
        else if (access != 0) lock = LOCK_SH;
    }
    // O_NONBLOCK keeps an open of a FIFO without a writer from hanging; it is
    // cleared again once the file is open.
    int fd;
    do {
        fd = ::open(fileName.c_str(), flags | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowOpenFailure(creating, fileName, std::strerror(errno));

    auto fail = [&](const std::string& reason) {
        ::close(fd);
        ThrowOpenFailure(creating, fileName, reason);
    };

    struct stat st {};
    if (::fstat(fd, &st) != 0) fail(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) fail(std::strerror(EISDIR));
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl == -1 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == -1) fail(std::strerror(errno));

    if (lock != 0) {
        int rc;
        do {
            rc = ::flock(fd, lock | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) fail(errno == EWOULDBLOCK ? kSharingViolation : std::strerror(errno));
    }
    // Truncate only once the lock is held, never a file another opener owns.
    if (creating && S_ISREG(st.st_mode) && st.st_size != 0) {
        int rc;
        do {
            rc = ::ftruncate(fd, 0);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) fail(std::strerror(errno));
    }
    fd_ = fd;
}

TFileStream::~TFileStream()
{
    // Closing also releases the advisory lock.
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    return Repeat(count, [&](int64_t done, size_t n) { return ::read(fd_, p + done, n); });
}

int64_t TFileStream::Write(const void* buffer, int64_t count)
{
    const auto* p = static_cast<const uint8_t*>(buffer);
    return Repeat(count, [&](int64_t done, size_t n) { return ::write(fd_, p + done, n); });
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin)
{
    const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (r < 0)
        throw EInOutError("Cannot seek in file " + Quoted(fileName_) + ". " + std::strerror(errno));
    return static_cast<int64_t>(r);
}

int64_t TFileStream::Size()
{
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return static_cast<int64_t>(st.st_size);
    return TStream::Size();
}

void TFileStream::SetSize(int64_t newSize)
{
    if (newSize < 0)
        throw EInOutError("Cannot change the size of file " + Quoted(fileName_) + ". " + std::strerror(EINVAL));
    const int64_t pos = Position();
    int rc;
    do {
        rc = ::ftruncate(fd_, static_cast<off_t>(newSize));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        throw EInOutError("Cannot change the size of file " + Quoted(fileName_) + ". " + std::strerror(errno));
    if (pos > newSize) Seek(newSize, SeekOrigin::Begin);
}

namespace {

// The pipe that file-to-file transfers of this thread splice through. At
// 1 MiB it carries whole runs of page-cache pages per call whatever the
// alignment of the two offsets, which a ZIP item's data never has: there
// the kernel's own file copy is markedly slower than this.
class TSplicePipe {
public:
    ~TSplicePipe() { Close(); }
    bool Open() {
        if (readEnd_ >= 0) return true;
        if (refused_) return false;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            refused_ = true;
            return false;
        }
        readEnd_ = fds[0];
        writeEnd_ = fds[1];
        // Best effort: a system that keeps pipes smaller still works, in
        // smaller steps.
        const int size = ::fcntl(writeEnd_, F_SETPIPE_SZ, 1 << 20);
        capacity_ = size > 0 ? size : 65536;
        return true;
    }
    void Close() {
        if (readEnd_ >= 0) ::close(readEnd_);
        if (writeEnd_ >= 0) ::close(writeEnd_);
        readEnd_ = writeEnd_ = -1;
    }
    // Throws away n bytes left in the pipe by a write that failed; a pipe
    // that cannot be emptied is replaced.
    void Discard(int64_t n) {
        char scratch[65536];
        while (n > 0) {
            const ssize_t got = ::read(readEnd_, scratch, static_cast<size_t>(std::min<int64_t>(n, sizeof scratch)));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                Close();
                return;
            }
            n -= got;
        }
    }
    int ReadEnd() const { return readEnd_; }
    int WriteEnd() const { return writeEnd_; }
    int64_t Capacity() const { return capacity_; }

private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    int64_t capacity_ = 0;
    bool refused_ = false;
};

thread_local TSplicePipe tSplicePipe;

} // namespace

int64_t TFileStream::TransferFrom(TStream& source, int64_t count)
{
    auto* file = dynamic_cast<TFileStream*>(&source);
    TSplicePipe& pipe = tSplicePipe;
    int64_t moved = 0;
    while (file && moved < count && pipe.Open()) {
        const ssize_t in = ::splice(file->fd_, nullptr, pipe.WriteEnd(), nullptr,
                                    static_cast<size_t>(std::min(count - moved, pipe.Capacity())), SPLICE_F_MOVE);
        if (in == 0) return moved; // the source has ended
        if (in < 0) {
            if (errno == EINTR) continue;
            break; // a file that cannot be spliced: the usual road takes over
        }
        int64_t out = 0;
        while (out < in) {
            const ssize_t n = ::splice(pipe.ReadEnd(), nullptr, fd_, nullptr, static_cast<size_t>(in - out),
                                       SPLICE_F_MOVE);
            if (n > 0)
                out += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        moved += out;
        if (out < in) {
            // What did not go out goes back to the source; the usual road
            // then tries again and meets any real fault (a full disk) itself.
            pipe.Discard(in - out);
            file->Seek(out - in, SeekOrigin::Current);
            break;
        }
    }
    return moved + TStream::TransferFrom(source, count - moved);
}

std::function<int64_t(void*, int64_t, int64_t)> TFileStream::PositionalReader() const
{
    return [handle = fd_](void* buffer, int64_t count, int64_t offset) {
        auto* p = static_cast<uint8_t*>(buffer);
        return Repeat(count, [&](int64_t done, size_t n) {
            return ::pread(handle, p + done, n, static_cast<off_t>(offset + done));
        });
    };
}

bool TFileStream::Flush()
{
    return ::fsync(fd_) == 0;
}

// ---------------------------------------------------------- TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    const int64_t size = Size();
    if (count <= 0 || pos_ >= size) return 0;
    const int64_t n = std::min(count, size - pos_);
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0) return 0;
    int64_t end;
    if (__builtin_add_overflow(pos_, count, &end)) return 0;
    try {
        if (end > Size()) {
            if (static_cast<uint64_t>(end) > data_.max_size()) return 0;
            data_.resize(static_cast<size_t>(end));
        }
    } catch (const std::bad_alloc&) {
        return 0; // out of memory is a short write, as a full disk is
    } catch (const std::length_error&) {
        return 0;
    }
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin)
{
    const int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? pos_ : Size();
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        throw EInOutError("Invalid stream position");
    // A position beyond the end is allowed; the next write fills the gap with zeros.
    pos_ = target;
    return pos_;
}

void TMemoryStream::SetSize(int64_t newSize)
{
    if (newSize < 0 || static_cast<uint64_t>(newSize) > data_.max_size())
        throw EInOutError("Invalid stream size");
    try {
        data_.resize(static_cast<size_t>(newSize));
    } catch (const std::bad_alloc&) {
        throw EInOutError("Out of memory");
    }
    if (pos_ > newSize) pos_ = newSize;
}

void TMemoryStream::LoadFromStream(TStream& source)
{
    source.SetPosition(0);
    const int64_t n = source.Size();
    SetSize(n);
    pos_ = 0;
    source.ReadBuffer(data_.data(), n);
}

void TMemoryStream::SaveToStream(TStream& dest)
{
    dest.WriteBuffer(data_.data(), Size());
}
