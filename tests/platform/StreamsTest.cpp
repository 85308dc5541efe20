// File and memory streams: share-mode locking, creation, sizes beyond 4 GiB,
// moving bytes from one stream into another.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/Streams.h"
#include "tests/common/TestSupport.h"

namespace {

bool Opens(const std::string& name, uint16_t mode)
{
    try {
        TFileStream s(name, mode);
        return true;
    } catch (const EFOpenError&) {
        return false;
    }
}

TEST(FileStreamSharing, SecondOpenObeysTheFirstOnesShareMode)
{
    TempFolder tmp;
    const std::string f = tmp.File("a.bin");
    WriteFile(f, "data");
    const uint16_t rwDenyWrite = fmOpenReadWrite | fmShareDenyWrite;   // 34
    const uint16_t readDenyNone = fmOpenRead | fmShareDenyNone;        // 64
    const uint16_t rwDenyNone = fmOpenReadWrite | fmShareDenyNone;     // 66
    struct Case { uint16_t first, second; bool secondOpens; } cases[] = {
        {rwDenyWrite, rwDenyWrite, false},
        {rwDenyNone, rwDenyWrite, false},   // a writer has it: deny-write fails
        {rwDenyWrite, rwDenyNone, false},   // writers are denied
        {fmOpenWrite | fmShareDenyNone, rwDenyWrite, false},
        {fmOpenRead | fmShareExclusive, fmOpenWrite | fmShareDenyNone, false},
        {readDenyNone, readDenyNone, true},
        {readDenyNone, rwDenyWrite, true},  // readers deny nothing
        {rwDenyWrite, readDenyNone, true},  // automatic mode's read-only fallback
        {rwDenyNone, rwDenyNone, true},
        {fmOpenRead | fmShareCompat, readDenyNone, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "first " << c.first << " second " << c.second);
        TFileStream first(f, c.first);
        EXPECT_EQ(Opens(f, c.second), c.secondOpens);
    }
    // All locks are gone with their streams.
    EXPECT_TRUE(Opens(f, rwDenyWrite));
}

TEST(FileStreamSharing, RefusedOpenNamesFileAndReason)
{
    TempFolder tmp;
    const std::string f = tmp.File("busy.bin");
    WriteFile(f, "x");
    TFileStream first(f, fmOpenReadWrite | fmShareDenyWrite);
    try {
        TFileStream second(f, fmOpenReadWrite | fmShareDenyWrite);
        FAIL() << "second open succeeded";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + f + "\". ", 0), 0u) << e.what();
    }
}

TEST(FileStreamSharing, WriterInAnotherProcessDeniesDenyWriteOpen)
{
    TempFolder tmp;
    const std::string f = tmp.File("shared.bin");
    WriteFile(f, "data");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int rc = 0;
        try {
            TFileStream writer(f, fmOpenReadWrite | fmShareDenyNone);
            char c = 'r';
            if (write(ready[1], &c, 1) != 1) rc = 2;
            if (read(release[0], &c, 1) != 1) rc = 3;
        } catch (...) {
            rc = 1;
        }
        _exit(rc);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_FALSE(Opens(f, fmOpenReadWrite | fmShareDenyWrite));
    EXPECT_TRUE(Opens(f, fmOpenRead | fmShareDenyNone));
    ASSERT_EQ(write(release[1], &c, 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(Opens(f, fmOpenReadWrite | fmShareDenyWrite));
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST(FileStreamCreate, TruncatesAndRefusesASecondCreator)
{
    TempFolder tmp;
    const std::string f = tmp.File("c.bin");
    WriteFile(f, "old content");
    {
        TFileStream s(f, fmCreate);
        EXPECT_EQ(s.Size(), 0);
        s.WriteBuffer("new", 3);
        // A second create must neither succeed nor truncate the first one's file.
        EXPECT_THROW(TFileStream(f, fmCreate), EFCreateError);
        EXPECT_EQ(s.Size(), 3);
        s.SetPosition(0);
        char buf[3];
        s.ReadBuffer(buf, 3); // created read-write
        EXPECT_EQ(std::string(buf, 3), "new");
    }
    EXPECT_EQ(ReadFile(f), "new");
}

TEST(FileStreamCreate, ErrorsNameTheFileAndTheSystemReason)
{
    TempFolder tmp;
    const std::string missing = tmp.File("none/x.bin");
    try {
        TFileStream s(missing, fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + missing + "\". " + std::strerror(ENOENT));
    }
    try {
        TFileStream s(missing, fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". " + std::strerror(ENOENT));
    }
    // A folder is not a file, even for reading.
    EXPECT_THROW(TFileStream(tmp.Path(), fmOpenRead | fmShareDenyNone), EFOpenError);
    EXPECT_THROW(TFileStream(tmp.Path(), fmCreate), EFCreateError);
}

TEST(FileStreamSize, SetSizeTruncatesAndKeepsOrClampsThePosition)
{
    TempFolder tmp;
    const std::string f = tmp.File("s.bin");
    TFileStream s(f, fmCreate);
    const std::string bytes = RandomBytes(1000, 7);
    s.WriteBuffer(bytes.data(), 1000);
    s.SetPosition(100);
    s.SetSize(500);
    EXPECT_EQ(s.Size(), 500);
    EXPECT_EQ(s.Position(), 100);
    s.SetPosition(400);
    s.SetSize(200);
    EXPECT_EQ(s.Position(), 200);
    s.SetSize(300); // extends with zeros
    EXPECT_EQ(ReadFile(f), bytes.substr(0, 200) + std::string(100, '\0'));
    EXPECT_THROW(s.SetSize(-1), EInOutError);
    EXPECT_THROW(s.Seek(-1, SeekOrigin::Begin), EInOutError);
    TFileStream r(f, fmOpenRead);
    EXPECT_THROW(r.SetSize(0), EInOutError); // not open for writing
}

TEST(FileStreamSize, PositionsBeyondFourGiB)
{
    TempFolder tmp;
    const std::string f = tmp.File("big.bin");
    const int64_t fiveGiB = int64_t(5) << 30;
    {
        TFileStream s(f, fmCreate);
        EXPECT_EQ(s.Seek(fiveGiB, SeekOrigin::Begin), fiveGiB);
        s.WriteBuffer("tail", 4);
        EXPECT_EQ(s.Size(), fiveGiB + 4);
        EXPECT_EQ(s.Position(), fiveGiB + 4);
        EXPECT_TRUE(s.Flush());
    }
    TFileStream r(f, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(r.Size(), fiveGiB + 4);
    EXPECT_EQ(r.Seek(-4, SeekOrigin::End), fiveGiB);
    char buf[8];
    EXPECT_EQ(r.Read(buf, 8), 4); // short at the end, no error
    EXPECT_EQ(std::string(buf, 4), "tail");
    EXPECT_EQ(r.Read(buf, 8), 0);
    r.SetPosition(fiveGiB - 2);
    EXPECT_THROW(r.ReadBuffer(buf, 8), EReadError);
}

TEST(MemoryStream, SeekBeyondEndWriteSetSizeAndCopies)
{
    TMemoryStream m;
    m.Seek(10, SeekOrigin::Begin);
    EXPECT_EQ(m.Size(), 0);
    m.WriteBuffer("ab", 2);
    EXPECT_EQ(m.Size(), 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), 12), std::string(10, '\0') + "ab");
    EXPECT_THROW(m.Seek(-13, SeekOrigin::End), EInOutError);
    m.SetSize(11);
    EXPECT_EQ(m.Position(), 11);
    char c;
    EXPECT_EQ(m.Read(&c, 1), 0);
    EXPECT_THROW(m.ReadBuffer(&c, 1), EReadError);

    // CopyFrom with count 0 takes the whole source from its start.
    TMemoryStream src;
    const std::string data = RandomBytes(3 << 20, 11); // crosses the copy buffer size
    src.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    TMemoryStream dst;
    EXPECT_EQ(dst.CopyFrom(src, 0), static_cast<int64_t>(data.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.Memory()), data.size()), data);
    src.SetPosition(src.Size() - 5);
    EXPECT_THROW(dst.CopyFrom(src, 6), EReadError);

    // Load / save through a file.
    TempFolder tmp;
    {
        TFileStream f(tmp.File("m.bin"), fmCreate);
        dst.SaveToStream(f);
    }
    TMemoryStream back;
    back.WriteBuffer("junk", 4);
    TFileStream f(tmp.File("m.bin"), fmOpenRead);
    back.LoadFromStream(f);
    EXPECT_EQ(back.Size(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(back.Position(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.Memory()), data.size()), data);
}

std::string MemoryContent(TMemoryStream& m) { return std::string(reinterpret_cast<const char*>(m.Memory()), m.Size()); }

// Every pairing of file and memory streams moves exactly the bytes asked for,
// from odd positions into odd positions (a ZIP item's data never lines up
// with pages), in runs longer than any internal step; a source that ends
// early gives a short count and leaves both positions after what it moved.
TEST(StreamTransfer, MovesExactlyTheBytesAskedForBetweenAnyStreams)
{
    const std::string data = RandomBytes((3 << 20) + 4099, 12);
    const std::string head = "0123456789";
    for (const bool fileSource : {true, false}) {
        for (const bool fileTarget : {true, false}) {
            SCOPED_TRACE(std::string(fileSource ? "file" : "memory") + " to " + (fileTarget ? "file" : "memory"));
            TempFolder tmp;
            WriteFile(tmp.File("src.bin"), data);
            std::unique_ptr<TStream> source;
            if (fileSource) {
                source = std::make_unique<TFileStream>(tmp.File("src.bin"), fmOpenRead);
            } else {
                auto m = std::make_unique<TMemoryStream>();
                m->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
                source = std::move(m);
            }
            std::unique_ptr<TStream> target;
            if (fileTarget)
                target = std::make_unique<TFileStream>(tmp.File("dst.bin"), fmCreate);
            else
                target = std::make_unique<TMemoryStream>();
            target->WriteBuffer(head.data(), static_cast<int64_t>(head.size()));

            const int64_t from = 57;
            const int64_t part = (2 << 20) + 333;
            source->SetPosition(from);
            EXPECT_EQ(target->TransferFrom(*source, part), part);
            EXPECT_EQ(source->Position(), from + part);
            // Asking for more than is left moves the rest.
            const int64_t rest = static_cast<int64_t>(data.size()) - from - part;
            EXPECT_EQ(target->TransferFrom(*source, rest + 1000), rest);
            EXPECT_EQ(target->TransferFrom(*source, 10), 0);
            EXPECT_EQ(target->Position(), static_cast<int64_t>(head.size() + data.size()) - from);

            const std::string expected = head + data.substr(from);
            if (fileTarget) {
                target.reset();
                EXPECT_EQ(ReadFile(tmp.File("dst.bin")), expected);
            } else {
                EXPECT_EQ(MemoryContent(static_cast<TMemoryStream&>(*target)), expected);
            }
        }
    }
}

// Into a full file system the count comes up short by what did not fit; the
// source stands right after what was moved, so nothing is lost or repeated.
TEST(StreamTransfer, FullDiskGivesAShortCountAndKeepsTheSourceInStep)
{
    const TmpfsDrive drive(1 << 20);
    if (!drive.Refused().empty()) GTEST_SKIP() << drive.Refused();
    TempFolder tmp;

    const std::string data = RandomBytes(3 << 20, 13);
    WriteFile(tmp.File("src.bin"), data);
    int64_t moved = 0;
    {
        TFileStream source(tmp.File("src.bin"), fmOpenRead);
        source.SetPosition(1);
        TFileStream target(drive.File("dst.bin"), fmCreate);
        moved = target.TransferFrom(source, static_cast<int64_t>(data.size()) - 1);
        EXPECT_GT(moved, 0);
        EXPECT_LE(moved, 1 << 20);
        EXPECT_EQ(source.Position(), 1 + moved);
        EXPECT_EQ(target.Position(), moved);
    }
    EXPECT_EQ(ReadFile(drive.File("dst.bin")), data.substr(1, static_cast<size_t>(moved)));
}

} // namespace
