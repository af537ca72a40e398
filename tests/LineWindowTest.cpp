#include "support/TestSupport.h"

#include "linefile/LineFile.h"

using lftest::FolderTest;
using lftest::LogCapture;
using lftest::ReadBytes;
using lftest::WriteBytes;
using Lines = std::vector<std::string>;

namespace {

using LineWindowTest = FolderTest;

std::unique_ptr<LineFile> Reader(const std::string& bytes, int32_t bufferSize)
{
    WriteBytes("in.txt", bytes);
    std::unique_ptr<LineFile> file = LineFile::Open(true, false, bufferSize, "in.txt");
    EXPECT_TRUE(file->good);
    EXPECT_EQ(file->cursor, bufferSize);
    return file;
}

// The lines of the window up to the marker, or all of them.
Lines Block(LineFile& file)
{
    Lines lines;
    for (int32_t i = 0; i < file.bufferSize && !IsEndMarker(file.window[i]); ++i)
        lines.push_back(file.window[i]);
    return lines;
}

std::unique_ptr<LineFile> Writer(int32_t bufferSize, bool append = false)
{
    std::unique_ptr<LineFile> file = LineFile::Open(false, append, bufferSize, "out.txt");
    EXPECT_TRUE(file->good);
    return file;
}

void Store(LineFile& file, const std::string& line)
{
    if (file.cursor == file.bufferSize)
        file.Flush();
    file.window[file.cursor++] = line;
    if (file.cursor < file.bufferSize)
        file.window[file.cursor] = EndMarker;
}

}  // namespace

TEST_F(LineWindowTest, ShortBlockEndsWithTheMarkerAndLeavesLaterSlotsAlone)
{
    auto file = Reader("alpha\nbeta", 4);
    file->window[3] = "stale";
    file->Refill();
    EXPECT_EQ(file->cursor, 0);
    EXPECT_EQ(Block(*file), (Lines{"alpha", "beta"}));
    EXPECT_TRUE(IsEndMarker(file->window[2]));
    EXPECT_EQ(file->window[3], "stale");
}

TEST_F(LineWindowTest, ExactMultipleFillsEveryBlockThenOnlyTheMarkerComes)
{
    auto file = Reader("1\n2\n3\n4\n", 2);
    file->Refill();
    EXPECT_EQ(Block(*file), (Lines{"1", "2"}));
    file->Refill();
    EXPECT_EQ(Block(*file), (Lines{"3", "4"}));
    for (int i = 0; i < 3; ++i) {
        file->Refill();
        EXPECT_TRUE(IsEndMarker(file->window[0]));
        EXPECT_EQ(file->cursor, 0);
    }
    EXPECT_TRUE(file->good);
}

TEST_F(LineWindowTest, EmptyFileAndWindowOfOne)
{
    auto empty = Reader("", 3);
    empty->Refill();
    EXPECT_TRUE(IsEndMarker(empty->window[0]));

    auto single = Reader("a\nb\n", 1);
    single->Refill();
    EXPECT_EQ(single->window[0], "a");
    single->Refill();
    EXPECT_EQ(single->window[0], "b");
    single->Refill();
    EXPECT_TRUE(IsEndMarker(single->window[0]));
}

TEST_F(LineWindowTest, BelLineInAFileReadsAsTheEndOfTheData)
{
    auto file = Reader("a\n\abell\nb\n", 4);
    file->Refill();
    EXPECT_EQ(Block(*file), Lines{"a"});
}

TEST_F(LineWindowTest, FlushWritesFullWindowsAndCloseTheRest)
{
    auto file = Writer(3);
    for (const char* line : {"one", "two", "three"})
        Store(*file, line);
    EXPECT_EQ(file->cursor, 3);
    EXPECT_EQ(file->window[2], "three");
    Store(*file, "four");
    EXPECT_EQ(file->cursor, 1);
    EXPECT_TRUE(IsEndMarker(file->window[1]));
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadBytes("out.txt"), "one\r\ntwo\r\nthree\r\nfour\r\n");
}

TEST_F(LineWindowTest, CloseRightAfterLoadWritesNothing)
{
    WriteBytes("out.txt", "kept");
    auto appended = Writer(2, true);
    EXPECT_TRUE(appended->Close());
    EXPECT_EQ(ReadBytes("out.txt"), "kept");
    auto truncated = Writer(2, false);
    EXPECT_TRUE(truncated->Close());
    EXPECT_EQ(ReadBytes("out.txt"), "");
}

// A stored line that begins with BEL is text like any other: it and the lines
// after it in its window reach the file.
TEST_F(LineWindowTest, StoredLineBeginningWithBelIsWritten)
{
    auto file = Writer(3);
    for (const char* line : {"a", "\abell", "b", "c"})
        Store(*file, line);
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadBytes("out.txt"), "a\r\n\abell\r\nb\r\nc\r\n");
}

TEST_F(LineWindowTest, AppendingContinuesALastLineWithoutLineEnd)
{
    WriteBytes("out.txt", "open");
    auto file = Writer(2, true);
    Store(*file, "ended");
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadBytes("out.txt"), "openended\r\n");
}

TEST_F(LineWindowTest, BlockOperationsDoNothingInTheWrongModeOrWhenNotGood)
{
    auto reader = Reader("a\n", 2);
    reader->Flush();
    EXPECT_EQ(reader->cursor, 2);
    reader->good = false;
    reader->Refill();
    EXPECT_EQ(reader->cursor, 2);

    auto writer = Writer(2);
    Store(*writer, "x");
    writer->Refill();
    EXPECT_EQ(writer->cursor, 1);
    LogCapture log;
    EXPECT_TRUE(writer->Close());
    EXPECT_EQ(log.Lines(), Lines{"Closed file 'out.txt'."});
}
