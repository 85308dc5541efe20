#pragma once
// The archiver component: TAKBaseArchiver holds the archive logic, TArkiva is
// the class programs use. The facade keeps the names of every public and
// internal operation; each subsystem implements its operations in its own
// folder (volumes/, container/, writing/, reading/).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archiver/AKExcept.h"
#include "archiver/AKOptions.h"
#include "archiver/AKTypes.h"
#include "archiver/DirArray.h"
#include "platform/Component.h"
#include "platform/FileSystem.h"
#include "platform/Streams.h"
#include "volumes/VolumeInfo.h"

class TAKBaseArchiver;
class TAKDirManager;
struct TAKCryptKeys;

// Event types; the first parameter is always the archiver.
using TNotifyEvent = std::function<void(TAKBaseArchiver* Sender)>;
using TAKProgressEvent = std::function<void(TAKBaseArchiver* Sender, double Progress, TAKProcessOperation Operation,
                                            TAKProgressPhase ProgressPhase, bool& Cancel)>;
using TAKFileProgressEvent = std::function<void(TAKBaseArchiver* Sender, const std::string& FileName, double Progress,
                                                TAKProcessOperation Operation, TAKProgressPhase ProgressPhase, bool& Cancel)>;
using TAKCopyTempFileProgressEvent =
    std::function<void(TAKBaseArchiver* Sender, double Progress, TAKProgressPhase ProgressPhase, bool& Cancel)>;
using TAKConfirmOverwriteEvent = std::function<void(TAKBaseArchiver* Sender, const std::string& SourceFileName,
                                                    std::string& DestFileName, bool& Confirm)>;
using TAKConfirmProcessFileEvent = std::function<void(TAKBaseArchiver* Sender, const std::string& FileName,
                                                      TAKProcessOperation Operation, bool& Confirm)>;
using TAKOnPasswordEvent = std::function<void(TAKBaseArchiver* Sender, const std::string& FileName,
                                              std::string& NewPassword, bool& SkipFile)>;
using TAKProcessFileFailureEvent =
    std::function<void(TAKBaseArchiver* Sender, const std::string& FileName, TAKProcessOperation Operation,
                       int32_t NativeError, int32_t ErrorCode, const std::string& ErrorMessage, TAKAction& Action)>;
using TAKOnRequestBlankVolumeEvent =
    std::function<void(TAKBaseArchiver* Sender, int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)>;
using TAKOnRequestFirstVolumeEvent =
    std::function<void(TAKBaseArchiver* Sender, std::string& VolumeFileName, bool& Cancel)>;
using TAKOnRequestLastVolumeEvent =
    std::function<void(TAKBaseArchiver* Sender, std::string& VolumeFileName, bool& Cancel)>;
using TAKOnRequestMiddleVolumeEvent =
    std::function<void(TAKBaseArchiver* Sender, int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)>;
using TAKOnDiskFullEvent =
    std::function<void(TAKBaseArchiver* Sender, int32_t VolumeNumber, const std::string& VolumeFileName, bool& Cancel)>;
using TAKOnStoreFileEvent = std::function<void(TAKBaseArchiver* Sender, std::string& FileName, uint32_t& FileAttr,
                                               std::string& Comment, const std::string& OriginalFileName)>;
using TAKOnExtractFileEvent = std::function<void(TAKBaseArchiver* Sender, std::string& FileName, uint32_t& FileAttr,
                                                 const std::string& Comment)>;

// Search state of FindFirst / FindNext.
struct TInternalSearchRec {
    int32_t ItemIndex = 0;
    char Mask[260] = {};          // "/"-separated, zero-terminated
    bool HasWildcards = false;
    int32_t SearchAttributes = 0;
    std::string ExclusionMask;
    bool UseMaskLists = false;
};

// The public description of one item.
struct TAKArchiveItem {
    std::string ItemName;
    std::string StoredFolder;
    int64_t CompressedSize = 0;
    int64_t UncompressedSize = 0;
    double SavedPercent = 0;
    bool Encrypted = false;
    uint16_t LastModDate = 0;
    uint16_t LastModTime = 0;
    uint32_t Crc32 = 0;
    uint32_t ExternalAttributes = 0;
    std::string FileComment;
    TInternalSearchRec SearchRec;
};

// A directory-search hit handed through the add search.
struct TAKSearchHit {
    std::string Name;   // without folder
    uint32_t Attr = 0;
};

// State of one run of CommitUpdate (writing/).
struct TAKCommitState {
    int32_t FirstChangedIndex = 0;
    int64_t CutPosition = 0;
    std::string TailFileName;
    std::unique_ptr<TFileStream> TailFile;
    TAKAction Action = fxaIgnore;
    TAKProcessOperation StartOperation = poDelete;
    std::unique_ptr<TMemoryStream> MemoryBuffer;
    bool CopyCancelled = false;
    std::unique_ptr<TFileStream> Source;      // the source of the item being written
    bool NewVolumeSet = false;                // the commit writes a newly created multi-volume set
};

class TAKBaseArchiver : public TComponent {
public:
    explicit TAKBaseArchiver(TComponent* owner = nullptr);
    ~TAKBaseArchiver() override;

    // ---- published properties, in declaration order ----
    bool ExtractCorruptedFiles() const { return extractCorruptedFiles_; }
    void SetExtractCorruptedFiles(bool v) { extractCorruptedFiles_ = v; }
    TAKCompressionLevel CompressionLevel() const { return compressionLevel_; }
    void SetCompressionLevel(TAKCompressionLevel v);
    uint8_t CompressionMode() const { return compressionMode_; }
    void SetCompressionMode(int v); // code 5 above 9
    std::string CurrentVersion() const;
    void SetCurrentVersion(const std::string&) {} // accepted and ignored
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& v) { password_ = v; }
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& v) { fileName_ = v; }
    const std::string& BaseDir() const { return baseDir_; }
    void SetBaseDir(const std::string& v) { baseDir_ = v; }
    const std::string& TempDir() const { return tempDir_; }
    void SetTempDir(const std::string& v) { tempDir_ = v; }
    TAKSpanningMode SpanningMode() const { return spanningMode_; }
    // The archive is one stream: no volumes, or in memory whatever
    // SpanningMode says (moving to a "next volume" would free the archive).
    bool SingleStream() const { return spanningMode_ == smNone || inMemory_; }
    void SetSpanningMode(TAKSpanningMode v); // refused while open
    TAKSpanningOptions& SpanningOptions() { return *spanningOptions_; }
    const TAKSpanningOptions& SpanningOptions() const { return *spanningOptions_; }
    void SetSpanningOptions(const TAKSpanningOptions& v) { spanningOptions_->Assign(v); }
    const std::string& SFXStub() const { return sfxStub_; }
    void SetSFXStub(const std::string& v) { sfxStub_ = v; }
    TAKOptions& Options() { return *options_; }
    const TAKOptions& Options() const { return *options_; }
    void SetOptions(const TAKOptions& v) { options_->Assign(v); }
    std::vector<std::string>& FileMasks() { return fileMasks_; }
    void SetFileMasks(const std::vector<std::string>& v) { fileMasks_ = v; }
    std::vector<std::string>& ExclusionMasks() { return exclusionMasks_; }
    void SetExclusionMasks(const std::vector<std::string>& v) { exclusionMasks_ = v; }
    std::vector<std::string>& NoCompressionMasks() { return noCompressionMasks_; }
    void SetNoCompressionMasks(const std::vector<std::string>& v) { noCompressionMasks_ = v; }
    bool InMemory() const { return inMemory_; }
    void SetInMemory(bool v);
    TZip64Mode Zip64Mode() const { return zip64Mode_; }
    void SetZip64Mode(TZip64Mode v) { zip64Mode_ = v; }

    TAKFileProgressEvent OnFileProgress;
    TAKProgressEvent OnOverallProgress;
    TAKCopyTempFileProgressEvent OnCopyTempFileProgress;
    TAKConfirmOverwriteEvent OnConfirmOverwrite;
    TAKConfirmProcessFileEvent OnConfirmProcessFile;
    TNotifyEvent AfterOpen;
    TAKOnPasswordEvent OnPassword;
    TAKProcessFileFailureEvent OnProcessFileFailure;
    TAKOnRequestBlankVolumeEvent OnRequestBlankVolume;
    TAKOnRequestFirstVolumeEvent OnRequestFirstVolume;
    TAKOnRequestLastVolumeEvent OnRequestLastVolume;
    TAKOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
    TAKOnDiskFullEvent OnDiskFull;
    TAKOnStoreFileEvent OnStoreFile;
    TAKOnExtractFileEvent OnExtractFile;

    // ---- virtual operations, in slot order ----
    virtual void UpdateCompressionMethod();
    virtual void DoOnOverallProgress(double Progress, TAKProcessOperation Operation, TAKProgressPhase Phase, bool& Cancel);
    virtual void DoOnFileProgress(const std::string& FileName, double Progress, TAKProcessOperation Operation,
                                  TAKProgressPhase Phase, bool& Cancel);
    virtual void DoOnCopyTempFileProgress(double Progress, TAKProgressPhase Phase, bool& Cancel);
    virtual void DoOnConfirmOverwrite(const std::string& SourceFileName, std::string& DestFileName, bool& Confirm);
    virtual void DoOnConfirmProcessFile(const std::string& FileName, TAKProcessOperation Operation, bool& Confirm);
    virtual void DoOnPassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile);
    virtual void DoOnProcessFileFailure(const std::string& FileName, TAKProcessOperation Operation, int32_t NativeError,
                                        int32_t ErrorCode, const std::string& ErrorMessage, TAKAction& Action);
    virtual void DoRequestBlankVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel);
    virtual void DoRequestFirstVolume(std::string& VolumeFileName, bool& Cancel);
    virtual void DoRequestLastVolume(std::string& VolumeFileName, bool& Cancel);
    virtual void DoRequestMiddleVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel);
    virtual void DoDiskFull(int32_t VolumeNumber, const std::string& VolumeFileName, bool& Cancel);
    virtual void DoOnStoreFile(std::string& FileName, uint32_t& FileAttr, std::string& Comment,
                               const std::string& OriginalFileName);
    virtual void DoOnExtractFile(std::string& FileName, uint32_t& FileAttr, const std::string& Comment);

    // ---- lifecycle (archiver/Lifecycle.cpp) ----
    void OpenArchive();                 // automatic mode
    void OpenArchive(uint16_t mode);
    void CloseArchive() noexcept;
    bool Active() const { return active_; }
    void SetActive(bool v);
    void BeginUpdate();
    void EndUpdate();
    void CancelUpdate();
    bool InUpdate() const { return updateCount_ > 0; }
    void AddFiles(const std::string& FileMask, int32_t SearchAttr, const std::string& ExclusionMask);
    void ExtractFiles(const std::string& FileMask, int32_t SearchAttr, const std::string& ExclusionMask);
    void CheckActive() const;
    void CheckNoUpdate() const;
    void CheckCanModify() const;
    bool IsReadOnlyOpen() const { return (openMode_ & 3) == 0 && openMode_ != fmCreate; }

    uint16_t OpenMode() const { return openMode_; }
    int32_t UpdateCount() const { return updateCount_; }
    TStream* ArchiveStream() const { return archiveStream_.get(); }
    TAKDirManager* DirManager() const { return dirManager_.get(); }
    TAKVolumeNumberInfo& VolumeInfo() { return volumeInfo_; }
    const std::string& VolumeFileName() const { return volumeFileName_; }
    const std::string& WorkingBaseDir() const { return workingBaseDir_; }
    uint16_t CompressionMethod() const { return compressionMethod_; }

    // Bulk-operation state shared by the item loops and pipelines.
    int32_t ProcessedCount = 0;
    int32_t SelectedCount = 0;
    bool Cancelled = false;
    bool ProgressEnabled = false;
    bool SkipCurrentFile = false;
    long double FileProgressPosition = 0;
    long double FileProgressTotal = 0;
    // The per-block events of a bulk operation's item: OnFileProgress, then
    // OnOverallProgress, at FileProgressPosition of FileProgressTotal; false
    // when the owner cancelled.
    bool RaiseBlockProgress(const std::string& Name, TAKProcessOperation Operation);

    // ---- volume naming (volumes/VolumeNames.cpp) ----
    void GetVolumeFileName(std::string& Name, int32_t VolumeNumber, bool CheckExists) const;
    static bool HasExeExtension(const std::string& Name);

    // ---- volumes (volumes/Volumes.cpp) ----
    static int64_t GetDiskFreeBytes(const std::string& Name);
    static bool IsFloppyDrive(const std::string& Path);
    static bool IsRemovableDrive(const std::string& Path);
    void OpenVolumeFile(const std::string& Name);
    void RequestVolume(const TAKVolumeNumberInfo& Info);
    // Brings the volume after Info's for reading on and advances Info; false
    // when Info's is the last one or the request opened no file for it.
    bool RequestNextVolume(TAKVolumeNumberInfo& Info);
    int64_t WriteToVolumes(const void* Data, int64_t Count, TStream*& Stream, TAKVolumeNumberInfo& Info,
                           int64_t KeepTogether, TMemoryStream* Buffer);
    void WriteAllToVolumes(const void* Data, int64_t Count, TStream*& Stream, TAKVolumeNumberInfo& Info,
                           int64_t KeepTogether, TMemoryStream* Buffer);
    void CopyToVolumes(TStream& Source, TStream*& Stream, TAKVolumeNumberInfo& Info, bool& Cancel, int64_t Count,
                       int64_t KeepTogether, TMemoryStream* Buffer, bool ReportProgress);
    // Moves Count bytes from Source's position into the volumes as
    // WriteAllToVolumes places them (code 46 when the volumes take no more),
    // between files inside the kernel; returns fewer only when Source ends.
    int64_t TransferToVolumes(TStream& Source, int64_t Count, TStream*& Stream, TAKVolumeNumberInfo& Info);

    // ---- opening (container/OpenArchive.cpp) ----
    void OpenLastVolume();
    void OpenStubArchive();
    // endPosition: where the end record was found, when it was.
    void DetectSpanningMode(bool endRecordFound, const TEndRecord& endRecord, int64_t endPosition);

    // ---- adding (writing/AddSearch.cpp) ----
    void SearchAndAddFiles(const std::vector<std::string>& Masks, int32_t SearchAttr, bool Recurse,
                           const std::vector<std::string>& Exclusions);
    void SearchFolder(const std::string& Folder, const std::string& Root, const std::string& Mask, bool Recurse);
    std::string ResolveMask(const std::string& Mask, const std::string& Folder, bool& Relative) const;
    bool AddFoundFile(const TAKSearchHit& Hit, const std::string& HitFolder, const std::string& Root);
    void ProcessFoundFile(const std::string& FullName, const std::string& Root, const TAKSearchHit& Hit);
    int32_t AddItemFromFile(const std::string& FileName, const std::string& Root, bool UseInfo);
    void InitItemFromFile(int32_t Index, const std::string& FileName, bool UseInfo);
    bool FileMatchesMask(const std::string& FileName, const std::string& Mask, bool IsFolder) const;
    std::string GetStoredName(const std::string& FileName, const std::string& BaseFolder, TAKStorePathMode Mode,
                              const std::string& WorkingFolder) const;
    static std::string ResolvePath(const std::string& Folder, const std::string& Name, const std::string& Default);

    // ---- committing (writing/Commit.cpp) ----
    void CommitUpdate();
    int32_t FindFirstChangedItem();
    void SaveArchiveTail(int32_t Index);
    bool WriteNewItem(int32_t Index);
    void CopyUnchangedItem(int32_t Index);
    void ReleaseItemSource();
    void RollBackUpdate();
    void RestoreArchiveTail();
    void DeleteTailFile();
    std::string MakeTempFileName() const;

    // ---- store and deflate (writing/Compress.cpp) ----
    bool CompressItem(TStream& Source, TStream& Destination, TDirItem& Item);
    static int32_t GetBlockSize(int Mode);

    // ---- extracting (reading/Extract.cpp, reading/Inflate.cpp) ----
    void SelectItems(const std::string& Mask, int32_t Attributes, const std::string& ExclusionMask);
    bool FindFirst(const std::string& Mask, TAKArchiveItem& Record, const std::string& ExclusionMask, int32_t Attributes);
    bool FindNext(TAKArchiveItem& Record);
    bool FindNextMatch(TAKArchiveItem& Record);
    bool MatchItem(int32_t Index, TAKArchiveItem& Record);
    static bool AttributesMatch(uint32_t ItemAttributes, int32_t Filter);
    void ProcessSelectedItems(TAKProcessOperation Operation);
    void ExtractItem(int32_t Index, const std::string& Name, const std::string& Prefix);
    bool MatchName(const std::string& Name, const std::string& Mask) const;
    void ExtractItemToStream(int32_t Index, TStream& Destination);
    bool ExtractItemData(TStream& Source, TStream& Destination, const TDirItem& Item);
    bool CheckPassword(TStream& Archive, const std::string& Password, TAKCryptKeys& Keys, uint32_t Crc32,
                       uint16_t LastModTime, uint16_t Flags);

protected:
    friend class TAKDirManager;

    // The volume writer's loop. Place(target, offset, n, ended) puts the n
    // bytes that start offset bytes into the run into target and returns how
    // many it put; it sets ended when nothing more will come.
    using TVolumePlacer = std::function<int64_t(TStream& Target, int64_t Offset, int64_t N, bool& Ended)>;
    int64_t PlaceInVolumes(int64_t Count, TStream*& Stream, TAKVolumeNumberInfo& Info, int64_t KeepTogether,
                           TMemoryStream* Buffer, const TVolumePlacer& Place);

    // Lifecycle state.
    bool active_ = false;
    uint16_t openMode_ = 0;
    int32_t updateCount_ = 0;
    std::unique_ptr<TStream> archiveStream_;
    std::unique_ptr<TAKDirManager> dirManager_;
    TAKVolumeNumberInfo volumeInfo_;
    std::string volumeFileName_;
    std::string workingBaseDir_;
    uint16_t compressionMethod_ = 0;

    // Add search state: the exclusion list and attributes of the running search.
    std::vector<std::string> searchExclusions_;
    int32_t searchAttr_ = 0;

    // Commit state.
    TAKCommitState commit_;

    // The error of the item whose failure ended the commit by fxaAbort;
    // raised to the caller once the commit has rolled back.
    std::unique_ptr<EAKException> abortError_;

    // Published fields.
    bool extractCorruptedFiles_ = false;
    TAKCompressionLevel compressionLevel_ = clFastest;
    uint8_t compressionMode_ = 1;
    std::string password_;
    std::string fileName_;
    std::string baseDir_;
    std::string tempDir_;
    TAKSpanningMode spanningMode_ = smNone;
    std::unique_ptr<TAKSpanningOptions> spanningOptions_;
    std::string sfxStub_;
    std::unique_ptr<TAKOptions> options_;
    std::vector<std::string> fileMasks_;
    std::vector<std::string> exclusionMasks_;
    std::vector<std::string> noCompressionMasks_;
    bool inMemory_ = false;
    TZip64Mode zip64Mode_ = zmAuto;
};

class TArkiva : public TAKBaseArchiver {
public:
    explicit TArkiva(TComponent* owner = nullptr);
    ~TArkiva() override;
    void UpdateCompressionMethod() override;
};
