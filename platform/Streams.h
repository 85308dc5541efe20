#pragma once
// Streams with 64-bit positions and a settable size.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Exception.h"

// Open-mode values: access in the low two bits, sharing in the next four.
constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

enum class SeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
    virtual int64_t Size();
    // Truncates or extends; the position is kept unless it lies beyond the new end.
    virtual void SetSize(int64_t newSize) = 0;

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::Begin); }
    // Exactly count bytes or EReadError / EWriteError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source's position (through TransferFrom); count
    // 0 copies the whole source from its start. Returns the bytes copied; a
    // short source -> EReadError, a failed write -> EWriteError.
    int64_t CopyFrom(TStream& source, int64_t count);
    // Moves up to count bytes from source's position to this stream's
    // position, advancing both; returns the bytes moved, fewer when the
    // source ends or a write fails (as Read and Write report it).
    virtual int64_t TransferFrom(TStream& source, int64_t count);
};

class TFileStream : public TStream {
public:
    // mode: fmCreate, or access | share. A share mode that denies writing
    // (exclusive, deny write) holds an advisory lock so a second writer fails.
    // Throws EFCreateError (fmCreate) or EFOpenError.
    TFileStream(const std::string& fileName, uint16_t mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;
    // Between two files the bytes are spliced inside the kernel, never
    // passing through this process; where the kernel cannot, they are read
    // and written as usual.
    int64_t TransferFrom(TStream& source, int64_t count) override;
    // A reader of this file at any offset, reader(buffer, count, offset),
    // that leaves the position alone; it may run on another thread beside
    // the stream's other calls. It holds the handle, not the stream, so that
    // a stream closed meanwhile gives a failed read, not a dangling object.
    std::function<int64_t(void* buffer, int64_t count, int64_t offset)> PositionalReader() const;

    const std::string& FileName() const { return fileName_; }
    int Handle() const { return fd_; }
    // fsync; returns false when the OS refused.
    bool Flush();

private:
    std::string fileName_;
    int fd_ = -1;
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t newSize) override;

    void Clear() { data_.clear(); pos_ = 0; }
    uint8_t* Memory() { return data_.data(); }
    const uint8_t* Memory() const { return data_.data(); }
    // Replaces the content with the whole of source (from its start).
    void LoadFromStream(TStream& source);
    void SaveToStream(TStream& dest);

private:
    std::vector<uint8_t> data_;
    int64_t pos_ = 0;
};
