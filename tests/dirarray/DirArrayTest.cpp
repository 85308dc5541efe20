// The directory item list: growth, the hashed name index and its rebuilds,
// copies, and the errors of out-of-range access.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archiver/AKExcept.h"
#include "archiver/DirArray.h"

namespace {

// Appends one item named name the way the directory reader and the add path
// do: enlarge by one, then name the new last item.
int32_t AddNamed(TAKDirArray& list, const std::string& name) {
    const int32_t i = list.GetCount();
    list.SetCount(i + 1);
    list.RenameItem(i, name);
    return i;
}

int32_t Find(TAKDirArray& list, const std::string& name) {
    int32_t index = -2;
    const bool found = list.FindName(name, index);
    EXPECT_EQ(found, index >= 0) << name;
    return index;
}

TExtraBlock Block(uint16_t id, std::vector<uint8_t> data) { return MakeExtraBlock(id, std::move(data)); }

} // namespace

TEST(DirArray, GrowthDoublesTheStepUpToTenThousand) {
    TAKDirArray list;
    list.SetCount(1);
    EXPECT_EQ(list.Capacity(), 1000);
    list.SetCount(1001);
    EXPECT_EQ(list.Capacity(), 3000);
    list.SetCount(5000);
    EXPECT_EQ(list.Capacity(), 7000);
    EXPECT_EQ(list.GetCount(), 5000);

    // From empty, one slot past the end each time: the steps themselves.
    TAKDirArray steps;
    std::vector<int32_t> grown;
    for (int k = 0; k < 6; ++k) {
        const int32_t before = steps.Capacity();
        steps.SetCount(before + 1);
        grown.push_back(steps.Capacity() - before);
    }
    EXPECT_EQ(grown, (std::vector<int32_t>{1000, 2000, 4000, 8000, 10000, 10000}));

    // A count beyond capacity + step is allocated exactly.
    TAKDirArray big;
    big.SetCount(25000);
    EXPECT_EQ(big.Capacity(), 25000);
}

TEST(DirArray, ShrinkKeepsStorageZeroReleasesIt) {
    TAKDirArray list;
    AddNamed(list, "a");
    AddNamed(list, "b");
    list.ItemAt(1).ItemPassword = "secret";
    list.SetCount(1);
    EXPECT_EQ(list.Capacity(), 1000);
    EXPECT_EQ(Find(list, "b"), -1); // a removed item is not found
    list.SetCount(2);               // a slot coming back holds no old data
    EXPECT_TRUE(list.ItemAt(1).ItemPassword.empty());
    EXPECT_TRUE(list.ItemAt(1).StoredName.empty());

    list.SetCount(0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.GrowBy(), 1000); // the step keeps its doubled value
    list.SetCount(1);
    EXPECT_EQ(list.Capacity(), 2000);
}

TEST(DirArray, LookupIgnoresCaseButNotSeparators) {
    TAKDirArray list;
    AddNamed(list, "other.txt");
    AddNamed(list, "docs/readme.txt");
    EXPECT_EQ(Find(list, "Docs/Readme.TXT"), 1);
    EXPECT_EQ(Find(list, "docs\\readme.txt"), -1);
    EXPECT_EQ(Find(list, "docs/readme.tx"), -1);
    // StoredName keeps its case; the index holds the lower-cased form.
    list.RenameItem(0, "Mixed/Case.TXT");
    EXPECT_EQ(list.ItemAt(0).StoredName, "Mixed/Case.TXT");
    EXPECT_EQ(list.Names()[0], "mixed/case.txt");
    EXPECT_EQ(Find(list, "MIXED/case.txt"), 0);
}

TEST(DirArray, TableIsDroppedPastFivePerBucketAndRebuiltLarger) {
    TAKDirArray list;
    AddNamed(list, "f0");
    EXPECT_EQ(Find(list, "F0"), 0); // first lookup builds the table
    ASSERT_NE(list.Names().NameTable(), nullptr);
    EXPECT_EQ(list.Names().NameTable()->BucketCount(), 1000u);

    for (int i = 1; i < 5000; ++i)
        AddNamed(list, "f" + std::to_string(i));
    ASSERT_NE(list.Names().NameTable(), nullptr); // 5,000 is not more than 5 per bucket
    EXPECT_TRUE(list.Names().NameTableValid());
    AddNamed(list, "f5000");
    EXPECT_EQ(list.Names().NameTable(), nullptr);
    EXPECT_FALSE(list.Names().NameTableValid());

    EXPECT_EQ(Find(list, "F4321"), 4321);
    ASSERT_NE(list.Names().NameTable(), nullptr);
    EXPECT_EQ(list.Names().NameTable()->BucketCount(), 5001u);
    for (int i = 0; i <= 5000; ++i)
        ASSERT_EQ(Find(list, "F" + std::to_string(i)), i);
    EXPECT_EQ(Find(list, "f5001"), -1);
}

TEST(DirArray, DeleteAndRenameKeepTheIndexInStep) {
    TAKDirArray list;
    for (const char* n : {"zero", "one", "two", "three"})
        AddNamed(list, n);
    ASSERT_EQ(Find(list, "two"), 2); // table built and valid

    list.RenameItem(3, "new.txt");
    EXPECT_EQ(Find(list, "NEW.TXT"), 3);
    EXPECT_EQ(Find(list, "three"), -1);

    list.ItemAt(2).SourcePath = "/src/two";
    list.Delete(0);
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.ItemAt(0).StoredName, "one");
    EXPECT_EQ(list.ItemAt(1).StoredName, "two");
    EXPECT_EQ(list.ItemAt(1).SourcePath, "/src/two");
    EXPECT_EQ(Find(list, "two"), 1);
    EXPECT_EQ(Find(list, "new.txt"), 2);
    EXPECT_EQ(Find(list, "zero"), -1);

    list.Delete(2);
    list.Delete(0);
    list.Delete(0);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(Find(list, "two"), -1);
    AddNamed(list, "again");
    EXPECT_EQ(Find(list, "AGAIN"), 0);
}

TEST(DirArray, SameNameTwice) {
    TAKDirArray list;
    AddNamed(list, "dup.txt");
    EXPECT_EQ(Find(list, "dup.txt"), 0);
    AddNamed(list, "other");
    AddNamed(list, "DUP.txt"); // entered last: it is the one found
    EXPECT_EQ(Find(list, "dup.TXT"), 2);

    // Renaming either one leaves the other findable; the index never points
    // at the renamed item under its old name.
    list.RenameItem(2, "third");
    EXPECT_EQ(Find(list, "dup.txt"), 0);
    AddNamed(list, "dup.txt");
    EXPECT_EQ(Find(list, "dup.txt"), 3);
    list.RenameItem(0, "first");
    EXPECT_EQ(Find(list, "dup.txt"), 3);
    EXPECT_EQ(Find(list, "first"), 0);
    list.RenameItem(3, "fourth");
    EXPECT_EQ(Find(list, "dup.txt"), -1);

    // After a rebuild (Delete marks the table stale) the highest index wins.
    TAKDirArray again;
    for (const char* n : {"x", "same", "y", "same", "z"})
        AddNamed(again, n);
    again.Delete(0);
    EXPECT_EQ(Find(again, "same"), 2);
}

TEST(DirArray, SetItemAndCopyFromOwnTheirBlocks) {
    TAKDirArray source;
    for (const char* n : {"a.bin", "b.bin", "c.bin"})
        AddNamed(source, n);
    TDirItem item;
    source.GetItem(1, item);
    item.StoredName = "B/Renamed.bin";
    item.ItemComment = "note";
    item.ExtraBlocks = {Block(0x5455, {1, 2, 3, 4, 5}), Block(0x000A, {9})};
    source.SetItem(1, item);
    item.ExtraBlocks[0].Data[0] = 99; // the stored record is a copy
    EXPECT_EQ(source.ItemAt(1).ExtraBlocks[0].Data[0], 1);
    EXPECT_EQ(Find(source, "b/renamed.BIN"), 1);
    EXPECT_EQ(Find(source, "b.bin"), -1);

    // Storing a slot into itself keeps its data.
    source.SetItem(1, source.ItemAt(1));
    ASSERT_EQ(source.ItemAt(1).ExtraBlocks.size(), 2u);
    EXPECT_EQ(source.ItemAt(1).ExtraBlocks[0].Data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    TAKDirArray copy;
    AddNamed(copy, "stale");
    copy.CopyFrom(source);
    source.ItemAt(1).ExtraBlocks[1].Data[0] = 42;
    source.Clear();
    EXPECT_EQ(source.GetCount(), 0);
    EXPECT_EQ(Find(source, "a.bin"), -1);

    ASSERT_EQ(copy.GetCount(), 3);
    EXPECT_EQ(Find(copy, "stale"), -1);
    EXPECT_EQ(Find(copy, "C.BIN"), 2);
    EXPECT_EQ(Find(copy, "b/renamed.bin"), 1);
    const TDirItem& c = copy.ItemAt(1);
    EXPECT_EQ(c.StoredName, "B/Renamed.bin");
    EXPECT_EQ(c.ItemComment, "note");
    ASSERT_EQ(c.ExtraBlocks.size(), 2u);
    EXPECT_EQ(c.ExtraBlocks[0].HeaderID, 0x5455);
    EXPECT_EQ(c.ExtraBlocks[0].Data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(c.ExtraBlocks[1].Data, (std::vector<uint8_t>{9}));

    copy.ItemAt(0).Selected = true;
    copy.ItemAt(2).Selected = true;
    copy.ClearSelection();
    for (int32_t i = 0; i < copy.GetCount(); ++i)
        EXPECT_FALSE(copy.ItemAt(i).Selected);
}

TEST(DirArray, ErrorCodesCarryNoComponentName) {
    TAKDirArray list;
    AddNamed(list, "one");
    AddNamed(list, "two");
    const TAKDirArray& constList = list;
    TDirItem item;
    item.StoredName = "x";

    struct Case {
        int code;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {1, [&] { list.SetItem(2, item); }},
        {1, [&] { list.SetItem(-1, item); }},
        {2, [&] { list.GetItem(2, item); }},
        {2, [&] { list.GetItem(-1, item); }},
        {3, [&] { list.ItemAt(2); }},
        {3, [&] { constList.ItemAt(-1); }},
        {4, [&] { list.Delete(2); }},
        {4, [&] { list.Delete(-1); }},
    };
    for (const Case& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << "no exception for code " << c.code;
        } catch (const EAKException& e) {
            EXPECT_EQ(e.NativeError(), c.code);
            EXPECT_EQ(e.ErrorCode(), 1);
            EXPECT_EQ(std::string(e.what()), "Index out of bounds - Native error: 0000" + std::to_string(c.code));
        }
    }
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(Find(list, "one"), 0);
    EXPECT_EQ(Find(list, "two"), 1);

    // Names out of step with the items: two unnamed items appended at once.
    list.SetCount(4);
    try {
        list.SetItem(3, item);
        ADD_FAILURE() << "no code 58";
    } catch (const EAKException& e) {
        EXPECT_EQ(e.NativeError(), 58);
        EXPECT_EQ(std::string(e.what()), "Hashed list of file names is invalid - Native error: 00058");
    }
    EXPECT_TRUE(list.ItemAt(3).StoredName.empty()); // not stored
    try {
        list.RenameItem(3, "four");
        ADD_FAILURE() << "no code 59";
    } catch (const EAKException& e) {
        EXPECT_EQ(e.NativeError(), 59);
        EXPECT_EQ(std::string(e.what()), "Hashed list of file names is invalid - Native error: 00059");
    }
    EXPECT_TRUE(list.ItemAt(3).StoredName.empty()); // nothing renamed
    EXPECT_EQ(Find(list, "four"), -1);
    // Naming them in order puts everything right.
    list.RenameItem(2, "three");
    list.RenameItem(3, "four");
    EXPECT_EQ(Find(list, "four"), 3);
}

TEST(StringHash, ChainsAndKeyHash) {
    TAKStringHash hash(7);
    // rotate-left-2 then xor: "ab" = ((0 rol 2) ^ 'a') rol 2 ^ 'b'
    EXPECT_EQ(hash.KeyHash(""), 0u);
    EXPECT_EQ(hash.KeyHash("ab"), ((0x61u << 2) ^ 0x62u));
    EXPECT_EQ(hash.KeyHash(std::string(1, '\x80') + std::string(15, '\0')), 0x20u); // 0x80 rotated by 30 bits
    EXPECT_EQ(hash.KeyHash(std::string(1, '\x01') + std::string(16, '\0')), 1u); // 16 rotations of 2 = 32 bits

    hash.Add("k", 1);
    hash.Add("k", 2); // a later entry hides the earlier one
    hash.Add("other", 3);
    EXPECT_EQ(hash.Lookup("k"), 2);
    ASSERT_NE(*hash.FindLink("other"), nullptr);
    EXPECT_EQ((*hash.FindLink("other"))->HashValue, 3);
    EXPECT_EQ(*hash.FindLink("missing"), nullptr);
    hash.Remove("k");
    EXPECT_EQ(hash.Lookup("k"), 1);
    hash.Remove("k");
    EXPECT_EQ(hash.Lookup("k"), -1);
    hash.Remove("k"); // absent: nothing happens
    hash.Clear();
    EXPECT_EQ(hash.Lookup("other"), -1);
    EXPECT_EQ(hash.BucketCount(), 7u);
    hash.Add("other", 4);
    EXPECT_EQ(hash.Lookup("other"), 4);
}

TEST(HashedStringList, CaseSensitiveKeysAndClear) {
    TAKHashedStringList list;
    list.Add("Abc");
    EXPECT_EQ(list.IndexOf("aBC"), 0);
    list.SetCaseSensitive(true);
    EXPECT_EQ(list.IndexOf("aBC"), -1);
    EXPECT_EQ(list.IndexOf("Abc"), 0);
    list.Replace(0, "Xyz");
    EXPECT_EQ(list.IndexOf("Abc"), -1);
    EXPECT_EQ(list.IndexOf("Xyz"), 0);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.IndexOf("Xyz"), -1);
    EXPECT_TRUE(list.NameTableValid()); // an empty table matches an empty list
    list.Add("Xyz");
    EXPECT_EQ(list.IndexOf("Xyz"), 0);
    EXPECT_THROW(list.Replace(1, "no"), Exception);
    EXPECT_THROW(list.Delete(-1), Exception);
}
