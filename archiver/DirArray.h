#pragma once
// The in-memory directory: items, the growable list and its hashed,
// case-insensitive name index.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archiver/AKTypes.h"
#include "container/ZipRecords.h"

struct TDirItem {
    TCentralHeaderImage Header{};          // the 46 fixed bytes, written as they stand
    std::string StoredName;                // "/" between folders; a folder ends with "/"
    std::string RawName;                   // the name bytes as the archive holds them (read or written), when known
    std::string ItemComment;
    std::vector<TExtraBlock> ExtraBlocks;  // every block read with the central entry
    bool Zip64 = false;
    int64_t UncompressedSize64 = 0;
    int64_t CompressedSize64 = 0;
    int64_t LocalHeaderOffset64 = 0;
    uint32_t Zip64DiskStart = 0;
    bool Pending = false;
    std::string ItemPassword;
    bool Selected = false;
    std::string SourcePath;
    uint8_t ItemCompressionMode = 0;
    TAKProcessOperation PendingOperation = poAdd;
};

// One entry of a hash chain.
struct THashItem {
    std::unique_ptr<THashItem> Link;
    std::string HashKey;
    int32_t HashValue = 0;
};

class TAKStringHash {
public:
    explicit TAKStringHash(uint32_t bucketCount);
    virtual ~TAKStringHash();
    TAKStringHash(const TAKStringHash&) = delete;
    TAKStringHash& operator=(const TAKStringHash&) = delete;

    void Add(const std::string& key, int32_t value);
    void Clear();
    // The link holding the first entry with this key, or the empty link at
    // the end of the chain.
    std::unique_ptr<THashItem>* FindLink(const std::string& key);
    void Remove(const std::string& key);
    int32_t Lookup(const std::string& key); // -1 when absent
    virtual uint32_t KeyHash(const std::string& key) const;
    uint32_t BucketCount() const { return bucketCount_; }

private:
    std::vector<std::unique_ptr<THashItem>> chains_;
    uint32_t bucketCount_;
};

class TAKHashedStringList {
public:
    TAKHashedStringList() = default;
    int Add(const std::string& s);              // index of the new string
    void Clear();
    void Delete(int index);
    int IndexOf(const std::string& s);          // -1 when absent
    void Replace(int index, const std::string& s);
    int Count() const { return static_cast<int>(strings_.size()); }
    const std::string& operator[](int index) const { return strings_[static_cast<size_t>(index)]; }
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool v);
    // For tests: the table, when one exists, and whether it is in step.
    const TAKStringHash* NameTable() const { return nameTable_.get(); }
    bool NameTableValid() const { return nameTableValid_; }

private:
    std::string Key(const std::string& s) const;
    std::vector<std::string> strings_;
    std::unique_ptr<TAKStringHash> nameTable_;
    bool nameTableValid_ = false;
    bool caseSensitive_ = false;
};

class TAKDirArray {
public:
    TAKDirArray() = default;
    TAKDirArray(const TAKDirArray&) = delete;
    TAKDirArray& operator=(const TAKDirArray&) = delete;

    void Clear();
    void SetCount(int32_t n);
    int32_t GetCount() const { return count_; }
    void GetItem(int32_t index, TDirItem& out) const; // code 2
    TDirItem& ItemAt(int32_t index);                  // code 3
    const TDirItem& ItemAt(int32_t index) const;      // code 3
    void SetItem(int32_t index, const TDirItem& item); // codes 1, 58
    void CopyFrom(const TAKDirArray& source);
    void Delete(int32_t index);                        // code 4
    void ClearSelection();
    bool FindName(const std::string& name, int32_t& index);
    void RenameItem(int32_t index, const std::string& newName); // code 59

    int32_t Capacity() const { return static_cast<int32_t>(slots_.size()); }
    int32_t GrowBy() const { return growBy_; }
    const TAKHashedStringList& Names() const { return names_; }

private:
    // Sets the index entry of the item at index to its lowered name; code
    // when the index is out of step with the names.
    void PutName(int32_t index, const std::string& lowered, int32_t code);

    std::vector<TDirItem> slots_;
    TAKHashedStringList names_;
    int32_t growBy_ = 500;
    static constexpr int32_t kMaxGrowBy = 10000;
    int32_t count_ = 0;
};
