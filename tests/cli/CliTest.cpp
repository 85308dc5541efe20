// End-to-end tests of the qvt command on real files.
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "tests/common/TestSupport.h"

namespace {

const std::string kQvt = QVT_CLI_PATH;

struct QvtRun {
    int status;
    std::string out;
};

// Runs qvt with the arguments, standard input from /dev/null.
QvtRun Qvt(const std::string& args) {
    QvtRun r;
    r.status = RunCommand(ShellQuote(kQvt) + " " + args + " </dev/null", &r.out);
    return r;
}

// Runs qvt the same way and keeps only what it wrote to standard error.
QvtRun QvtStderr(const std::string& args) {
    QvtRun r;
    r.status = RunCommand(ShellQuote(kQvt) + " " + args + " </dev/null 2>&1 >/dev/null", &r.out);
    return r;
}

std::string Q(const std::string& s) {
    return ShellQuote(s);
}

} // namespace

TEST(Cli, SplitAndMergeRoundTrips) {
    struct Case {
        const char* name;
        std::string options;
        size_t size;
    } cases[] = {
        {"stored", "-s 64K", 200000},
        {"deflated", "-s 64K -l 6", 300000},
        {"encrypted", "-s 1M -p s3cret", 2600000},
        {"onevolume", "", 1000},
        {"empty", "-s 64K", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder tmp;
        std::string data = RandomBytes(c.size, 7);
        if (std::string(c.name) == "deflated")
            for (size_t i = 0; i < data.size(); ++i) data[i] = "abcdefgh \n"[static_cast<unsigned char>(data[i]) % 10];
        const std::string src = tmp.File(std::string(c.name) + ".bin");
        WriteFile(src, data);
        QvtRun split = Qvt("split " + Q(src) + " " + c.options);
        ASSERT_EQ(split.status, 0) << split.out;
        EXPECT_TRUE(split.out.empty()) << split.out; // no progress without a terminal
        const std::string archive = tmp.File(std::string(c.name) + ".qvt");
        ASSERT_TRUE(platform::FileExists(archive));

        QvtRun list = Qvt("list " + Q(archive));
        ASSERT_EQ(list.status, 0) << list.out;
        EXPECT_NE(list.out.find(std::string(c.name) + ".bin"), std::string::npos) << list.out;
        EXPECT_NE(list.out.find(" 1 item"), std::string::npos) << list.out;

        QvtRun test = Qvt("test " + Q(archive) + (std::string(c.name) == "encrypted" ? " -p s3cret" : ""));
        EXPECT_EQ(test.status, 0) << test.out;
        EXPECT_NE(test.out.find("1 item tested, 0 failed"), std::string::npos) << test.out;

        const std::string back = tmp.File("back/");
        QvtRun merge = Qvt("merge " + Q(archive) + " -d " + Q(back) +
                        (std::string(c.name) == "encrypted" ? " -p s3cret" : ""));
        ASSERT_EQ(merge.status, 0) << merge.out;
        EXPECT_EQ(ReadFile(back + c.name + ".bin"), data);
    }
}

TEST(Cli, VolumeNames) {
    TempFolder tmp;
    const std::string src = tmp.File("movie.avi");
    WriteFile(src, RandomBytes(2621440, 3)); // 2.5 MiB
    QvtRun r = Qvt("split " + Q(src) + " -s 1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(platform::FileSize(tmp.File("movie_001.qvt")), 1048576);
    EXPECT_EQ(platform::FileSize(tmp.File("movie_002.qvt")), 1048576);
    EXPECT_TRUE(platform::FileExists(tmp.File("movie.qvt")));
    EXPECT_FALSE(platform::FileExists(tmp.File("movie_003.qvt")));

    // -o names the set elsewhere.
    r = Qvt("split " + Q(src) + " -s 2M -o " + Q(tmp.File("out/set.qvt")));
    EXPECT_NE(r.status, 0); // the folder does not exist
    platform::ForceDirectories(tmp.File("out"));
    r = Qvt("split " + Q(src) + " -s 2M -o " + Q(tmp.File("out/set.qvt")));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(platform::FileExists(tmp.File("out/set_001.qvt")));
    EXPECT_TRUE(platform::FileExists(tmp.File("out/set.qvt")));

    // A name with a wildcard in it takes that file only, not the neighbours it matches.
    WriteFile(tmp.File("w?ld.bin"), "one");
    WriteFile(tmp.File("wXld.bin"), "two");
    r = Qvt("split " + Q(tmp.File("w?ld.bin")));
    ASSERT_EQ(r.status, 0) << r.out;
    QvtRun list = Qvt("list " + Q(tmp.File("w?ld.qvt")));
    EXPECT_NE(list.out.find("w?ld.bin\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" 1 item"), std::string::npos) << list.out;
}

TEST(Cli, ListAndTestPeerArchives) {
    if (!HaveTool("zip") || !HaveTool("7zz")) GTEST_SKIP() << "zip or 7zz missing";
    TempFolder tmp;
    WriteFile(tmp.File("a.txt"), std::string(5000, 'a'));
    WriteFile(tmp.File("b.bin"), RandomBytes(3000, 1));
    ASSERT_EQ(RunCommand("cd " + Q(tmp.Path()) + " && zip -q info.zip a.txt b.bin && 7zz a -tzip -bd seven.zip a.txt b.bin >/dev/null"), 0);
    for (const char* name : {"info.zip", "seven.zip"}) {
        SCOPED_TRACE(name);
        QvtRun list = Qvt("list " + Q(tmp.File(name)));
        ASSERT_EQ(list.status, 0) << list.out;
        EXPECT_NE(list.out.find("Deflate"), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("a.txt"), std::string::npos);
        EXPECT_NE(list.out.find("b.bin"), std::string::npos);
        EXPECT_NE(list.out.find("8000"), std::string::npos) << list.out; // total size
        QvtRun test = Qvt("test " + Q(tmp.File(name)));
        EXPECT_EQ(test.status, 0) << test.out;
        EXPECT_NE(test.out.find("2 items tested, 0 failed"), std::string::npos) << test.out;
    }
}

TEST(Cli, ExitStatuses) {
    TempFolder tmp;
    // Wrong command lines.
    for (const char* args : {"", "frobnicate", "split", "split a b", "split x -s 10K", "split x -s abc",
                             "list x -s 5", "merge", "split x --bogus"}) {
        QvtRun r = Qvt(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.out;
        EXPECT_EQ(r.out.rfind("qvt: ", 0), 0u) << r.out;
    }
    EXPECT_EQ(Qvt("--help").status, 0);
    QvtRun v = Qvt("--version");
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("QVT Zedidoru v.0.1.2"), std::string::npos);
    EXPECT_NE(v.out.find("2.70"), std::string::npos);

    // A missing archive fails with code 12 and creates nothing.
    const std::string missing = tmp.File("nothere.qvt");
    for (const char* cmd : {"merge", "list", "test"}) {
        QvtRun r = Qvt(std::string(cmd) + " " + Q(missing));
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(r.out, "qvt: File \"" + missing + "\" not found - Native error: 00012\n");
        EXPECT_FALSE(platform::PathExists(missing));
    }

    // A damaged archive: a flipped data byte fails the check.
    const std::string src = tmp.File("d.bin");
    WriteFile(src, RandomBytes(100000, 5));
    ASSERT_EQ(Qvt("split " + Q(src)).status, 0);
    std::string bytes = ReadFile(tmp.File("d.qvt"));
    bytes[1000] ^= 0x55;
    WriteFile(tmp.File("d.qvt"), bytes);
    QvtRun test = Qvt("test " + Q(tmp.File("d.qvt")));
    EXPECT_EQ(test.status, 1) << test.out;
    EXPECT_NE(test.out.find("FAILED  d.bin"), std::string::npos) << test.out;
    // Standard error holds the archiver's own message and nothing else.
    test = QvtStderr("test " + Q(tmp.File("d.qvt")));
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(test.out, "qvt: Invalid size or check sum of file or unsupported compression format"
                        " - Native error: 00008\n");
    QvtRun merge = Qvt("merge " + Q(tmp.File("d.qvt")) + " -d " + Q(tmp.File("out")));
    EXPECT_EQ(merge.status, 1) << merge.out;
    EXPECT_NE(merge.out.find("Native error:"), std::string::npos) << merge.out;
    EXPECT_FALSE(platform::FileExists(tmp.File("out/d.bin")));

    // An encrypted set without its password (no terminal to ask on) is no success.
    const std::string secret = tmp.File("s.bin");
    WriteFile(secret, RandomBytes(70000, 9));
    ASSERT_EQ(Qvt("split " + Q(secret) + " -p right").status, 0);
    for (const char* pw : {"", " -p wrong"}) {
        SCOPED_TRACE(pw);
        QvtRun r = QvtStderr("merge " + Q(tmp.File("s.qvt")) + " -d " + Q(tmp.File("pw")) + pw);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "qvt: \"s.bin\" was not extracted: no valid password\n");
        EXPECT_FALSE(platform::FileExists(tmp.File("pw/s.bin")));
        EXPECT_EQ(Qvt("test " + Q(tmp.File("s.qvt")) + pw).status, 1);
    }

    // Refuses to replace the file it splits.
    WriteFile(tmp.File("self.qvt"), "data");
    EXPECT_EQ(Qvt("split " + Q(tmp.File("self.qvt"))).status, 2);
    EXPECT_EQ(ReadFile(tmp.File("self.qvt")), "data");
    // Nor one of the numbered volumes the split would create, nor a link to one.
    const std::string volume(200000, 'v');
    WriteFile(tmp.File("v_002.qvt"), volume);
    ASSERT_EQ(symlink(tmp.File("v_002.qvt").c_str(), tmp.File("-link").c_str()), 0);
    EXPECT_EQ(Qvt("split " + Q(tmp.File("v_002.qvt")) + " -o " + Q(tmp.File("v.qvt")) + " -s 64K").status, 2);
    std::string out;
    EXPECT_EQ(RunCommand("cd " + Q(tmp.Path()) + " && " + Q(kQvt) + " split -s 64K -o v.qvt -- -link </dev/null", &out),
              2)
        << out;
    EXPECT_EQ(ReadFile(tmp.File("v_002.qvt")), volume);
    EXPECT_FALSE(platform::FileExists(tmp.File("v_001.qvt")));
}

TEST(Cli, InterruptedSplitLeavesNoVolume) {
    TempFolder tmp;
    const std::string src = tmp.File("big.img");
    // A sparse file: large, quick to make, slow enough to split that the signal lands mid-way.
    ASSERT_EQ(RunCommand("truncate -s 3G " + Q(src)), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(kQvt.c_str(), "qvt", "split", src.c_str(), "-s", "64M", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the split has started writing volumes, then interrupt it.
    for (int i = 0; i < 200 && !platform::FileExists(tmp.File("big_002.qvt")); ++i) usleep(50000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    std::string out;
    RunCommand("ls " + Q(tmp.Path()), &out);
    EXPECT_EQ(out, "big.img\n");
}
