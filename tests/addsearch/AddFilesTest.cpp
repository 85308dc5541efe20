// AddFiles from end to end: what the search selects is what lands in the
// archive, checked with Python's zipfile as an independent reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archiver/Arkiva.h"
#include "platform/FileSystem.h"
#include "tests/common/TestSupport.h"

namespace {

// The names and contents of an archive as Python's zipfile reads them, one
// "name=content" line each, in directory order; "error" when it cannot.
std::string ZipfileListing(const std::string& archive) {
    const std::string script = "import sys, zipfile\n"
                               "z = zipfile.ZipFile(sys.argv[1])\n"
                               "assert z.testzip() is None\n"
                               "for i in z.infolist(): print(i.filename + '=' + z.read(i).decode())\n";
    std::string out;
    if (RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(archive), &out) != 0) return "error: " + out;
    return out;
}

TEST(AddFiles, TakesInTheSelectionButNeverTheArchiveItself) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    TempFolder tmp;
    const std::string base = tmp.File("base/");
    std::filesystem::create_directories(base + "sub");
    WriteFile(base + "a.txt", "alpha");
    WriteFile(base + "sub/b.txt", "beta");
    WriteFile(base + ".hidden", "hidden");

    // The archive lies in the folder being added and matches the mask.
    const std::string archive = base + "out.zip";
    {
        TArkiva ar;
        ar.SetFileName(archive);
        ar.SetBaseDir(base);
        ar.OpenArchive();
        ar.AddFiles("*.*", faArchive | faReadOnly, "");
        ar.CloseArchive();
    }
    EXPECT_EQ(ZipfileListing(archive), "a.txt=alpha\nsub/b.txt=beta\n");
}

TEST(AddFiles, TheSplittersCallStoresOneFileUnderItsBareName) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    TempFolder tmp;
    const std::string source = tmp.File("data/.big.bin");
    std::filesystem::create_directories(tmp.File("data/inner"));
    WriteFile(source, "payload");
    WriteFile(tmp.File("data/inner/other.bin"), "not this");
    const std::string archive = tmp.File("out/set.qvt");
    std::filesystem::create_directories(tmp.File("out"));
    {
        TArkiva ar;
        ar.Options().SetStorePath(spNoPath);
        ar.Options().SetOEMFileNames(true);
        ar.SetCompressionMode(0);
        ar.SetFileName(archive);
        ar.SetBaseDir(tmp.File("data"));
        ar.OpenArchive();
        ar.AddFiles(source, 10431, "");
        ar.CloseArchive();
    }
    EXPECT_EQ(ZipfileListing(archive), ".big.bin=payload\n");
}

} // namespace
