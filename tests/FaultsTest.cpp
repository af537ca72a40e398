// What happens to loaded files when the world around them changes: files
// deleted, folders gone, folders where files were expected.
#include "support/TestSupport.h"

#include "functions/ScriptFunctions.h"

using lftest::FileLines;
using lftest::H;
using lftest::Next;
using lftest::LogCapture;
using lftest::WriteBytes;
using Lines = std::vector<std::string>;
namespace fs = lftest::fs;

namespace {

using FaultsTest = lftest::ScriptTest;

}  // namespace

// Windows refuses to delete a file some program holds open; elsewhere the
// file goes and the open stream keeps what it had. Either way reading goes on
// and nothing crashes.
TEST_F(FaultsTest, FileDeletedWhileLoadedForReading)
{
    WriteBytes("in.txt", "1\r\n2\r\n3\r\n4\r\n5\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("in.txt"), true, false, 2));
    EXPECT_EQ(Next("in.txt"), "1");
    std::error_code error;
    bool deleted = fs::remove("in.txt", error);
    Lines rest;
    while (HasNextLine(nullptr, H("in.txt")))
        rest.push_back(Next("in.txt"));
    EXPECT_EQ(rest, (Lines{"2", "3", "4", "5"}));
    EXPECT_TRUE(IsGood(nullptr, H("in.txt")));
    // DeleteAnyFile finds nothing left to delete, or deletes it now.
    LogCapture log;
    EXPECT_EQ(DeleteAnyFile(nullptr, H("in.txt")), !deleted);
    EXPECT_EQ(log.Lines(), Lines{"Closed file 'in.txt'."});
    EXPECT_FALSE(fs::exists("in.txt"));
}

TEST_F(FaultsTest, FolderRemovedWhileLoadedForWriting)
{
    fs::create_directory("sub");
    ASSERT_TRUE(LoadFile(nullptr, H("sub/out.txt"), false, false, 2));
    EXPECT_TRUE(WriteLine(nullptr, H("sub/out.txt"), H("one")));
    std::error_code error;
    fs::remove_all("sub", error);
    bool removed = !fs::exists("sub");
    for (const char* line : {"two", "three", "four"})
        EXPECT_TRUE(WriteLine(nullptr, H("sub/out.txt"), H(line)));
    EXPECT_TRUE(CloseFile(nullptr, H("sub/out.txt")));
    if (!removed) {
        EXPECT_EQ(FileLines("sub/out.txt"), (Lines{"one", "two", "three", "four"}));
    }
    // A new load finds the path gone (or there), and says so.
    EXPECT_EQ(LoadFile(nullptr, H("sub/out.txt"), true, false, 2), !removed);
}

TEST_F(FaultsTest, FolderWhereAFileIsExpected)
{
    fs::create_directory("notes.txt");
    LogCapture log;
    EXPECT_TRUE(ExistsFile(nullptr, H("notes.txt")));
    EXPECT_FALSE(LoadFile(nullptr, H("notes.txt"), true, false, 4));
    EXPECT_FALSE(LoadFile(nullptr, H("notes.txt"), false, true, 4));
    EXPECT_FALSE(DeleteAnyFile(nullptr, H("notes.txt")));
    EXPECT_TRUE(fs::is_directory("notes.txt"));
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'notes.txt'...", "  Could not open or create file.",
                                  "Loading file 'notes.txt'...", "  Could not open or create file.",
                                  "Loading file 'notes.txt'...", "  Could not open or create file."}));
}

TEST_F(FaultsTest, PathThatNoLongerExistsCannotBeReadAgain)
{
    WriteBytes("gone.txt", "x\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("gone.txt"), true, false, 2));
    ASSERT_TRUE(CloseFile(nullptr, H("gone.txt")));
    fs::remove("gone.txt");
    LogCapture log;
    EXPECT_FALSE(LoadFile(nullptr, H("gone.txt"), true, false, 2));
    EXPECT_FALSE(HasNextLine(nullptr, H("gone.txt")));
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'gone.txt'...", "  File does not exist! Aborting load."}));
}

#if !defined(_WIN32)
#include <sys/stat.h>

TEST_F(FaultsTest, FileMadeUnreadableWhileLoadedKeepsItsOpenStream)
{
    WriteBytes("in.txt", "1\r\n2\r\n3\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("in.txt"), true, false, 1));
    ASSERT_EQ(chmod("in.txt", 0), 0);
    Lines lines;
    while (HasNextLine(nullptr, H("in.txt")))
        lines.push_back(Next("in.txt"));
    EXPECT_EQ(lines, (Lines{"1", "2", "3"}));
    EXPECT_TRUE(CloseFile(nullptr, H("in.txt")));
    chmod("in.txt", 0644);
}

// Only ordinary files are opened, in every mode and behind links too: a FIFO
// with no reader would hold an open for writing for good, and a device takes
// lines nowhere. The refusal comes at once.
TEST_F(FaultsTest, DevicesAndPipesAreNeverOpenedSoNothingCanHang)
{
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    fs::create_symlink("pipe", "pipe-link");
    fs::create_symlink("/dev/null", "null-link");
    LogCapture log;
    Lines expected;
    for (const char* path : {"pipe", "pipe-link", "null-link", "/dev/zero"}) {
        EXPECT_TRUE(ExistsFile(nullptr, H(path))) << path;
        EXPECT_FALSE(LoadFile(nullptr, H(path), true, false, 4)) << path;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, true, 4)) << path;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, false, 4)) << path;
        for (int i = 0; i < 3; ++i)
            expected.insert(expected.end(), {"Loading file '" + std::string(path) + "'...", "  Could not open or create file."});
    }
    EXPECT_EQ(log.Lines(), expected);
}

TEST_F(FaultsTest, FullDiskThroughAWholeSession)
{
    lftest::FullFile full("full");
    LogCapture log;
    ASSERT_TRUE(LoadFile(nullptr, H("full"), false, true, 3));
    EXPECT_TRUE(WriteLine(nullptr, H("full"), H("a")));
    EXPECT_TRUE(IsGood(nullptr, H("full")));
    // The lines stay buffered until the close, which then reports the loss;
    // lines lost do not keep a file from being deleted.
    EXPECT_TRUE(DeleteAnyFile(nullptr, H("full")));
    EXPECT_FALSE(IsLoaded(nullptr, H("full")));
    EXPECT_FALSE(fs::exists("full"));
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'full'...", "  File successfully loaded.",
                                  "  Error closing file:", "  File too large", ""}));
}
#endif
