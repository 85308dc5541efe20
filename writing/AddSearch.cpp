// The file search behind AddFiles: walks the folders that the masks name,
// applies the attribute filter and the exclusions, and records every file or
// folder taken in as a pending item of the current list. Nothing of the
// archive is read or written here; the commit does that.
#include <mutex>
#include <string>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "container/ZipRecords.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "primitives/AKMasks.h"

namespace {

// A file whose attributes are 0 passes the filter only when it asks for all
// of archive, read-only, hidden and system.
constexpr uint32_t kPlainFileAttrs = faArchive | faReadOnly | faHidden | faSysFile;
// Folders are looked for hidden ones included.
constexpr uint32_t kFolderSearchAttrs = faHidden | faSysFile | faDirectory;
// Longest name or comment a central header can describe.
constexpr size_t kMaxFieldLength = 0xFFFF;

bool HasWildcards(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

// A stored name never begins with "/", whoever chose it.
std::string WithoutLeadingSlashes(const std::string& name) {
    const size_t s = name.find_first_not_of('/');
    return s == std::string::npos ? std::string() : name.substr(s);
}

bool UsableStoredName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxFieldLength;
}

} // namespace

void TAKBaseArchiver::SearchAndAddFiles(const std::vector<std::string>& Masks, int32_t SearchAttr, bool Recurse,
                                        const std::vector<std::string>& Exclusions) {
    std::lock_guard<std::recursive_mutex> lock(platform::ProcessLock());
    CheckActive();

    // The working folder and the search state belong to this search only:
    // they are put back however it ends.
    struct SearchStateGuard {
        TAKBaseArchiver& self;
        std::string workingBaseDir;
        std::vector<std::string> exclusions;
        int32_t attr;
        ~SearchStateGuard() {
            self.workingBaseDir_ = std::move(workingBaseDir);
            self.searchExclusions_ = std::move(exclusions);
            self.searchAttr_ = attr;
        }
    } guard{*this, workingBaseDir_, searchExclusions_, searchAttr_};

    workingBaseDir_ = ResolvePath(baseDir_, "", guard.workingBaseDir);
    searchExclusions_ = Exclusions;
    searchAttr_ = SearchAttr;

    const std::string root = workingBaseDir_;
    for (const std::string& mask : Masks) SearchFolder(root, root, mask, Recurse);
}

void TAKBaseArchiver::SearchFolder(const std::string& Folder, const std::string& Root, const std::string& Mask,
                                   bool Recurse) {
    bool relative = false;
    const std::string full = ResolveMask(Mask, Folder, relative);
    // An empty mask selects nothing (and must not enumerate the current folder).
    if (full.empty()) return;
    const uint32_t searchAttr = static_cast<uint32_t>(searchAttr_);

    // An absolute name of an existing file is taken whatever its attributes.
    if (full == Mask && !HasWildcards(Mask) && platform::FileExists(full)) {
        const int64_t attr = platform::FileGetAttr(full);
        const TAKSearchHit hit{platform::ExtractFileName(full), attr < 0 ? 0u : static_cast<uint32_t>(attr)};
        AddFoundFile(hit, platform::ExtractFilePath(full), Root);
        return;
    }

    // Files of the folder.
    const uint32_t fileAttr = searchAttr & ~faDirectory;
    const std::string hitFolder = platform::ExtractFilePath(full);
    for (const platform::TSearchRec& rec : platform::FindFiles(full, fileAttr)) {
        if ((rec.Attr & fileAttr) != 0 || (rec.Attr == 0 && (fileAttr & kPlainFileAttrs) == kPlainFileAttrs))
            AddFoundFile(TAKSearchHit{rec.Name, rec.Attr}, hitFolder, Root);
    }

    // Folders: taken in themselves with the folder bit, descended into when recursing.
    const bool takeFolders = (searchAttr & faDirectory) != 0;
    if (!takeFolders && !Recurse) return;
    std::string sub = hitFolder;
    if (relative && ResolvePath(sub, "", workingBaseDir_).find(Folder) == std::string::npos)
        sub = platform::IncludeTrailingPathDelimiter(Folder);
    if (sub.empty()) return;

    for (const platform::TSearchRec& rec : platform::FindFiles(sub + "*", kFolderSearchAttrs)) {
        if ((rec.Attr & faDirectory) == 0 || rec.Name == "." || rec.Name == "..") continue;
        const std::string path = sub + rec.Name;
        // A linked folder is not followed: a link to a folder above it
        // would make the search endless.
        if (platform::IsSymlink(path)) continue;
        bool excluded = false;
        for (const std::string& m : searchExclusions_) {
            if (FileMatchesMask(path, m, true)) {
                excluded = true;
                break;
            }
        }
        if (excluded) continue;

        // "*.*" must also match a folder name without a dot.
        if (takeFolders && (MatchesMask(path, full) || MatchesMask(path + ".", full))) {
            // Everything below a folder taken in is taken in as well.
            if (AddFoundFile(TAKSearchHit{rec.Name, rec.Attr}, sub, Root)) SearchFolder(path, Root, "*.*", true);
            continue;
        }
        if (!Recurse) continue;
        if (Mask.find('/') == std::string::npos)
            SearchFolder(path, Root, Mask, true);
        else if (HasWildcards(Mask))
            SearchFolder(path, Root, platform::ExtractFileName(full), true);
        // A named file with a folder part is not looked for deeper.
    }
}

bool TAKBaseArchiver::AddFoundFile(const TAKSearchHit& Hit, const std::string& HitFolder, const std::string& Root) {
    const bool isFolder = (Hit.Attr & faDirectory) != 0;
    std::string fullName =
        platform::IncludeTrailingPathDelimiter(ResolvePath(HitFolder, "", workingBaseDir_)) + Hit.Name;
    if (isFolder) fullName += '/';
    for (const std::string& m : searchExclusions_)
        if (FileMatchesMask(fullName, m, isFolder)) return false;
    ProcessFoundFile(fullName, Root, Hit);
    return true;
}

void TAKBaseArchiver::ProcessFoundFile(const std::string& FullName, const std::string& Root, const TAKSearchHit& Hit) {
    bool confirm = true;
    DoOnConfirmProcessFile(FullName, poAdd, confirm);
    if (!confirm) return;
    const int32_t index = AddItemFromFile(FullName, Root, true);
    if (index < 0) return;
    const bool isFolder = (Hit.Attr & faDirectory) != 0;
    for (const std::string& m : noCompressionMasks_) {
        if (FileMatchesMask(FullName, m, isFolder)) {
            TDirItem& item = dirManager_->CurrentList.ItemAt(index);
            item.ItemCompressionMode = 0;
            item.Header.Method = 0;
            break;
        }
    }
}

int32_t TAKBaseArchiver::AddItemFromFile(const std::string& FileName, const std::string& Root, bool UseInfo) {
    CheckActive();
    // A file whose name leaves nothing to store (the root folder) is not taken in.
    if (GetStoredName(FileName, workingBaseDir_, options_->StorePath(), workingBaseDir_).empty()) return -1;

    const bool isFolder = platform::DirectoryExists(FileName);
    std::string name = GetStoredName(FileName, Root, options_->StorePath(), workingBaseDir_);
    if (isFolder && !name.empty() && name.back() != '/') name += '/';

    uint32_t attr = faArchive;
    if (platform::FileExists(FileName)) {
        const int64_t a = platform::FileGetAttr(FileName);
        if (a >= 0) attr = static_cast<uint32_t>(a);
    } else if (isFolder) {
        attr = faDirectory;
    }
    std::string comment;
    DoOnStoreFile(name, attr, comment, FileName);
    name = WithoutLeadingSlashes(name);
    if (!UsableStoredName(name)) return -1;
    if (comment.size() > kMaxFieldLength) comment.resize(kMaxFieldLength);

    TAKDirArray& list = dirManager_->CurrentList;
    int32_t index = -1;
    if (list.FindName(name, index)) {
        const TDirItem& existing = list.ItemAt(index);
        const int32_t itemStamp = ItemStamp(existing.Header);
        // An item gathered earlier in this bracket has nothing in the archive
        // yet: replacing it is still an addition.
        const bool gatheredNow = existing.Pending && existing.PendingOperation == poAdd;
        bool replace = false;
        switch (options_->OverwriteMode()) {
        case omPrompt: {
            bool confirm = true;
            std::string dest = name;
            DoOnConfirmOverwrite(FileName, dest, confirm);
            replace = confirm;
            dest = WithoutLeadingSlashes(dest);
            if (UsableStoredName(dest)) name = dest;
            break;
        }
        case omAlways:
            replace = true;
            break;
        case omNever:
            break;
        case omIfNewer:
            replace = platform::FileAge(FileName) > itemStamp;
            break;
        case omIfOlder:
            replace = platform::FileAge(FileName) < itemStamp;
            break;
        }
        if (!replace) return -1;
        InitItemFromFile(index, FileName, UseInfo);
        TDirItem& item = list.ItemAt(index);
        item.Pending = true;
        item.SourcePath = FileName;
        item.PendingOperation = gatheredNow ? poAdd : poUpdate;
    } else {
        index = list.GetCount();
        list.SetCount(index + 1);
        InitItemFromFile(index, FileName, UseInfo);
        list.ItemAt(index).PendingOperation = poAdd;
    }

    list.RenameItem(index, name);
    TDirItem& item = list.ItemAt(index);
    item.Header.FileNameLength = static_cast<uint16_t>(item.StoredName.size());
    item.Header.ExternalAttributes = attr;
    item.ItemComment = comment;
    item.Header.FileCommentLength = static_cast<uint16_t>(comment.size());
    return index;
}

void TAKBaseArchiver::InitItemFromFile(int32_t Index, const std::string& FileName, bool UseInfo) {
    CheckActive();
    std::string name = GetStoredName(FileName, workingBaseDir_, options_->StorePath(), workingBaseDir_);
    if (name.empty()) return;
    TAKDirArray& list = dirManager_->CurrentList;
    (void)list.ItemAt(Index); // range check before anything changes

    const bool isFolder = platform::DirectoryExists(FileName);
    int32_t stamp = -1;
    uint32_t attr = faArchive;
    if (UseInfo) {
        stamp = platform::FileAge(FileName);
        if (platform::FileExists(FileName) || isFolder) {
            const int64_t a = platform::FileGetAttr(FileName);
            if (a >= 0) attr = static_cast<uint32_t>(a);
        }
    }
    if (stamp == -1) stamp = platform::NowDosDateTime();
    if (isFolder && name.back() != '/') name += '/';

    list.RenameItem(Index, name);
    TDirItem& item = list.ItemAt(Index);
    item.Pending = true;
    item.ItemPassword = password_;
    item.SourcePath = FileName;
    item.ItemCompressionMode = isFolder ? 0 : compressionMode_;
    // Sizes and offsets are the commit's to fill in; a replaced item's old
    // ZIP64 values no longer describe anything.
    item.Zip64 = false;
    item.UncompressedSize64 = 0;
    item.CompressedSize64 = 0;
    item.LocalHeaderOffset64 = 0;
    item.Zip64DiskStart = 0;

    TCentralHeaderImage& h = item.Header;
    h = TCentralHeaderImage{};
    h.Signature = SigCentralHeader;
    h.VersionMadeBy = ItemVersionValue(false, options_->OEMFileNames());
    h.VersionNeeded = h.VersionMadeBy;
    h.Flags = NewItemFlags(isFolder, !password_.empty());
    h.Method = isFolder ? 0 : compressionMethod_;
    h.LastModTime = DosTime(stamp);
    h.LastModDate = DosDate(stamp);
    h.Crc32 = isFolder ? 0 : 0xFFFFFFFFu; // the commit puts the real value in
    h.FileNameLength = static_cast<uint16_t>(name.size());
    h.ExternalAttributes = attr;
}
