// The volume writer: fills the current volume up to its size limit and the
// free space of its drive, then closes it and asks for the next one.
#include <algorithm>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"

namespace {

constexpr int64_t CopyChunkSize = 1000000;

} // namespace

int64_t TAKBaseArchiver::WriteToVolumes(const void* Data, int64_t Count, TStream*& Stream, TAKVolumeNumberInfo& Info,
                                        int64_t KeepTogether, TMemoryStream* Buffer)
{
    if (Count <= 0 || !Stream) return 0;
    if (SingleStream()) return Stream->Write(Data, Count);
    const auto* bytes = static_cast<const uint8_t*>(Data);
    return PlaceInVolumes(Count, Stream, Info, KeepTogether, Buffer,
                          [bytes](TStream& target, int64_t offset, int64_t n, bool&) {
                              return target.Write(bytes + offset, n);
                          });
}

int64_t TAKBaseArchiver::TransferToVolumes(TStream& Source, int64_t Count, TStream*& Stream,
                                           TAKVolumeNumberInfo& Info)
{
    if (Count <= 0 || !Stream) return 0;
    int64_t moved = 0;
    if (SingleStream()) {
        moved = Stream->TransferFrom(Source, Count);
    } else {
        moved = PlaceInVolumes(Count, Stream, Info, -1, nullptr,
                               [&Source](TStream& target, int64_t, int64_t n, bool& ended) {
                                   const int64_t put = target.TransferFrom(Source, n);
                                   // Short because the source ended, or because the
                                   // volume took no more (then the next one follows).
                                   if (put < n && Source.Position() >= Source.Size()) ended = true;
                                   return put;
                               });
    }
    if (moved < Count && Source.Position() < Source.Size()) throw EAKException(46, this);
    return moved;
}

int64_t TAKBaseArchiver::PlaceInVolumes(int64_t Count, TStream*& Stream, TAKVolumeNumberInfo& Info,
                                        int64_t KeepTogether, TMemoryStream* Buffer, const TVolumePlacer& Place)
{
    int64_t written = 0;
    bool justChanged = false;
    bool ended = false;
    while (written < Count) {
        const int64_t held = Buffer ? Buffer->Size() : 0;
        int64_t free = GetDiskFreeBytes(volumeFileName_) - held;
        const int64_t limit = spanningOptions_->GetVolumeSize(Info);
        if (limit != -1) free = std::min(free, limit - Stream->Size() - held);
        if (free < 0) return written;

        int64_t placed = 0;
        if (KeepTogether == -1 || (Count - written) + KeepTogether <= free) {
            const int64_t n = std::min(free, Count - written);
            if (n > 0) {
                TStream* target = Buffer ? static_cast<TStream*>(Buffer) : Stream;
                placed = std::max<int64_t>(0, Place(*target, written, n, ended));
            }
            written += placed;
        }
        if (written >= Count || ended) break;
        // A volume that has just been started and still takes nothing cannot
        // be helped by starting yet another one.
        if (placed == 0 && justChanged) return written;

        if (Buffer && Buffer->Size() > 0) {
            Stream->Seek(0, SeekOrigin::End);
            Stream->WriteBuffer(Buffer->Memory(), Buffer->Size());
            Buffer->Clear();
        }
        // The disk is taken out after this: its bytes must be on it.
        if (spanningMode_ == smSpanning)
            if (auto* file = dynamic_cast<TFileStream*>(Stream)) file->Flush();
        Info.SetVolumeNumber(Info.VolumeNumber + 1);
        Stream = nullptr; // RequestVolume frees the volume stream first
        RequestVolume(Info);
        Stream = archiveStream_.get();
        if (!Stream) return written;
        justChanged = true;
    }
    return written;
}

void TAKBaseArchiver::WriteAllToVolumes(const void* Data, int64_t Count, TStream*& Stream, TAKVolumeNumberInfo& Info,
                                        int64_t KeepTogether, TMemoryStream* Buffer)
{
    if (WriteToVolumes(Data, Count, Stream, Info, KeepTogether, Buffer) < Count) throw EAKException(46, this);
}

void TAKBaseArchiver::CopyToVolumes(TStream& Source, TStream*& Stream, TAKVolumeNumberInfo& Info, bool& Cancel,
                                    int64_t Count, int64_t KeepTogether, TMemoryStream* Buffer, bool ReportProgress)
{
    int64_t amount = 0;
    int64_t chunk = CopyChunkSize;
    if (Count == -1) {
        amount = Source.Size() - Source.Position();
    } else {
        amount = Count;
        chunk = std::min(CopyChunkSize, Count);
    }
    std::vector<uint8_t> work(static_cast<size_t>(std::max<int64_t>(chunk, 1)));

    if (ReportProgress) {
        DoOnCopyTempFileProgress(0, ppStart, Cancel);
        if (Cancel) return;
    }
    int64_t placed = 0;
    while (placed < amount) {
        // Never more than asked for, even when the source goes on.
        const int64_t n = std::min(chunk, amount - placed);
        Source.ReadBuffer(work.data(), n);
        WriteAllToVolumes(work.data(), n, Stream, Info, KeepTogether, Buffer);
        placed += n;
        if (ReportProgress) {
            DoOnCopyTempFileProgress(static_cast<double>(placed) / static_cast<double>(amount) * 100.0, ppProcess,
                                     Cancel);
            if (Cancel) return;
        }
    }
    if (ReportProgress) DoOnCopyTempFileProgress(100, ppEnd, Cancel);
}
