// The store and deflate pipeline: one item's source, read in blocks, becomes
// the bytes that follow its local header (optionally encrypted), and the item
// receives its CRC-32, sizes and ZIP64 values.
#include <algorithm>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "archiver/AKExcept.h"
#include "archiver/Arkiva.h"
#include "container/ZipRecords.h"
#include "primitives/AKCrc.h"
#include "primitives/AKCrypt.h"

namespace {

[[noreturn]] void ThrowCompressionError() { throw ECompressionError("error"); }

// Working state of one CompressItem call.
class TCompressPipeline {
public:
    TCompressPipeline(TAKBaseArchiver& owner, TStream& source, TStream& destination, TDirItem& item)
        : owner_(owner), source_(source), destination_(destination), item_(item) {}
    ~TCompressPipeline() { EndZlib(); }
    TCompressPipeline(const TCompressPipeline&) = delete;
    TCompressPipeline& operator=(const TCompressPipeline&) = delete;

    bool Run();

private:
    void InitZlib();
    // Ends the zlib stream if it is open; returns deflateEnd's result.
    int EndZlib();
    void PrePassForCrc();
    void RaiseProgress(bool& cancelled);
    // Stores or deflates the n bytes in the input buffer; sets the block
    // output (blockData_, blockLength_).
    void CompressBlock(int64_t n);

    TAKBaseArchiver& owner_;
    TStream& source_;
    TStream& destination_;
    TDirItem& item_;

    TCentralHeaderImage header_{};
    int64_t sourceSize_ = 0;
    int64_t bytesRead_ = 0;
    int64_t bytesWritten_ = 0;
    uint32_t crc_ = 0xFFFFFFFFu;
    int64_t blockSize_ = 0;
    bool encrypted_ = false;
    bool deflating_ = false;
    TAKCryptKeys keys_{};

    std::vector<uint8_t> input_;
    // Deflate output: one buffer per item, large enough for any block, so a
    // block never waits inside zlib.
    std::vector<uint8_t> output_;
    uint8_t* blockData_ = nullptr;
    int64_t blockLength_ = 0;

    z_stream zs_{};
    bool zlibOpen_ = false;
};

void TCompressPipeline::InitZlib() {
    std::memset(&zs_, 0, sizeof zs_);
    if (deflateInit(&zs_, item_.ItemCompressionMode) < 0) ThrowCompressionError();
    zlibOpen_ = true;
}

int TCompressPipeline::EndZlib() {
    if (!zlibOpen_) return Z_OK;
    zlibOpen_ = false;
    return deflateEnd(&zs_);
}

void TCompressPipeline::PrePassForCrc() {
    // The encryption header carries the CRC, so it must be known before the
    // first data byte: one extra read of the source.
    while (bytesRead_ < sourceSize_) {
        const int64_t n = std::min(blockSize_, sourceSize_ - bytesRead_);
        if (source_.Read(input_.data(), n) != n) break;
        UpdateCRC(input_.data(), n, crc_);
        bytesRead_ += n;
    }
    source_.SetPosition(0);
    MakeEncryptionHeader(destination_, ~crc_, item_.ItemPassword, keys_);
    bytesWritten_ += 12;
    bytesRead_ = 0;
}

void TCompressPipeline::RaiseProgress(bool& cancelled) {
    owner_.FileProgressPosition = static_cast<long double>(bytesRead_);
    if (owner_.ProgressEnabled && !owner_.RaiseBlockProgress(item_.SourcePath, item_.PendingOperation))
        cancelled = true;
}

void TCompressPipeline::CompressBlock(int64_t n) {
    if (!deflating_) {
        // Stored: the block goes out from the input buffer as it is.
        blockData_ = input_.data();
        blockLength_ = n;
        return;
    }
    const bool last = n == sourceSize_ - bytesRead_;
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    zs_.next_in = input_.data();
    zs_.avail_in = static_cast<uInt>(n);
    const uLong before = zs_.total_out;
    size_t produced = 0;
    for (;;) {
        zs_.next_out = output_.data() + produced;
        zs_.avail_out = static_cast<uInt>(output_.size() - produced);
        const int r = deflate(&zs_, flush);
        if (r < 0 && r != Z_BUF_ERROR) {
            EndZlib();
            ThrowCompressionError();
        }
        produced = output_.size() - zs_.avail_out;
        const bool done = last ? r == Z_STREAM_END : zs_.avail_out != 0;
        if (done) break;
        if (r == Z_BUF_ERROR && zs_.avail_out != 0) {
            EndZlib();
            ThrowCompressionError();
        }
        // The bound is generous; should zlib still need room, grow.
        output_.resize(output_.size() * 2);
    }
    blockData_ = output_.data();
    blockLength_ = static_cast<int64_t>(zs_.total_out - before);
    if (bytesRead_ == 0) {
        // The archive holds raw deflate data: the zlib header is not written.
        blockData_ += 2;
        blockLength_ -= 2;
    }
}

bool TCompressPipeline::Run() {
    header_ = item_.Header;
    sourceSize_ = source_.Size();
    source_.SetPosition(0);
    blockSize_ = TAKBaseArchiver::GetBlockSize(item_.ItemCompressionMode);
    encrypted_ = !item_.ItemPassword.empty();
    // The writer makes only stored and deflated items.
    deflating_ = header_.Method == 8;
    if (!deflating_) header_.Method = 0;

    // A plain stored file is moved inside the kernel, and the second core
    // reads it once more for the CRC: no byte passes through this process.
    auto* file = dynamic_cast<TFileStream*>(&source_);
    const bool direct = !deflating_ && !encrypted_ && file != nullptr;

    if (!direct) input_.assign(static_cast<size_t>(std::min(blockSize_, sourceSize_)), 0);
    if (deflating_) {
        const int64_t bound = (blockSize_ + blockSize_ / 10 + 12 + 255) / 256 * 256;
        output_.assign(static_cast<size_t>(bound), 0);
        InitZlib();
    }

    if (encrypted_) PrePassForCrc();

    owner_.FileProgressTotal = static_cast<long double>(sourceSize_);
    bool cancelled = false;
    // The CRC of a plain block runs beside its deflating and writing; the
    // input buffer is not touched again before it is done.
    TParallelCRC crc;
    if (direct) {
        crc.BeginRange(file->PositionalReader(), 0, sourceSize_, crc_);
    }
    while (bytesRead_ < sourceSize_) {
        if (!direct) crc.End();
        RaiseProgress(cancelled);
        if (cancelled) break;
        const int64_t n = std::min(blockSize_, sourceSize_ - bytesRead_);
        try {
            if (direct) {
                // Short when the source shrank (or a write failed): as a short read.
                if (destination_.TransferFrom(source_, n) != n) break;
                bytesRead_ += n;
                bytesWritten_ += n;
                continue;
            }
            if (source_.Read(input_.data(), n) != n) break;
            if (!encrypted_) crc.Begin(input_.data(), n, crc_);
            CompressBlock(n);
            if (encrypted_) EncryptBuffer(blockLength_, 0, blockData_, keys_);
            bytesRead_ += n;
            // The Adler-32 trailer of the zlib format is not written either.
            if (deflating_ && bytesRead_ == sourceSize_) blockLength_ -= 4;
            if (destination_.Write(blockData_, blockLength_) != blockLength_) {
                bytesRead_ -= n;
                break;
            }
            bytesWritten_ += blockLength_;
        } catch (const EAKException&) {
            throw; // the destination's own archive errors (a volume refused or full)
        } catch (const EZlibError&) {
            throw;
        } catch (const std::exception&) {
            // Anything else (no memory, a stream fault) is judged like a short read.
            break;
        }
    }
    if (direct && bytesRead_ != sourceSize_) {
        crc.Stop();
    } else {
        const int64_t covered = crc.End();
        // The CRC's own read came up short: the source shrank meanwhile.
        if (direct && covered != sourceSize_) bytesRead_ = covered;
    }

    if (deflating_) {
        if (owner_.Cancelled)
            EndZlib();
        else if (EndZlib() < 0)
            ThrowCompressionError();
    }
    input_ = {};
    output_ = {};

    if (bytesRead_ != sourceSize_) {
        if (owner_.Cancelled) return false;
        throw EAKException(34, &owner_, {sourceSize_, bytesRead_});
    }

    const bool always = owner_.Zip64Mode() == zmAlways;
    header_.CompressedSize = Field32(bytesWritten_, always);
    if (header_.CompressedSize == Zip64Marker32) {
        item_.Zip64 = true;
        item_.CompressedSize64 = bytesWritten_;
    }
    header_.UncompressedSize = Field32(sourceSize_, always);
    if (header_.UncompressedSize == Zip64Marker32) {
        item_.Zip64 = true;
        item_.UncompressedSize64 = sourceSize_;
    }
    header_.Crc32 = ~crc_;
    if (item_.Zip64 && owner_.Zip64Mode() == zmDisabled) throw EAKException(41, &owner_, {item_.SourcePath});
    // An empty source is always stored.
    if (sourceSize_ == 0) header_.Method = 0;
    item_.Header = header_;
    return true;
}

} // namespace

int32_t TAKBaseArchiver::GetBlockSize(int Mode) {
    switch (Mode) {
    case 1: case 2: case 3: return 0x80000;
    case 7: case 8: case 9: return 0x180000;
    default: return 0x100000;
    }
}

bool TAKBaseArchiver::CompressItem(TStream& Source, TStream& Destination, TDirItem& Item) {
    TCompressPipeline pipeline(*this, Source, Destination, Item);
    return pipeline.Run();
}
