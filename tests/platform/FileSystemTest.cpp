// Attributes, MS-DOS stamps, enumeration with masks and attribute filters, paths.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

TEST(FileAttributes, MapToPermissionsDotNamesAndKinds)
{
    TempFolder tmp;
    const std::string f = tmp.File("plain.txt");
    WriteFile(f, "x");
    ASSERT_EQ(mkdir(tmp.File("sub").c_str(), 0755), 0);
    WriteFile(tmp.File(".hidden"), "h");

    EXPECT_EQ(FileGetAttr(f), faArchive);
    EXPECT_EQ(FileGetAttr(tmp.File("sub")), faDirectory);
    EXPECT_EQ(FileGetAttr(tmp.File("sub/")), faDirectory);
    EXPECT_EQ(FileGetAttr(tmp.File(".hidden")), faArchive | faHidden);
    EXPECT_EQ(FileGetAttr(tmp.File("missing")), -1);

    ASSERT_TRUE(FileSetAttr(f, faReadOnly | faArchive));
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(FileGetAttr(f), faArchive | faReadOnly);
    ASSERT_TRUE(FileSetAttr(f, faArchive | faHidden | faSysFile)); // other bits ignored
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(FileGetAttr(f), faArchive);
    EXPECT_FALSE(FileSetAttr(tmp.File("missing"), 0));

    EXPECT_TRUE(FileExists(f));
    EXPECT_FALSE(FileExists(tmp.File("sub")));
    EXPECT_TRUE(DirectoryExists(tmp.File("sub")));
    EXPECT_FALSE(DirectoryExists(f));
    // A link reports its target; a dangling link is still an entry.
    ASSERT_EQ(symlink("sub", tmp.File("linkdir").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", tmp.File("dangling").c_str()), 0);
    EXPECT_EQ(FileGetAttr(tmp.File("linkdir")), faDirectory);
    EXPECT_TRUE(IsSymlink(tmp.File("linkdir")));
    EXPECT_FALSE(IsSymlink(tmp.File("sub")));
    EXPECT_TRUE(FileExists(tmp.File("dangling")));
    EXPECT_TRUE(PathExists(tmp.File("dangling")));
    EXPECT_TRUE(DeleteFile(tmp.File("dangling")));
    EXPECT_FALSE(PathExists(tmp.File("dangling")));
}

TEST(DosStamps, RoundTripAndRange)
{
    TempFolder tmp;
    const std::string f = tmp.File("d.txt");
    WriteFile(f, "x");
    // 2021-06-15 13:45:30 local time.
    const int32_t stamp = static_cast<int32_t>(((2021u - 1980) << 25) | (6u << 21) | (15u << 16) | (13u << 11) | (45u << 5) | 15u);
    ASSERT_TRUE(FileSetDate(f, stamp));
    EXPECT_EQ(FileAge(f), stamp);
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    struct tm lt {};
    localtime_r(&st.st_mtime, &lt);
    EXPECT_EQ(lt.tm_year + 1900, 2021);
    EXPECT_EQ(lt.tm_mon + 1, 6);
    EXPECT_EQ(lt.tm_mday, 15);
    EXPECT_EQ(lt.tm_hour, 13);
    EXPECT_EQ(lt.tm_min, 45);
    EXPECT_EQ(lt.tm_sec, 30);
    EXPECT_EQ(FileAge(tmp.File("missing")), -1);

    // Odd seconds round down to the two-second grid.
    EXPECT_EQ(UnixToDosDateTime(DosDateTimeToUnix(stamp) + 1), stamp);
    // Before 1980: the first moment a stamp can hold.
    EXPECT_EQ(UnixToDosDateTime(0), 0x00210000);
    EXPECT_EQ(UnixToDosDateTime(-100000), 0x00210000);
    // Impossible fields do not roll over into another month.
    const int32_t feb31 = static_cast<int32_t>(((2021u - 1980) << 25) | (2u << 21) | (31u << 16));
    const int64_t t = DosDateTimeToUnix(feb31);
    const time_t tt = static_cast<time_t>(t);
    localtime_r(&tt, &lt);
    EXPECT_EQ(lt.tm_mon + 1, 2);
    const int32_t now = NowDosDateTime();
    EXPECT_GT((static_cast<uint32_t>(now) >> 25) + 1980, 2020u);
}

std::vector<std::string> Names(const std::vector<TSearchRec>& recs)
{
    std::vector<std::string> n;
    for (const auto& r : recs) n.push_back(r.Name);
    return n;
}

TEST(FindFiles, MaskAndAttributeFilter)
{
    TempFolder tmp;
    WriteFile(tmp.File("a.txt"), "12345");
    WriteFile(tmp.File("B.TXT"), "1");
    WriteFile(tmp.File("c.dat"), "");
    WriteFile(tmp.File("noext"), "");
    WriteFile(tmp.File(".secret.txt"), "");
    ASSERT_EQ(mkdir(tmp.File("dir.txt").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp.File(".hdir").c_str(), 0755), 0);

    using V = std::vector<std::string>;
    EXPECT_EQ(Names(FindFiles(tmp.File("*.txt"), faArchive)), (V{"B.TXT", "a.txt"}));
    EXPECT_EQ(Names(FindFiles(tmp.File("*.TXT"), faArchive | faHidden)), (V{".secret.txt", "B.TXT", "a.txt"}));
    EXPECT_EQ(Names(FindFiles(tmp.File("*.txt"), faArchive | faDirectory)), (V{"B.TXT", "a.txt", "dir.txt"}));
    EXPECT_EQ(Names(FindFiles(tmp.File("*.*"), faAnyFile)),
              (V{".", "..", ".hdir", ".secret.txt", "B.TXT", "a.txt", "c.dat", "dir.txt", "noext"}));
    EXPECT_EQ(Names(FindFiles(tmp.File("*"), faDirectory)), (V{".", "..", "B.TXT", "a.txt", "c.dat", "dir.txt", "noext"}));
    EXPECT_EQ(Names(FindFiles(tmp.File("?.dat"), 0)), (V{"c.dat"}));
    // A trailing ".*" also stands for no extension, as in "*.*".
    EXPECT_EQ(Names(FindFiles(tmp.File("NOEXT.*"), 0)), (V{"noext"}));
    EXPECT_EQ(Names(FindFiles(tmp.File("c.*"), 0)), (V{"c.dat"}));
    EXPECT_TRUE(FindFiles(tmp.File("missing/*.*"), faAnyFile).empty());

    const auto recs = FindFiles(tmp.File("a.txt"), 0);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].Size, 5);
    EXPECT_EQ(recs[0].Attr, faArchive);
    EXPECT_EQ(recs[0].Time, FileAge(tmp.File("a.txt")));

    // Relative patterns read the current folder and return bare names.
    const std::string old = GetCurrentDir();
    ASSERT_EQ(chdir(tmp.Path().c_str()), 0);
    const auto rel = Names(FindFiles("*.dat", 0));
    ASSERT_EQ(chdir(old.c_str()), 0);
    EXPECT_EQ(rel, (V{"c.dat"}));
}

TEST(Folders, ForceDirectoriesRenameDelete)
{
    TempFolder tmp;
    EXPECT_TRUE(ForceDirectories(tmp.File("x/y/z/")));
    EXPECT_TRUE(DirectoryExists(tmp.File("x/y/z")));
    EXPECT_TRUE(ForceDirectories(tmp.File("x/y")));
    WriteFile(tmp.File("x/file"), "f");
    EXPECT_FALSE(ForceDirectories(tmp.File("x/file/sub")));
    EXPECT_EQ(FileSize(tmp.File("x/file")), 1);
    EXPECT_EQ(FileSize(tmp.File("x/none")), -1);
    WriteFile(tmp.File("x/other"), "other");
    EXPECT_TRUE(RenameFile(tmp.File("x/other"), tmp.File("x/file"))); // replaces
    EXPECT_EQ(ReadFile(tmp.File("x/file")), "other");
    EXPECT_FALSE(RemoveDir(tmp.File("x/y")));
    EXPECT_TRUE(RemoveDir(tmp.File("x/y/z")));
    EXPECT_FALSE(DeleteFile(tmp.File("x/y")));
    EXPECT_TRUE(CreateDir(tmp.File("x/new")));
    EXPECT_FALSE(CreateDir(tmp.File("x/new")));
}

TEST(Paths, ExpandAndRelativeRules)
{
    const std::string cwd = GetCurrentDir();
    struct Case { const char* in; std::string out; } expand[] = {
        {"/a/b/../c", "/a/c"},
        {"/a/./b/", "/a/b/"},
        {"/../../x", "/x"},
        {"/a/b/..", "/a"},
        {"//a///b", "/a/b"},
        {"/", "/"},
        {"/a/..", "/"},
        {"rel/x", cwd == "/" ? "/rel/x" : cwd + "/rel/x"},
        {".", cwd},
    };
    for (const auto& c : expand) EXPECT_EQ(ExpandFileName(c.in), c.out) << c.in;

    struct Rel { const char* base; const char* dest; const char* out; } rel[] = {
        {"/a/b/file.zip", "/a/b/c/d.txt", "c/d.txt"},
        {"/a/b/file.zip", "/a/x/d.txt", "../x/d.txt"},
        {"/a/b/", "/a/b/d.txt", "d.txt"},
        {"/a/b", "/a/b/d.txt", "b/d.txt"},       // base's folder part is /a/
        {"/a/b/c/", "/x/y.txt", "../../../x/y.txt"},
        {"/a/b/", "/a/bc/d", "../bc/d"},          // whole components only
        {"/a/b/", "/a/b/../c/./d", "../c/d"},
        {"/a/B/", "/a/b/d", "../b/d"},            // names are case-sensitive here
        {"/a/", "/a/sub/", "sub/"},
    };
    for (const auto& c : rel) EXPECT_EQ(ExtractRelativePath(c.base, c.dest), c.out) << c.base << " -> " << c.dest;

    struct Parts { const char* in; const char* path; const char* dir; const char* name; const char* ext; } parts[] = {
        {"/a/b.c/d.tar.gz", "/a/b.c/", "/a/b.c", "d.tar.gz", ".gz"},
        {"/a/b.c/d", "/a/b.c/", "/a/b.c", "d", ""},
        {"/f", "/", "/", "f", ""},
        {"name", "", "", "name", ""},
        {"dir/.profile", "dir/", "dir", ".profile", ".profile"},
        {"/a/", "/a/", "/a", "", ""},
    };
    for (const auto& c : parts) {
        EXPECT_EQ(ExtractFilePath(c.in), c.path) << c.in;
        EXPECT_EQ(ExtractFileDir(c.in), c.dir) << c.in;
        EXPECT_EQ(ExtractFileName(c.in), c.name) << c.in;
        EXPECT_EQ(ExtractFileExt(c.in), c.ext) << c.in;
    }
    EXPECT_EQ(ChangeFileExt("/a.b/c.txt", ".qvt"), "/a.b/c.qvt");
    EXPECT_EQ(ChangeFileExt("/a.b/c", ".qvt"), "/a.b/c.qvt");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/"), "/a");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

} // namespace
