#include "support/TestSupport.h"

#include "functions/OpenFileTable.h"
#include "functions/ScriptFunctions.h"

#include <future>
#include <thread>

using lftest::FileLines;
using lftest::H;
using lftest::Next;
using lftest::LogCapture;
using lftest::ReadBytes;
using lftest::WriteBytes;
using Lines = std::vector<std::string>;
namespace fs = lftest::fs;

namespace {

using ScriptFunctionsTest = lftest::ScriptTest;

LineFile& Loaded(const std::string& path)
{
    std::shared_ptr<ScriptFile> entry = TheOpenFileTable().Find(path);
    EXPECT_NE(entry, nullptr) << path;
    return entry->file;
}

// Reads a file the way scripts are told to: HasNextLine before each NextLine.
Lines ReadAll(const std::string& path)
{
    Lines lines;
    while (HasNextLine(nullptr, H(path)))
        lines.push_back(Next(path));
    return lines;
}

Lines Numbered(int count)
{
    Lines lines;
    for (int i = 1; i <= count; ++i)
        lines.push_back("line " + std::to_string(i));
    return lines;
}

std::string AsFile(const Lines& lines)
{
    std::string bytes;
    for (const std::string& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

}  // namespace

TEST_F(ScriptFunctionsTest, SixLinesThroughAWindowOfFour)
{
    WriteBytes("six.txt", AsFile(Numbered(6)));
    LogCapture log;
    ASSERT_TRUE(LoadFile(nullptr, H("six.txt"), true, false, 4));
    LineFile& file = Loaded("six.txt");
    for (int i = 1; i <= 6; ++i) {
        EXPECT_TRUE(HasNextLine(nullptr, H("six.txt")));
        // The window was refilled by the first and the fifth question.
        EXPECT_EQ(file.cursor, (i - 1) % 4);
        EXPECT_EQ(Next("six.txt"), "line " + std::to_string(i));
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(HasNextLine(nullptr, H("six.txt")));
    EXPECT_TRUE(CloseFile(nullptr, H("six.txt")));
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'six.txt'...", "  File successfully loaded.",
                                  "Closed file 'six.txt'."}));
}

// Every count of lines through windows smaller than, equal to and larger than
// it, exact multiples included, reads back whole and in order.
TEST_F(ScriptFunctionsTest, EveryFileReadsWholeThroughEveryWindowSize)
{
    for (int count : {0, 1, 3, 4, 8, 9}) {
        Lines lines = Numbered(count);
        WriteBytes("n.txt", AsFile(lines));
        for (uint32_t size : {1u, 2u, 3u, 4u, 8u, 100u}) {
            ASSERT_TRUE(LoadFile(nullptr, H("n.txt"), true, false, size));
            EXPECT_EQ(ReadAll("n.txt"), lines) << count << " lines, window " << size;
            EXPECT_FALSE(HasNextLine(nullptr, H("n.txt")));
            EXPECT_TRUE(CloseFile(nullptr, H("n.txt")));
        }
    }
}

TEST_F(ScriptFunctionsTest, NextLineAloneReadsTheFileAndAnswersEmptyPastItsEnd)
{
    WriteBytes("a.txt", "first\r\n\r\nthird");
    ASSERT_TRUE(LoadFile(nullptr, H("a.txt"), true, false, 4));
    EXPECT_EQ(Next("a.txt"), "first");
    EXPECT_EQ(Next("a.txt"), "");
    EXPECT_EQ(Next("a.txt"), "third");
    // Past the end: the empty text every time, never the marker or old lines.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Next("a.txt"), "");
    EXPECT_EQ(Loaded("a.txt").cursor, 3);
    EXPECT_FALSE(HasNextLine(nullptr, H("a.txt")));
}

TEST_F(ScriptFunctionsTest, PastTheEndOfAnEarlierFullWindowNoStaleLineComesBack)
{
    WriteBytes("b.txt", AsFile(Numbered(5)));
    ASSERT_TRUE(LoadFile(nullptr, H("b.txt"), true, false, 4));
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(Next("b.txt"), "line " + std::to_string(i));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Next("b.txt"), "");
}

TEST_F(ScriptFunctionsTest, LineBeginningWithBelEndsTheDataForScripts)
{
    WriteBytes("bel.txt", "a\r\n\abell\r\nb\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("bel.txt"), true, false, 10));
    EXPECT_EQ(ReadAll("bel.txt"), Lines{"a"});
    EXPECT_EQ(Next("bel.txt"), "");
}

TEST_F(ScriptFunctionsTest, WindowOfOneFlushesThePreviousLineOnEachWrite)
{
    ASSERT_TRUE(LoadFile(nullptr, H("w.txt"), false, false, 1));
    LineFile& file = Loaded("w.txt");
    for (const char* line : {"one", "two", "three"}) {
        EXPECT_TRUE(WriteLine(nullptr, H("w.txt"), H(line)));
        EXPECT_EQ(file.cursor, 1);
        EXPECT_EQ(file.window[0], line);
    }
    EXPECT_TRUE(CloseFile(nullptr, H("w.txt")));
    EXPECT_EQ(FileLines("w.txt"), (Lines{"one", "two", "three"}));
}

TEST_F(ScriptFunctionsTest, FullWindowHoldsNoMarkerUntilTheNextWriteFlushesIt)
{
    ASSERT_TRUE(LoadFile(nullptr, H("w.txt"), false, false, 3));
    LineFile& file = Loaded("w.txt");
    for (const char* line : {"a", "b", "c"})
        EXPECT_TRUE(WriteLine(nullptr, H("w.txt"), H(line)));
    EXPECT_EQ(file.cursor, 3);
    EXPECT_EQ(file.window[2], "c");
    EXPECT_TRUE(WriteLine(nullptr, H("w.txt"), H("d")));
    EXPECT_EQ(file.cursor, 1);
    EXPECT_TRUE(IsEndMarker(file.window[1]));
    EXPECT_TRUE(CloseFile(nullptr, H("w.txt")));
    EXPECT_EQ(FileLines("w.txt"), (Lines{"a", "b", "c", "d"}));
}

TEST_F(ScriptFunctionsTest, WrittenLinesKeepBelEmptyTextAndEmptyHandles)
{
    ASSERT_TRUE(LoadFile(nullptr, H("w.txt"), false, true, 2));
    EXPECT_TRUE(WriteLine(nullptr, H("w.txt"), H("\abell first")));
    EXPECT_TRUE(WriteLine(nullptr, H("w.txt"), H("")));
    EXPECT_TRUE(WriteLine(nullptr, H("w.txt"), StringCache::Ref{nullptr}));
    EXPECT_TRUE(WriteLine(nullptr, H("w.txt"), H("after")));
    EXPECT_TRUE(CloseFile(nullptr, H("w.txt")));
    EXPECT_EQ(ReadBytes("w.txt"), "\abell first\r\n\r\n\r\nafter\r\n");
}

TEST_F(ScriptFunctionsTest, NothingAnswersForAPathThatIsNotLoaded)
{
    WriteBytes("x.txt", "x\r\n");
    LogCapture log;
    EXPECT_FALSE(CloseFile(nullptr, H("x.txt")));
    EXPECT_FALSE(IsLoaded(nullptr, H("x.txt")));
    EXPECT_FALSE(IsGood(nullptr, H("x.txt")));
    EXPECT_FALSE(IsReadOnly(nullptr, H("x.txt")));
    EXPECT_FALSE(IsWriteOnly(nullptr, H("x.txt")));
    EXPECT_FALSE(HasNextLine(nullptr, H("x.txt")));
    EXPECT_FALSE(WriteLine(nullptr, H("x.txt"), H("y")));
    EXPECT_EQ(Next("x.txt"), "");
    EXPECT_EQ(log.Bytes(), "");
    EXPECT_EQ(ReadBytes("x.txt"), "x\r\n");
}

TEST_F(ScriptFunctionsTest, ModeIsFixedByTheFirstLoadAndWrongModeCallsChangeNothing)
{
    WriteBytes("m.txt", "read\r\nkept\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("m.txt"), true, false, 2));
    EXPECT_EQ(Next("m.txt"), "read");
    LogCapture log;
    // The place reached stays too: a second load does not start afresh.
    EXPECT_TRUE(LoadFile(nullptr, H("m.txt"), false, false, 7));
    EXPECT_TRUE(IsReadOnly(nullptr, H("m.txt")));
    EXPECT_FALSE(IsWriteOnly(nullptr, H("m.txt")));
    EXPECT_FALSE(WriteLine(nullptr, H("m.txt"), H("no")));
    EXPECT_EQ(Loaded("m.txt").bufferSize, 2);
    EXPECT_EQ(log.Bytes(), "");
    EXPECT_EQ(ReadAll("m.txt"), Lines{"kept"});

    ASSERT_TRUE(LoadFile(nullptr, H("out.txt"), false, false, 2));
    EXPECT_TRUE(IsWriteOnly(nullptr, H("out.txt")));
    EXPECT_FALSE(HasNextLine(nullptr, H("out.txt")));
    EXPECT_EQ(Next("out.txt"), "");
    EXPECT_EQ(Loaded("out.txt").cursor, 0);
}

TEST_F(ScriptFunctionsTest, KeysAreTheExactTextOfThePathHandleAndCloseEndsTheEntry)
{
    fs::create_directory("data");
    ASSERT_TRUE(LoadFile(nullptr, H("data/f.txt"), false, false, 1));
    EXPECT_TRUE(IsLoaded(nullptr, H("data/f.txt")));
    EXPECT_FALSE(IsLoaded(nullptr, H("data\\f.txt")));
    // The text is compared as it is; but while the cache holds data/f.txt,
    // a handle made from another case of it carries the first spelling.
    EXPECT_FALSE(IsLoaded(nullptr, StringCache::Ref{"DATA/f.txt"}));
    EXPECT_TRUE(IsLoaded(nullptr, H("DATA/f.txt")));
    EXPECT_TRUE(CloseFile(nullptr, H("data/f.txt")));
    EXPECT_FALSE(CloseFile(nullptr, H("data/f.txt")));
    EXPECT_FALSE(IsLoaded(nullptr, H("data/f.txt")));
}

// Calls on two paths in turn, each closed or deleted right after a call on
// it: every later call reaches the file its own path names now, or none.
TEST_F(ScriptFunctionsTest, CallsOnPathsInTurnReachTheirOwnFiles)
{
    WriteBytes("a.txt", AsFile({"a1", "a2"}));
    WriteBytes("b.txt", AsFile({"b1", "b2"}));
    ASSERT_TRUE(LoadFile(nullptr, H("a.txt"), true, false, 1));
    ASSERT_TRUE(LoadFile(nullptr, H("b.txt"), true, false, 1));
    EXPECT_EQ(Next("a.txt"), "a1");
    EXPECT_EQ(Next("b.txt"), "b1");
    EXPECT_TRUE(CloseFile(nullptr, H("b.txt")));
    EXPECT_FALSE(HasNextLine(nullptr, H("b.txt")));
    EXPECT_EQ(Next("a.txt"), "a2");
    ASSERT_TRUE(LoadFile(nullptr, H("b.txt"), false, false, 2));
    EXPECT_TRUE(WriteLine(nullptr, H("b.txt"), H("new")));
    EXPECT_TRUE(IsReadOnly(nullptr, H("a.txt")));
    EXPECT_TRUE(DeleteAnyFile(nullptr, H("a.txt")));
    EXPECT_FALSE(IsLoaded(nullptr, H("a.txt")));
    EXPECT_TRUE(IsWriteOnly(nullptr, H("b.txt")));
    EXPECT_TRUE(CloseFile(nullptr, H("b.txt")));
    EXPECT_EQ(FileLines("b.txt"), Lines{"new"});
}

TEST_F(ScriptFunctionsTest, DeleteAnyFileInEveryState)
{
    LogCapture log;
    EXPECT_FALSE(DeleteAnyFile(nullptr, H("missing.txt")));
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'missing.txt'...", "  File does not exist! Aborting load."}));

    WriteBytes("plain.txt", "x");
    EXPECT_TRUE(DeleteAnyFile(nullptr, H("plain.txt")));
    EXPECT_FALSE(fs::exists("plain.txt"));
    EXPECT_FALSE(IsLoaded(nullptr, H("plain.txt")));

    WriteBytes("reading.txt", "x\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("reading.txt"), true, false, 3));
    EXPECT_TRUE(DeleteAnyFile(nullptr, H("reading.txt")));
    EXPECT_FALSE(fs::exists("reading.txt"));

    ASSERT_TRUE(LoadFile(nullptr, H("writing.txt"), false, false, 3));
    EXPECT_TRUE(WriteLine(nullptr, H("writing.txt"), H("waiting")));
    LogCapture writingLog;
    EXPECT_TRUE(DeleteAnyFile(nullptr, H("writing.txt")));
    EXPECT_FALSE(fs::exists("writing.txt"));
    EXPECT_FALSE(IsLoaded(nullptr, H("writing.txt")));
    EXPECT_EQ(writingLog.Lines(), Lines{"Closed file 'writing.txt'."});

    fs::create_directory("folder");
    EXPECT_FALSE(DeleteAnyFile(nullptr, H("folder")));
    EXPECT_TRUE(fs::exists("folder"));

    // A link goes itself, never the file it leads to. Wine can only delete a
    // Unix link together with its target, so there neither goes.
    lftest::LinkFolder links;
    ASSERT_FALSE(links.Path().empty()) << "no symbolic link to test with";
    fs::create_directory(links.Path() + "/sub");
    WriteBytes(links.Path() + "/sub/target.txt", "x");
    LogCapture linkLog;
#if defined(_WIN32)
    EXPECT_FALSE(DeleteAnyFile(nullptr, H(links.Path() + "/link.txt")));
    EXPECT_EQ(linkLog.Lines().at(4), "  remove: a link that cannot be removed without the file it leads to: \"" +
                                         links.Path() + "/link.txt\"");
    EXPECT_TRUE(fs::exists(fs::symlink_status(links.Path() + "/link.txt")));
#else
    EXPECT_TRUE(DeleteAnyFile(nullptr, H(links.Path() + "/link.txt")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(links.Path() + "/link.txt")));
#endif
    EXPECT_EQ(ReadBytes(links.Path() + "/sub/target.txt"), "x");
}

#if defined(_WIN32)
// No table of the C runtime (512 streams, 2048 descriptors) limits how many
// files are loaded at once.
TEST_F(ScriptFunctionsTest, TwoThousandFilesLoadedAtOnce)
{
    // In folders of 100: Wine looks through a whole folder for each new name.
    const int count = 2000;
    auto name = [](int i) { return std::to_string(i / 100) + "/" + std::to_string(i) + ".txt"; };
    for (int i = 0; i < count; i += 100)
        fs::create_directory(std::to_string(i / 100));
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(LoadFile(nullptr, H(name(i)), false, false, 1)) << name(i);
        EXPECT_TRUE(WriteLine(nullptr, H(name(i)), H(name(i))));
    }
    EXPECT_EQ(TheOpenFileTable().Size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        EXPECT_TRUE(CloseFile(nullptr, H(name(i))));
    EXPECT_EQ(ReadBytes(name(1999)), name(1999) + "\r\n");
}
#endif

TEST_F(ScriptFunctionsTest, ExistsFileOnFilesFoldersAndMissingPaths)
{
    WriteBytes("file.txt", "");
    fs::create_directory("folder");
    EXPECT_TRUE(ExistsFile(nullptr, H("file.txt")));
    EXPECT_TRUE(ExistsFile(nullptr, H("folder")));
    EXPECT_TRUE(ExistsFile(nullptr, H("folder\\..\\file.txt")));
    EXPECT_FALSE(ExistsFile(nullptr, H("missing.txt")));
    EXPECT_FALSE(ExistsFile(nullptr, H("nowhere/file.txt")));
    EXPECT_FALSE(ExistsFile(nullptr, H("file.txt/below")));
    EXPECT_FALSE(ExistsFile(nullptr, StringCache::Ref{nullptr}));
    ASSERT_TRUE(LoadFile(nullptr, H("created.txt"), false, true, 1));
    EXPECT_TRUE(ExistsFile(nullptr, H("created.txt")));
}

// Past 2 GiB and 4 GiB is where 32-bit offsets of a C runtime fail.
TEST_F(ScriptFunctionsTest, FilesPastTwoAndFourGiBAreTestedReadAndAppendedTo)
{
    for (std::uint64_t size : {std::uint64_t(3) << 30, std::uint64_t(5) << 30}) {
        SCOPED_TRACE(size);
        if (!lftest::WriteWithHole("big.txt", "first\r\nsecond\r\n", size, "last\r\n")) {
            std::printf("skipped: the file system here cannot hold a %llu-byte file with a hole\n",
                        static_cast<unsigned long long>(size));
            continue;
        }
        EXPECT_TRUE(ExistsFile(nullptr, H("big.txt")));
        ASSERT_TRUE(LoadFile(nullptr, H("big.txt"), true, false, 2));
        EXPECT_EQ(Next("big.txt"), "first");
        EXPECT_EQ(Next("big.txt"), "second");
        EXPECT_TRUE(CloseFile(nullptr, H("big.txt")));

        ASSERT_TRUE(LoadFile(nullptr, H("big.txt"), false, true, 2));
        for (const char* line : {"added 1", "added 2", "added 3"})
            EXPECT_TRUE(WriteLine(nullptr, H("big.txt"), H(line)));
        EXPECT_TRUE(CloseFile(nullptr, H("big.txt")));
        EXPECT_EQ(fs::file_size("big.txt"), size + 3 * 9);
        EXPECT_EQ(lftest::TailBytes("big.txt", 33), "last\r\nadded 1\r\nadded 2\r\nadded 3\r\n");
        fs::remove("big.txt");
    }
}

// A line has no length limit: one far longer than the plugin's buffers is
// written and read back whole, and the line after it is not lost.
TEST_F(ScriptFunctionsTest, ALineLongerThanEveryBufferIsWrittenAndReadWhole)
{
    std::string longLine(300000, 'x');
    longLine.back() = 'y';
    ASSERT_TRUE(LoadFile(nullptr, H("long.txt"), false, false, 1));
    EXPECT_TRUE(WriteLine(nullptr, H("long.txt"), H(longLine)));
    EXPECT_TRUE(WriteLine(nullptr, H("long.txt"), H("after")));
    EXPECT_TRUE(CloseFile(nullptr, H("long.txt")));
    ASSERT_TRUE(LoadFile(nullptr, H("long.txt"), true, false, 1));
    EXPECT_EQ(ReadAll("long.txt"), (Lines{longLine, "after"}));
}

#if !defined(_WIN32)
TEST_F(ScriptFunctionsTest, WriteLineIsRefusedWhenTheFlushThatMakesRoomFails)
{
    lftest::FullFile full("full.txt");
    ASSERT_TRUE(LoadFile(nullptr, H("full.txt"), false, true, 1));
    std::string big(70000, 'x');
    EXPECT_TRUE(WriteLine(nullptr, H("full.txt"), H(big)));
    LogCapture log;
    EXPECT_FALSE(WriteLine(nullptr, H("full.txt"), H("not taken")));
    EXPECT_FALSE(IsGood(nullptr, H("full.txt")));
    EXPECT_TRUE(IsLoaded(nullptr, H("full.txt")));
    EXPECT_TRUE(LoadFile(nullptr, H("full.txt"), false, false, 1));
    EXPECT_FALSE(WriteLine(nullptr, H("full.txt"), H("still not")));
    EXPECT_FALSE(CloseFile(nullptr, H("full.txt")));
    EXPECT_FALSE(IsLoaded(nullptr, H("full.txt")));
    EXPECT_EQ(log.Lines(), (Lines{"  Error writing file:", "  File too large", "",
                                  "  Error closing file:", "  File too large", ""}));
}

TEST_F(ScriptFunctionsTest, ReadErrorEndsReadingWithoutAnAnswer)
{
    ASSERT_TRUE(LoadFile(nullptr, H("/proc/self/mem"), true, false, 2));
    EXPECT_FALSE(HasNextLine(nullptr, H("/proc/self/mem")));
    EXPECT_FALSE(IsGood(nullptr, H("/proc/self/mem")));
    EXPECT_EQ(Next("/proc/self/mem"), "");
    EXPECT_TRUE(CloseFile(nullptr, H("/proc/self/mem")));
}
#endif

TEST_F(ScriptFunctionsTest, UnloadWritesTheLinesOfFilesStillLoadedForWriting)
{
    WriteBytes("in.txt", "x\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("in.txt"), true, false, 2));
    ASSERT_TRUE(LoadFile(nullptr, H("out.txt"), false, false, 10));
    EXPECT_TRUE(WriteLine(nullptr, H("out.txt"), H("told it was written")));
    TheOpenFileTable().CloseForUnload();
    EXPECT_EQ(FileLines("out.txt"), Lines{"told it was written"});
    EXPECT_EQ(TheOpenFileTable().Size(), 0u);
    EXPECT_TRUE(fs::remove("in.txt"));
}

TEST_F(ScriptFunctionsTest, UnloadNeverWaitsForTheLock)
{
    ASSERT_TRUE(LoadFile(nullptr, H("out.txt"), false, false, 10));
    EXPECT_TRUE(WriteLine(nullptr, H("out.txt"), H("line")));
    OpenFileTable& table = TheOpenFileTable();
    std::promise<void> held, release;
    std::thread caller([&] {
        // Another thread's script call on the file is under way.
        LockGuard guard(Loaded("out.txt").lock);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    table.CloseForUnload();
    release.set_value();
    caller.join();
    EXPECT_EQ(table.Size(), 1u);
    EXPECT_EQ(ReadBytes("out.txt"), "");
}
