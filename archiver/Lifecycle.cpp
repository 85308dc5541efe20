// Construction, properties with setter rules, opening, closing and the
// update bracket of the archiver.
#include <charconv>

#include "archiver/AKConst.h"
#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/System.h"

namespace {

// The name part of a file name: what follows the last separator.
std::string NamePart(const std::string& name) {
    return platform::ExtractFileName(name);
}

} // namespace

TAKBaseArchiver::TAKBaseArchiver(TComponent* owner) : TComponent(owner) {
    options_ = std::make_unique<TAKOptions>();
    SetCompressionLevel(clFastest);
    active_ = false;
    extractCorruptedFiles_ = false;
    spanningMode_ = smNone;
    spanningOptions_ = std::make_unique<TAKSpanningOptions>();
    zip64Mode_ = zmAuto;
    volumeInfo_.Reset();
}

TAKBaseArchiver::~TAKBaseArchiver() {
    CloseArchive();
}

TArkiva::TArkiva(TComponent* owner) : TAKBaseArchiver(owner) {
    // Standard signatures are the only ones this archiver writes.
    zip64Mode_ = zmDisabled;
    // The base constructor ran the base version; take ours now.
    UpdateCompressionMethod();
}

TArkiva::~TArkiva() = default;

void TAKBaseArchiver::UpdateCompressionMethod() {
    compressionMethod_ = compressionMode_ != 0 ? 8 : 0;
}

void TArkiva::UpdateCompressionMethod() {
    compressionMethod_ = compressionMode_ != 0 ? 8 : 0;
}

void TAKBaseArchiver::SetCompressionLevel(TAKCompressionLevel v) {
    static const uint8_t modes[] = {0, 1, 6, 9};
    compressionLevel_ = v;
    compressionMode_ = modes[v <= clMax ? v : clFastest];
    UpdateCompressionMethod();
}

void TAKBaseArchiver::SetCompressionMode(int v) {
    if (v < 0 || v > 9) throw EAKException(5, this);
    compressionMode_ = static_cast<uint8_t>(v);
    if (v == 0) compressionLevel_ = clNone;
    else if (v <= 3) compressionLevel_ = clFastest;
    else if (v <= 6) compressionLevel_ = clNormal;
    else compressionLevel_ = clMax;
    UpdateCompressionMethod();
}

std::string TAKBaseArchiver::CurrentVersion() const {
    // Formatted without the locale: the decimal separator is always a full stop.
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, 2.7, std::chars_format::fixed, 2);
    return std::string(buf, res.ptr) + " ";
}

void TAKBaseArchiver::SetSpanningMode(TAKSpanningMode v) {
    if (active_) throw Exception(SCannotSetSpanningMode);
    spanningMode_ = v;
}

void TAKBaseArchiver::SetInMemory(bool v) {
    if (v == inMemory_) return;
    if (active_) {
        if (inMemory_) {
            if (fileName_.empty()) throw EAKException(29, this);
            {
                TFileStream out(fileName_, fmCreate);
                archiveStream_->SetPosition(0);
                out.CopyFrom(*archiveStream_, archiveStream_->Size());
            }
            CloseArchive();
            inMemory_ = false;
        } else {
            CloseArchive();
            inMemory_ = true;
        }
        OpenArchive();
    }
    inMemory_ = v;
}

void TAKBaseArchiver::OpenArchive() {
    if (!inMemory_ && NamePart(fileName_).empty()) throw EAKException(9, this);
    uint16_t mode;
    if (inMemory_ || !platform::FileExists(fileName_)) {
        mode = fmCreate;
    } else {
        try {
            TFileStream probe(fileName_, fmOpenReadWrite | fmShareDenyWrite);
            mode = fmOpenReadWrite | fmShareDenyWrite;
        } catch (const Exception&) {
            mode = fmOpenRead | fmShareDenyNone;
        }
    }
    OpenArchive(mode);
}

void TAKBaseArchiver::OpenArchive(uint16_t mode) {
    if (!inMemory_ && NamePart(fileName_).empty()) throw EAKException(10, this);
    if (mode != fmCreate && !platform::FileExists(fileName_) && spanningMode_ != smSpanning &&
        !IsRemovableDrive(fileName_))
        throw EAKException(12, this, {fileName_});
    if (mode != fmCreate && inMemory_) throw EAKException(28, this, {fileName_});

    CloseArchive();
    openMode_ = mode;
    if (mode == fmCreate || inMemory_) {
        if (inMemory_) {
            archiveStream_ = std::make_unique<TMemoryStream>();
        } else {
            TAKVolumeNumberInfo first;
            first.SetFirst(true);
            RequestVolume(first);
        }
        dirManager_ = std::make_unique<TAKDirManager>(archiveStream_.get(), this, true);
    } else {
        spanningMode_ = smNone;
        volumeInfo_.Reset();
        if (HasExeExtension(fileName_))
            OpenStubArchive();
        else
            OpenLastVolume();
        dirManager_->ReadDirectory();
    }
    active_ = true;
    if (AfterOpen) AfterOpen(this);
}

void TAKBaseArchiver::CloseArchive() noexcept {
    if (active_) {
        try {
            CommitUpdate();
            // A created archive that received nothing still gets its (empty)
            // directory, so the file is a valid archive.
            if (archiveStream_ && dirManager_ && archiveStream_->Size() == dirManager_->StubSize &&
                openMode_ == fmCreate)
                dirManager_->WriteDirectory(nullptr);
        } catch (...) {
        }
        active_ = false;
    }
    archiveStream_.reset();
    dirManager_.reset();
}

void TAKBaseArchiver::SetActive(bool v) {
    if (v == active_) return;
    if (v)
        OpenArchive();
    else
        CloseArchive();
}

void TAKBaseArchiver::BeginUpdate() {
    if (updateCount_ == 0) {
        SetActive(true);
        if (IsReadOnlyOpen()) throw EAKException(32, this);
        TAKDirArray& current = dirManager_->CurrentList;
        for (int32_t i = 0; i < current.GetCount(); ++i) current.ItemAt(i).Pending = false;
        dirManager_->SavedList.CopyFrom(current);
    }
    ++updateCount_;
}

void TAKBaseArchiver::EndUpdate() {
    if (updateCount_ <= 0) return;
    if (updateCount_ > 1) {
        --updateCount_;
        return;
    }
    CommitUpdate();
    if (spanningMode_ != smNone && openMode_ == fmCreate) openMode_ = fmOpenReadWrite | fmShareDenyWrite;
}

void TAKBaseArchiver::CancelUpdate() {
    if (updateCount_ <= 0) return;
    updateCount_ = 0;
    // Items the failed add entered have no data on disk: forget them, so a
    // later close cannot write entries for bytes that were never written.
    if (dirManager_) dirManager_->CurrentList.CopyFrom(dirManager_->SavedList);
}

void TAKBaseArchiver::CheckActive() const {
    if (!active_) throw EAKException(13, this);
}

void TAKBaseArchiver::CheckNoUpdate() const {
    if (InUpdate()) throw EAKException(26, this);
}

void TAKBaseArchiver::CheckCanModify() const {
    if (!InUpdate() && dirManager_ && dirManager_->CurrentList.GetCount() >= 1 && spanningMode_ != smNone)
        throw EAKException(52, this);
}

void TAKBaseArchiver::AddFiles(const std::string& FileMask, int32_t SearchAttr, const std::string& ExclusionMask) {
    CheckActive();
    CheckCanModify();
    std::vector<std::string> masks{FileMask};
    std::vector<std::string> exclusions;
    if (!ExclusionMask.empty()) exclusions.push_back(ExclusionMask);
    // The archive's own files are never added to it.
    const std::string own = platform::ExpandFileName(fileName_);
    if (!fileName_.empty()) exclusions.push_back(own);
    if (!volumeFileName_.empty() && volumeFileName_ != fileName_)
        exclusions.push_back(platform::ExpandFileName(volumeFileName_));
    BeginUpdate();
    try {
        SearchAndAddFiles(masks, SearchAttr, options_->Recurse(), exclusions);
        EndUpdate();
    } catch (...) {
        CancelUpdate();
        throw;
    }
}

void TAKBaseArchiver::ExtractFiles(const std::string& FileMask, int32_t SearchAttr,
                                   const std::string& ExclusionMask) {
    CheckActive();
    CheckNoUpdate();
    SelectItems(FileMask, SearchAttr, ExclusionMask);
    ProcessSelectedItems(poExtract);
}
