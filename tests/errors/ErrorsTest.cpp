// Error codes, message texts and the archiver exception's message format.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>

#include "archiver/AKConst.h"
#include "archiver/AKExcept.h"
#include "platform/Component.h"

namespace {

struct CodeRow {
    int code;
    int index;
    const char* text;
};

// Every code with the message index and the text users see.
const CodeRow kCodes[] = {
    {0, 0, "Unknown error"},
    {1, 1, "Index out of bounds"},
    {2, 1, "Index out of bounds"},
    {3, 1, "Index out of bounds"},
    {4, 1, "Index out of bounds"},
    {5, 2, "Invalid compression mode. Mode must be in [0-9] range"},
    {6, 3, "Unexpected nil pointer"},
    {7, 1, "Index out of bounds"},
    {8, 4, "Invalid size or check sum of file or unsupported compression format"},
    {9, 5, "File name is blank. Specify appropriate file name"},
    {10, 5, "File name is blank. Specify appropriate file name"},
    {11, 6, "File \"%s\" not found"},
    {12, 6, "File \"%s\" not found"},
    {13, 7, "Archive is not open"},
    {14, 7, "Archive is not open"},
    {15, 6, "File \"%s\" not found"},
    {16, 1, "Index out of bounds"},
    {17, 8, "SFXStub property is not specified"},
    {18, 6, "File \"%s\" not found"},
    {19, 9, "Cannot create file \"%s\""},
    {20, 10, "Cannot create directory \"%s\""},
    {21, 1, "Index out of bounds"},
    {22, 11, "Internal error. Update is not started"},
    {23, 9, "Cannot create file \"%s\""},
    {24, 1, "Index out of bounds"},
    {25, 11, "Internal error. Update is not started"},
    {26, 13, "Cannot proceed when update is not ended. Preceding EndUpdate call is required."},
    {27, 14, "Cannot delete file \"%s\""},
    {28, 15, "In-memory archive can be created only"},
    {29, 5, "File name is blank. Specify appropriate file name"},
    {30, 6, "File \"%s\" not found"},
    {31, 6, "File \"%s\" not found"},
    {32, 16, "File is open in read-only mode"},
    {33, 12, "Cannot open file \"%s\""},
    {34, 17, "Invalid compressed size, rfs.size = %d, count = %d"},
    {35, 18, "Invalid archive file."},
    {36, 19, "Cannot create output file. Probably file is locked by another process. FileName = '%s'."},
    {37, 20, "Archive is open. You should close it beore performing this operation."},
    {38, 6, "File \"%s\" not found"},
    {39, 21, "Unable to create directory"},
    {40, 22, "Cannot find Zip64 directory end record"},
    {41, 23, "Cannot compress file '%s'. Zip64 mode is not enabled"},
    {42, 6, "File \"%s\" not found"},
    {43, 23, "Cannot compress file '%s'. Zip64 mode is not enabled"},
    {44, 24, "Cannot open archive file. Opening aborted or invalid file"},
    {45, 24, "Cannot open archive file. Opening aborted or invalid file"},
    {46, 25, "Write to stream error"},
    {47, 26, "Cannot place SFX stub on volume. Volume size limit is too small"},
    {48, 27, "Archive is damaged. Open failed"},
    {49, 28, "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX"},
    {50, 29, "Archive already has SFX stub"},
    {51, 30, "Multi-volume archive is not allowed for custom stream"},
    {52, 31, "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several times"},
    {53, 6, "File \"%s\" not found"},
    {54, 6, "File \"%s\" not found"},
    {55, 32, "Deflate64 compression method is not supported"},
    {56, 33, "MakeSFX error"},
    {57, 27, "Archive is damaged. Open failed"},
    {58, 34, "Hashed list of file names is invalid"},
    {59, 34, "Hashed list of file names is invalid"},
    {60, 35, "Cannot delete folder \"%s\""},
};

std::string Digits(int code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%05d", code);
    return buf;
}

class Named : public TComponent {
public:
    explicit Named(const std::string& name) { SetName(name); }
};

} // namespace

TEST(ErrorTables, EveryCodeHasItsIndexAndText) {
    ASSERT_EQ(std::size(kCodes), static_cast<size_t>(AKCodeCount));
    bool indexUsed[AKMessageCount] = {};
    for (int n = 0; n < AKCodeCount; ++n) {
        const CodeRow& row = kCodes[n];
        SCOPED_TRACE(row.code);
        EXPECT_EQ(ErrorCodeTable[n].Code, row.code);
        EXPECT_EQ(ErrorCodeTable[n].MessageIndex, row.index);
        ASSERT_GE(row.index, 0);
        ASSERT_LT(row.index, AKMessageCount);
        EXPECT_STREQ(ErrorMessages[row.index], row.text);
        indexUsed[row.index] = true;

        EAKException e(row.code, nullptr);
        EXPECT_EQ(e.NativeError(), row.code);
        EXPECT_EQ(e.ErrorCode(), row.index);
        EXPECT_EQ(e.Message(), std::string(row.text) + " - Native error: " + Digits(row.code));
    }
    for (int i = 0; i < AKMessageCount; ++i) EXPECT_TRUE(indexUsed[i]) << "message " << i << " unused";
}

TEST(ArchiverException, MessageForms) {
    Named zip("zip");
    Named unnamed("");
    struct Case {
        const char* what;
        EAKException e;
        const char* message;
        int index;
    } cases[] = {
        {"named source", EAKException(13, &zip), "zip: Archive is not open - Native error: 00013", 7},
        {"no source", EAKException(13, nullptr), "Archive is not open - Native error: 00013", 7},
        {"empty name", EAKException(13, &unnamed), "Archive is not open - Native error: 00013", 7},
        {"unknown code", EAKException(99, nullptr), "Unknown error - Native error: 00099", 0},
        {"unknown code, named", EAKException(99, &zip), "zip: Unknown error - Native error: 00099", 0},
        {"code 0", EAKException(0, nullptr), "Unknown error - Native error: 00000", 0},
        {"CreateFmt string", EAKException(12, &zip, {std::string("/tmp/a.qvt")}),
         "zip: File \"/tmp/a.qvt\" not found - Native error: 00012", 6},
        {"Create keeps the placeholder", EAKException(12, &zip), "zip: File \"%s\" not found - Native error: 00012", 6},
        {"CreateFmt integers", EAKException(34, &zip, {int64_t{10}, int64_t{20}}),
         "zip: Invalid compressed size, rfs.size = 10, count = 20 - Native error: 00034", 17},
        {"unused argument ignored", EAKException(28, &zip, {std::string("/tmp/a.qvt")}),
         "zip: In-memory archive can be created only - Native error: 00028", 15},
        {"missing argument left", EAKException(34, nullptr, {int64_t{5}}),
         "Invalid compressed size, rfs.size = 5, count = %d - Native error: 00034", 17},
        {"five digits at most padded", EAKException(123456, nullptr), "Unknown error - Native error: 123456", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.e.Message(), c.message);
        EXPECT_STREQ(c.e.what(), c.message);
        EXPECT_EQ(c.e.ErrorCode(), c.index);
    }
}

TEST(ArchiverException, NameAndArgumentsAreNotReformatted) {
    Named odd("a%sb");
    EAKException e(12, &odd, {std::string("%d%s")});
    EXPECT_EQ(e.Message(), "a%sb: File \"%d%s\" not found - Native error: 00012");
}

TEST(ArchiverException, IsThePlatformException) {
    Named zip("zip");
    try {
        throw EAKException(45, &zip);
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "zip: Cannot open archive file. Opening aborted or invalid file - Native error: 00045");
        EXPECT_EQ(e.HelpContext(), 0);
    }
}

TEST(Prompts, Texts) {
    const std::pair<const char*, const char*> prompts[] = {
        {SOverwritePrompt, "Overwrite file \"%s\" with \"%s\""},
        {SPasswordCaption, "Password for \"%s\""},
        {SPasswordPrompt, "Enter password: "},
        {SProcessFileFailure, "%s. File processing error, possibly disk is full"},
        {SInsertBlankDisk, "Please insert a blank disk #%d"},
        {SInsertFirstDisk, "Please insert the first disk"},
        {SInsertLastDisk, "Please insert the last disk"},
        {SLastDiskNotFound, "File '%s' not found on inserted disk. Please insert last disk with required file"},
        {SInsertDisk, "Please insert disk #%d"},
        {SDiskFull, "Disk is full. Required free space: %d bytes, but available only: %d bytes. Clean the disk or "
                    "find another blank disk"},
        {SCannotSetSpanningMode, "Cannot set spanning mode on open archive"},
    };
    for (const auto& [actual, expected] : prompts) EXPECT_STREQ(actual, expected);
}
