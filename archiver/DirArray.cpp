// The in-memory directory: the growable item list and its hashed,
// case-insensitive name index.
#include "archiver/DirArray.h"

#include <algorithm>
#include <climits>
#include <string>
#include <utility>

#include "archiver/AKExcept.h"
#include "platform/Exception.h"
#include "platform/System.h"

// ---------------------------------------------------------------------------
// TAKStringHash

TAKStringHash::TAKStringHash(uint32_t bucketCount)
    : chains_(std::max<uint32_t>(bucketCount, 1)), bucketCount_(std::max<uint32_t>(bucketCount, 1)) {}

TAKStringHash::~TAKStringHash() { Clear(); }

uint32_t TAKStringHash::KeyHash(const std::string& key) const {
    uint32_t h = 0;
    for (unsigned char b : key) {
        h = (h << 2) | (h >> 30);
        h ^= b;
    }
    return h;
}

void TAKStringHash::Add(const std::string& key, int32_t value) {
    auto item = std::make_unique<THashItem>();
    item->HashKey = key;
    item->HashValue = value;
    auto& head = chains_[KeyHash(key) % bucketCount_];
    item->Link = std::move(head);
    head = std::move(item);
}

void TAKStringHash::Clear() {
    // Unlink entry by entry: a long chain (many equal keys) must not turn
    // into a deep recursion of destructors.
    for (auto& head : chains_) {
        while (head) {
            std::unique_ptr<THashItem> next = std::move(head->Link);
            head = std::move(next);
        }
    }
}

std::unique_ptr<THashItem>* TAKStringHash::FindLink(const std::string& key) {
    std::unique_ptr<THashItem>* link = &chains_[KeyHash(key) % bucketCount_];
    while (*link && (*link)->HashKey != key)
        link = &(*link)->Link;
    return link;
}

void TAKStringHash::Remove(const std::string& key) {
    std::unique_ptr<THashItem>* link = FindLink(key);
    if (*link) {
        std::unique_ptr<THashItem> victim = std::move(*link);
        *link = std::move(victim->Link);
    }
}

int32_t TAKStringHash::Lookup(const std::string& key) {
    std::unique_ptr<THashItem>* link = FindLink(key);
    return *link ? (*link)->HashValue : -1;
}

// ---------------------------------------------------------------------------
// TAKHashedStringList

namespace {

constexpr uint32_t MinBuckets = 1000;
constexpr uint32_t MaxLoad = 5; // strings per bucket before the table is rebuilt larger

[[noreturn]] void ListIndexError(int index) {
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
}

// Unlinks the entry that maps key to exactly this index. With equal keys in
// the table, removing merely the first one could drop another string's entry.
void RemoveEntry(TAKStringHash& table, const std::string& key, int index) {
    std::unique_ptr<THashItem>* link = table.FindLink(key);
    while (*link) {
        if ((*link)->HashKey == key && (*link)->HashValue == index) {
            std::unique_ptr<THashItem> victim = std::move(*link);
            *link = std::move(victim->Link);
            return;
        }
        link = &(*link)->Link;
    }
}

} // namespace

std::string TAKHashedStringList::Key(const std::string& s) const {
    return caseSensitive_ ? s : platform::AnsiUpperCase(s);
}

void TAKHashedStringList::SetCaseSensitive(bool v) {
    if (v == caseSensitive_)
        return;
    caseSensitive_ = v;
    nameTableValid_ = false; // every key changes
}

int TAKHashedStringList::Add(const std::string& s) {
    strings_.push_back(s);
    const int index = Count() - 1;
    if (nameTable_ && nameTableValid_) {
        nameTable_->Add(Key(s), index);
        if (strings_.size() > static_cast<size_t>(MaxLoad) * nameTable_->BucketCount()) {
            nameTable_.reset();
            nameTableValid_ = false;
        }
    }
    return index;
}

void TAKHashedStringList::Clear() {
    strings_.clear();
    // An empty table matches an empty list, so its validity stands.
    if (nameTable_)
        nameTable_->Clear();
}

void TAKHashedStringList::Delete(int index) {
    if (index < 0 || index >= Count())
        ListIndexError(index);
    strings_.erase(strings_.begin() + index);
    nameTableValid_ = false; // later indexes moved down
}

int TAKHashedStringList::IndexOf(const std::string& s) {
    const size_t count = strings_.size();
    // A stale table that the list has outgrown is rebuilt larger, not refilled.
    if (nameTable_ && !nameTableValid_ && count > static_cast<size_t>(MaxLoad) * nameTable_->BucketCount())
        nameTable_.reset();
    if (!nameTable_) {
        const uint32_t buckets = static_cast<uint32_t>(std::max<size_t>(count, MinBuckets));
        nameTable_ = std::make_unique<TAKStringHash>(buckets);
        nameTableValid_ = false;
    }
    if (!nameTableValid_) {
        nameTable_->Clear();
        for (size_t i = 0; i < count; ++i)
            nameTable_->Add(Key(strings_[i]), static_cast<int32_t>(i));
        nameTableValid_ = true;
    }
    return nameTable_->Lookup(Key(s));
}

void TAKHashedStringList::Replace(int index, const std::string& s) {
    if (index < 0 || index >= Count())
        ListIndexError(index);
    // A stale table is refilled at the next lookup anyway.
    const bool keepTable = nameTable_ && nameTableValid_;
    if (keepTable)
        RemoveEntry(*nameTable_, Key(strings_[static_cast<size_t>(index)]), index);
    strings_[static_cast<size_t>(index)] = s;
    if (keepTable)
        nameTable_->Add(Key(s), index);
}

// ---------------------------------------------------------------------------
// TAKDirArray

namespace {
[[noreturn]] void Raise(int code) { throw EAKException(code, nullptr); }
} // namespace

void TAKDirArray::Clear() {
    for (int32_t i = 0; i < count_; ++i)
        slots_[static_cast<size_t>(i)] = TDirItem{};
    count_ = 0;
    names_.Clear();
}

void TAKDirArray::SetCount(int32_t n) {
    if (n < 0)
        throw Exception("Invalid item count (" + std::to_string(n) + ")");
    if (n > Capacity()) {
        growBy_ = std::min(growBy_ * 2, kMaxGrowBy);
        const int64_t grown = static_cast<int64_t>(Capacity()) + growBy_;
        const int32_t newCapacity = grown > n ? static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX)) : n;
        slots_.resize(static_cast<size_t>(newCapacity)); // new slots are empty items
    } else if (n == 0) {
        std::vector<TDirItem>().swap(slots_);
    } else {
        // Slots past the new end hold no live data: empty them so that a
        // later growth within the capacity starts from empty items.
        for (int32_t i = n; i < count_; ++i)
            slots_[static_cast<size_t>(i)] = TDirItem{};
    }
    // Names of items that no longer exist must not be found.
    while (names_.Count() > n)
        names_.Delete(names_.Count() - 1);
    count_ = n;
}

void TAKDirArray::GetItem(int32_t index, TDirItem& out) const {
    if (index < 0 || index >= count_)
        Raise(2);
    out = slots_[static_cast<size_t>(index)];
}

TDirItem& TAKDirArray::ItemAt(int32_t index) {
    if (index < 0 || index >= count_)
        Raise(3);
    return slots_[static_cast<size_t>(index)];
}

const TDirItem& TAKDirArray::ItemAt(int32_t index) const {
    if (index < 0 || index >= count_)
        Raise(3);
    return slots_[static_cast<size_t>(index)];
}

void TAKDirArray::SetItem(int32_t index, const TDirItem& item) {
    if (index < 0 || index >= count_)
        Raise(1);
    // Copy first: item may be the very slot being replaced.
    TDirItem copy = item;
    PutName(index, platform::AnsiLowerCase(copy.StoredName), 58);
    slots_[static_cast<size_t>(index)] = std::move(copy);
}

void TAKDirArray::PutName(int32_t index, const std::string& lowered, int32_t code) {
    // The names are kept index for index with the items, so the entry at
    // index is the item's own whatever its StoredName says now (a caller may
    // have set it directly, or another item may share it). A new last item
    // has no entry yet and gets one appended; any other gap means the index
    // is out of step.
    if (index < names_.Count())
        names_.Replace(index, lowered);
    else if (index == names_.Count())
        names_.Add(lowered);
    else
        Raise(code);
}

void TAKDirArray::CopyFrom(const TAKDirArray& source) {
    if (&source == this)
        return;
    Clear();
    SetCount(source.count_);
    for (int32_t i = 0; i < source.count_; ++i)
        SetItem(i, source.slots_[static_cast<size_t>(i)]);
}

void TAKDirArray::Delete(int32_t index) {
    if (index < 0 || index >= count_)
        Raise(4);
    if (index < names_.Count())
        names_.Delete(index);
    auto first = slots_.begin() + index;
    auto end = slots_.begin() + count_;
    std::move(first + 1, end, first);
    slots_[static_cast<size_t>(count_ - 1)] = TDirItem{};
    SetCount(count_ - 1);
}

void TAKDirArray::ClearSelection() {
    for (int32_t i = 0; i < count_; ++i)
        slots_[static_cast<size_t>(i)].Selected = false;
}

bool TAKDirArray::FindName(const std::string& name, int32_t& index) {
    index = names_.IndexOf(platform::AnsiLowerCase(name));
    if (index >= count_)
        index = -1;
    return index >= 0;
}

void TAKDirArray::RenameItem(int32_t index, const std::string& newName) {
    TDirItem& item = ItemAt(index);
    PutName(index, platform::AnsiLowerCase(newName), 59);
    item.StoredName = newName;
}
