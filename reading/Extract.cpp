// Extracting: selecting the items that match a mask, the item loop with its
// events and failure handling, and writing one item into a file below the
// destination folder.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <mutex>
#include <random>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "primitives/AKStrFunc.h"

namespace {

std::string WithoutTrailingSlash(std::string s) {
    if (!s.empty() && s.back() == '/') s.pop_back();
    return s;
}

bool IsDirectoryItem(const TDirItem& item) {
    return (item.Header.ExternalAttributes & faDirectory) != 0 ||
           (!item.StoredName.empty() && item.StoredName.back() == '/');
}

bool HasDrive(const std::string& name) {
    return name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])) != 0;
}

// Whether a "/"-separated name stays below the folder it is written into:
// not absolute, no drive, no ".." component.
bool StaysBelow(const std::string& name) {
    if (name.empty() || name[0] == '/' || HasDrive(name))
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = std::min(name.find('/', start), name.size());
        if (name.compare(start, end - start, "..") == 0 && end - start == 2)
            return false;
        start = end + 1;
    }
    return true;
}

bool IsInside(const std::string& path, const std::string& root) {
    if (root == "/")
        return !path.empty() && path[0] == '/';
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// Item data goes into a new file beside the target and replaces the target
// only once it has been checked; the file is removed on every other way out.
class TTempTarget {
public:
    explicit TTempTarget(const std::string& target) {
        static std::mt19937_64 generator{std::random_device{}()};
        const std::string folder = platform::ExtractFilePath(target);
        for (int attempt = 0; attempt < 100 && name_.empty(); ++attempt) {
            static const char digits[] = "0123456789abcdef";
            uint64_t bits = generator();
            std::string candidate = folder + ".FC";
            for (int k = 0; k < 12; ++k, bits >>= 4)
                candidate += digits[bits & 15];
            candidate += ".tmp";
            if (platform::CreateNewFile(candidate))
                name_ = candidate;
            else if (platform::PathExists(candidate) || platform::IsSymlink(candidate))
                continue;
            else
                break; // the folder refuses new files
        }
    }
    ~TTempTarget() {
        if (!name_.empty()) platform::DeleteFile(name_);
    }
    TTempTarget(const TTempTarget&) = delete;
    TTempTarget& operator=(const TTempTarget&) = delete;

    const std::string& Name() const { return name_; }
    // Moves the file over the target; the temporary name is gone either way
    // once this returns true.
    bool CommitTo(const std::string& target) {
        if (!platform::RenameFile(name_, target)) return false;
        name_.clear();
        return true;
    }

private:
    std::string name_;
};

} // namespace

// ---------------------------------------------------------------------------
// Selection.

bool TAKBaseArchiver::MatchName(const std::string& Name, const std::string& Mask) const {
    return AKMatchName(Name, Mask);
}

bool TAKBaseArchiver::AttributesMatch(uint32_t ItemAttributes, int32_t Filter) {
    return (ItemAttributes & ~static_cast<uint32_t>(Filter) & 0x1Eu) == 0;
}

void TAKBaseArchiver::SelectItems(const std::string& Mask, int32_t Attributes, const std::string& ExclusionMask) {
    if (!dirManager_)
        return;
    dirManager_->CurrentList.ClearSelection();
    TAKArchiveItem record;
    for (bool found = FindFirst(Mask, record, ExclusionMask, Attributes); found; found = FindNext(record))
        dirManager_->CurrentList.ItemAt(record.SearchRec.ItemIndex).Selected = true;
}

bool TAKBaseArchiver::FindFirst(const std::string& Mask, TAKArchiveItem& Record, const std::string& ExclusionMask,
                                int32_t Attributes) {
    std::string mask = platform::ForwardSlashes(Mask);
    // A leading "/" stands where a drive stood. Stored names never begin
    // with one (whatever StorePath), so a full path finds its item.
    const size_t first = mask.find_first_not_of('/');
    mask.erase(0, first == std::string::npos ? mask.size() : first);

    TInternalSearchRec& rec = Record.SearchRec;
    rec.ExclusionMask = ExclusionMask;
    rec.UseMaskLists = false;
    rec.SearchAttributes = Attributes;
    rec.ItemIndex = 0;
    // A mask that the record cannot hold matches nothing rather than a
    // shortened form of itself.
    if (mask.size() >= sizeof rec.Mask) {
        rec.Mask[0] = '\0';
        rec.HasWildcards = false;
        return false;
    }
    std::memcpy(rec.Mask, mask.c_str(), mask.size() + 1);
    rec.HasWildcards = mask.find_first_of("*?") != std::string::npos;
    return FindNextMatch(Record);
}

bool TAKBaseArchiver::FindNext(TAKArchiveItem& Record) {
    Record.SearchRec.ItemIndex += 1;
    return FindNextMatch(Record);
}

bool TAKBaseArchiver::FindNextMatch(TAKArchiveItem& Record) {
    if (!dirManager_)
        return false;
    const TAKDirArray& list = dirManager_->CurrentList;
    const bool recurse = options_->Recurse();
    const std::string maskFolder = recurse ? std::string() : platform::AnsiLowerCase(
                                                                 platform::ExtractFilePath(Record.SearchRec.Mask));
    for (int32_t i = std::max(Record.SearchRec.ItemIndex, 0); i < list.GetCount(); ++i) {
        const TDirItem& item = list.ItemAt(i);
        if (!recurse) {
            const std::string name = WithoutTrailingSlash(platform::ForwardSlashes(item.StoredName));
            if (platform::AnsiLowerCase(platform::ExtractFilePath(name)) != maskFolder)
                continue;
        }
        if (!MatchItem(i, Record) ||
            !AttributesMatch(item.Header.ExternalAttributes, Record.SearchRec.SearchAttributes))
            continue;

        Record.SearchRec.ItemIndex = i;
        const std::string name = WithoutTrailingSlash(platform::ForwardSlashes(item.StoredName));
        Record.ItemName = platform::ExtractFileName(name);
        Record.StoredFolder = platform::ExtractFilePath(name);
        Record.CompressedSize = ItemCompressedSize(item);
        Record.UncompressedSize = ItemUncompressedSize(item);
        if (Record.UncompressedSize > 0) {
            const double saved = (1.0 - static_cast<double>(Record.CompressedSize) /
                                            static_cast<double>(Record.UncompressedSize)) * 100.0;
            Record.SavedPercent = saved < 0 ? 0 : saved;
        } else {
            Record.SavedPercent = 100;
        }
        Record.Encrypted = (item.Header.Flags & FlagEncrypted) != 0;
        Record.LastModDate = item.Header.LastModDate;
        Record.LastModTime = item.Header.LastModTime;
        Record.Crc32 = item.Header.Crc32;
        Record.ExternalAttributes = item.Header.ExternalAttributes;
        Record.FileComment = item.ItemComment;
        return true;
    }
    return false;
}

bool TAKBaseArchiver::MatchItem(int32_t Index, TAKArchiveItem& Record) {
    const TDirItem& item = dirManager_->CurrentList.ItemAt(Index);
    const std::string name = WithoutTrailingSlash(platform::ForwardSlashes(item.StoredName));
    const std::string last = platform::ExtractFileName(name);
    const std::string mask = Record.SearchRec.Mask;
    if (!MatchName(name, mask) && !MatchName(last, mask))
        return false;
    // The exclusion mask passed with the search leaves out what it matches,
    // tested like the search mask.
    const std::string exclusion = platform::ForwardSlashes(Record.SearchRec.ExclusionMask);
    if (!exclusion.empty() && (MatchName(name, exclusion) || MatchName(last, exclusion)))
        return false;
    return true;
}

// ---------------------------------------------------------------------------
// The item loop.

void TAKBaseArchiver::ProcessSelectedItems(TAKProcessOperation Operation) {
    // The error of the item whose failure ended the loop.
    std::unique_ptr<EAKException> abortError;
    {
        std::lock_guard<std::recursive_mutex> lock(platform::ProcessLock());

        auto itemCount = [this]() { return dirManager_ ? dirManager_->CurrentList.GetCount() : 0; };

        ProcessedCount = 0;
        SelectedCount = 0;
        Cancelled = false;
        ProgressEnabled = true;
        for (int32_t i = 0; i < itemCount(); ++i)
            if (dirManager_->CurrentList.ItemAt(i).Selected) ++SelectedCount;

        TAKAction action = fxaIgnore;
        DoOnOverallProgress(0.0, Operation, ppStart, Cancelled);
        if (!Cancelled) {
            bool stop = false;
            for (int32_t i = 0; !stop && i < itemCount(); ++i) {
                if (!dirManager_->CurrentList.ItemAt(i).Selected)
                    continue;
                dirManager_->CurrentList.ItemAt(i).PendingOperation = Operation;
                for (;;) {
                    action = fxaIgnore;
                    // A handler may have closed the archive meanwhile.
                    if (i >= itemCount()) {
                        stop = true;
                        break;
                    }
                    const std::string storedName = dirManager_->CurrentList.ItemAt(i).StoredName;
                    const std::string name = platform::ForwardSlashes(storedName);
                    try {
                        bool confirm = true;
                        DoOnConfirmProcessFile(name, Operation, confirm);
                        if (!confirm)
                            break;
                        // Without a base folder the items go into the current folder,
                        // never into the root of the file system.
                        const std::string& base = baseDir_.empty() ? workingBaseDir_ : baseDir_;
                        const std::string prefix =
                            platform::IncludeTrailingPathDelimiter(base.empty() ? platform::GetCurrentDir() : base);
                        DoOnFileProgress(storedName, 0.0, Operation, ppStart, Cancelled);
                        if (Cancelled) {
                            stop = true;
                            break;
                        }
                        ExtractItem(i, name, prefix);
                        const bool wasCancelled = Cancelled;
                        DoOnFileProgress(storedName, 100.0, Operation, ppEnd, Cancelled);
                        Cancelled = Cancelled || wasCancelled;
                        if (Cancelled) {
                            stop = true;
                            break;
                        }
                        ++ProcessedCount;
                        break;
                    } catch (const EAKException& e) {
                        DoOnProcessFileFailure(name, Operation, e.NativeError(), e.ErrorCode(), e.Message(), action);
                        if (action == fxaAbort)
                            abortError = std::make_unique<EAKException>(e);
                    }
                    if (Cancelled || action == fxaAbort) {
                        stop = true;
                        break;
                    }
                    if (action != fxaRetry)
                        break;
                }
            }
        }

        const bool wasCancelled = Cancelled;
        DoOnOverallProgress(100.0, Operation, ppEnd, Cancelled);
        Cancelled = Cancelled || wasCancelled;
        if (Cancelled || action == fxaAbort)
            CancelUpdate();
    }
    // An item whose failure ended the loop ends the operation with its error,
    // once everything is cleaned up: a merge that stopped half-way must not
    // look like one that succeeded.
    if (abortError)
        throw *abortError;
}

void TAKBaseArchiver::ExtractItem(int32_t Index, const std::string& Name, const std::string& Prefix) {
    if (!dirManager_)
        throw EAKException(13, this);
    const TDirItem& entry = dirManager_->CurrentList.ItemAt(Index);
    const bool isDirectory = IsDirectoryItem(entry);
    const int32_t stamp = ItemStamp(entry.Header);

    uint32_t attributes = entry.Header.ExternalAttributes;
    std::string name = Name;
    DoOnExtractFile(name, attributes, entry.ItemComment);
    name = platform::ForwardSlashes(name);

    // Nothing is written outside the destination folder.
    if (!StaysBelow(name)) {
        const bool absolute = !name.empty() && (name[0] == '/' || HasDrive(name));
        throw EAKException(19, this, {absolute ? name : Prefix + name});
    }

    if (!options_->CreateDirs()) {
        name = platform::ExtractFileName(WithoutTrailingSlash(name));
    } else {
        const std::string folder = isDirectory ? name : platform::ExtractFilePath(name);
        // A folder on the way that is a symbolic link must not lead out of
        // the destination.
        const std::string root = platform::ResolveLinks(Prefix);
        if (!root.empty()) {
            std::string path = Prefix;
            size_t start = 0;
            while (start < folder.size()) {
                const size_t end = std::min(folder.find('/', start), folder.size());
                const std::string part = folder.substr(start, end - start);
                start = end + 1;
                if (part.empty() || part == ".") continue;
                path += part;
                if (platform::IsSymlink(path)) {
                    const std::string real = platform::ResolveLinks(path);
                    if (real.empty() || !IsInside(real, root))
                        throw EAKException(20, this, {path});
                } else if (!platform::PathExists(path)) {
                    break;
                }
                path += '/';
            }
        }
        if (!platform::ForceDirectories(Prefix + folder))
            throw EAKException(20, this, {Prefix + folder});
    }
    if (isDirectory)
        return;

    std::string target = Prefix + name;

    if (platform::FileExists(target)) {
        const int64_t existing = platform::FileGetAttr(target);
        if (!options_->ReplaceReadOnly() && existing >= 0 && (existing & faReadOnly) != 0)
            return;
        switch (options_->OverwriteMode()) {
        case omPrompt: {
            bool confirm = false;
            std::string destination = target;
            DoOnConfirmOverwrite(name, destination, confirm);
            if (!confirm)
                return;
            if (destination != target) {
                // A new destination given by the owner stays inside the
                // destination folder as well.
                const std::string expanded = platform::ExpandFileName(destination);
                if (!IsInside(expanded, platform::ExcludeTrailingPathDelimiter(platform::ExpandFileName(Prefix))))
                    throw EAKException(19, this, {destination});
                target = destination;
            }
            break;
        }
        case omAlways:
            break;
        case omNever:
            return;
        case omIfNewer:
            if (platform::FileAge(target) >= stamp)
                return;
            break;
        case omIfOlder:
            if (stamp >= platform::FileAge(target))
                return;
            break;
        }
    }

    TTempTarget temp(target);
    if (temp.Name().empty())
        throw EAKException(19, this, {target});
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(temp.Name(), fmOpenReadWrite | fmShareExclusive);
    } catch (const EFileStreamError&) {
        throw EAKException(19, this, {target});
    }

    // The temporary file goes with the TTempTarget whatever happens here.
    ExtractItemToStream(Index, *file);
    if (SkipCurrentFile || Cancelled)
        return;
    platform::FileSetDateFd(file->Handle(), stamp);
    if (options_->FlushBuffers() && IsRemovableDrive(target))
        file->Flush();
    file.reset();
    if (!temp.CommitTo(target))
        throw EAKException(19, this, {target});
    if (options_->SetAttributes())
        platform::FileSetAttr(target, attributes);
}
