#include "support/TestSupport.h"

#include "linefile/LineFile.h"

using lftest::FolderTest;
using lftest::LogCapture;
using lftest::ReadBytes;
using lftest::WriteBytes;
using Lines = std::vector<std::string>;
namespace fs = lftest::fs;

namespace {

using LineFileTest = FolderTest;

std::unique_ptr<LineFile> OpenFile(bool readOnly, bool append, int32_t bufferSize,
                                   const std::string& path)
{
    std::unique_ptr<LineFile> file = LineFile::Open(readOnly, append, bufferSize, path);
    EXPECT_NE(file, nullptr);
    return file;
}

void Write(LineFile& file, const std::string& line)
{
    if (file.cursor == file.bufferSize)
        file.Flush();
    file.window[file.cursor++] = line;
    if (file.cursor < file.bufferSize)
        file.window[file.cursor] = EndMarker;
}

}  // namespace

TEST_F(LineFileTest, ReadModeOnMissingFileRefusesWhateverTheSize)
{
    for (int32_t size : {4, 0, -3}) {
        LogCapture log;
        auto file = OpenFile(true, false, size, "missing.txt");
        EXPECT_FALSE(file->good);
        EXPECT_FALSE(file->input.IsOpen());
        EXPECT_EQ(file->window, nullptr);
        EXPECT_EQ(log.Lines(), (Lines{"Loading file 'missing.txt'...", "  File does not exist! Aborting load."}));
    }
}

TEST_F(LineFileTest, WriteModeCreatesOrEmptiesTheFileAtOnce)
{
    LogCapture log;
    auto appended = OpenFile(false, true, 2, "append.txt");
    EXPECT_TRUE(appended->good);
    EXPECT_TRUE(fs::exists("append.txt"));
    EXPECT_EQ(appended->cursor, 0);
    EXPECT_TRUE(IsEndMarker(appended->window[0]));

    WriteBytes("trunc.txt", "old content\r\n");
    auto truncated = OpenFile(false, false, 2, "trunc.txt");
    EXPECT_TRUE(truncated->good);
    EXPECT_EQ(ReadBytes("trunc.txt"), "");
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'append.txt'...", "  File successfully loaded.",
                                  "Loading file 'trunc.txt'...", "  File successfully loaded."}));
}

TEST_F(LineFileTest, StreamsThatCannotOpenAreReported)
{
    fs::create_directory("folder");
    LogCapture log;
    EXPECT_FALSE(OpenFile(false, true, 1, "nowhere/new.txt")->good);
    EXPECT_FALSE(OpenFile(true, false, 1, "nowhere/old.txt")->good);
    EXPECT_FALSE(OpenFile(true, false, 1, "folder")->good);
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'nowhere/new.txt'...", "  Could not open or create file.",
                                  "Loading file 'nowhere/old.txt'...", "  File does not exist! Aborting load.",
                                  "Loading file 'folder'...", "  Could not open or create file."}));
}

TEST_F(LineFileTest, EitherSeparatorOpensTheSameFileAndIsShownWithSlashes)
{
    fs::create_directory("data");
    WriteBytes("data/log.txt", "x\n");
    LogCapture log;
    auto file = OpenFile(true, false, 1, "data\\log.txt");
    EXPECT_TRUE(file->good);
    EXPECT_TRUE(file->Close());
    EXPECT_TRUE(file->Remove());
    EXPECT_FALSE(fs::exists("data/log.txt"));
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'data/log.txt'...", "  File successfully loaded.",
                                  "Closed file 'data/log.txt'."}));
}

TEST_F(LineFileTest, CloseWritesWaitingLinesAndMayBeRepeated)
{
    auto file = OpenFile(false, false, 3, "out.txt");
    Write(*file, "one");
    Write(*file, "two");
    LogCapture log;
    EXPECT_TRUE(file->Close());
    EXPECT_FALSE(file->good);
    EXPECT_EQ(ReadBytes("out.txt"), "one\r\ntwo\r\n");
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(log.Lines(), (Lines{"Closed file 'out.txt'.", "Closed file 'out.txt'."}));
}

TEST_F(LineFileTest, DestructionWithoutCloseDropsTheWindowButKeepsFlushedLines)
{
    {
        auto file = OpenFile(false, false, 1, "drop.txt");
        Write(*file, "flushed by the next line");
        Write(*file, "never written");
    }
    EXPECT_EQ(ReadBytes("drop.txt"), "flushed by the next line\r\n");
}

TEST_F(LineFileTest, RemoveOnlyAfterCloseAndQuietWhenTheFileIsGone)
{
    WriteBytes("r.txt", "x\n");
    auto file = OpenFile(true, false, 1, "r.txt");
    LogCapture log;
    EXPECT_FALSE(file->Remove());
    EXPECT_TRUE(fs::exists("r.txt"));
    file->Close();
    EXPECT_TRUE(file->Remove());
    EXPECT_FALSE(fs::exists("r.txt"));
    EXPECT_FALSE(file->Remove());
    EXPECT_EQ(log.Lines(), Lines{"Closed file 'r.txt'."});
}

// What is at the path when the delete comes must be the file the load saw: a
// folder or another file put there since stays.
TEST_F(LineFileTest, RemoveTakesOnlyTheFileThatWasLoaded)
{
    for (bool folder : {true, false}) {
        WriteBytes("r.txt", "x\n");
        auto file = OpenFile(true, false, 1, "r.txt");
        file->Close();
        // Kept under another name, so that its number is not given again.
        fs::rename("r.txt", "loaded.txt");
        if (folder)
            fs::create_directory("r.txt");
        else
            WriteBytes("r.txt", "another file\n");
        LogCapture log;
        EXPECT_FALSE(file->Remove());
        EXPECT_EQ(fs::is_directory("r.txt"), folder);
        EXPECT_TRUE(fs::exists("r.txt"));
        EXPECT_EQ(log.Lines(), (Lines{"  Error deleting file:", "  remove: not the file that was loaded: \"r.txt\"", ""}));
        fs::remove("r.txt");
    }
}

#if !defined(_WIN32)
TEST_F(LineFileTest, FullDiskMakesCloseFailWithItsReason)
{
    lftest::FullFile full("full.txt");
    auto file = OpenFile(false, true, 2, "full.txt");
    ASSERT_TRUE(file->good);
    Write(*file, "cannot be stored");
    LogCapture log;
    EXPECT_FALSE(file->Close());
    EXPECT_FALSE(file->good);
    EXPECT_EQ(log.Lines(), (Lines{"  Error closing file:", "  File too large", ""}));
}

TEST_F(LineFileTest, FullDiskFailsTheBlockThatCannotBeWritten)
{
    lftest::FullFile full("full.txt");
    auto file = OpenFile(false, true, 1000, "full.txt");
    LogCapture log;
    for (int i = 0; i < 1001; ++i)
        Write(*file, std::string(100, 'x'));
    EXPECT_FALSE(file->good);
    EXPECT_GE(file->cursor, 0);
    EXPECT_LT(file->cursor, file->bufferSize);
    EXPECT_EQ(log.Lines(), (Lines{"  Error writing file:", "  File too large", ""}));
}

TEST_F(LineFileTest, ReadErrorIsNotTakenForTheEndOfTheFile)
{
    // Reading this file fails with an I/O error at its first byte.
    auto file = OpenFile(true, false, 4, "/proc/self/mem");
    ASSERT_TRUE(file->good);
    LogCapture log;
    file->Refill();
    EXPECT_FALSE(file->good);
    EXPECT_EQ(file->cursor, 0);
    EXPECT_TRUE(IsEndMarker(file->window[0]));
    EXPECT_EQ(log.Lines(), (Lines{"  Error reading file:", "  Input/output error", ""}));
}

TEST_F(LineFileTest, PathThatCannotBeTestedIsAFailedLoad)
{
    LogCapture log;
    std::string tooLong(5000, 'n');
    auto file = OpenFile(false, false, 1, tooLong);
    EXPECT_FALSE(file->good);
    EXPECT_EQ(log.Lines(), (Lines{"Loading file '" + tooLong + "'...",
                                  "  Could not test whether file exists: File name too long"}));
}
#endif

#if defined(_WIN32)
#include <share.h>
#include <windows.h>

TEST_F(LineFileTest, OtherProgramsMayReadAndWriteAFileWhileItIsLoaded)
{
    auto file = OpenFile(false, false, 1, "shared.txt");
    FILE* other = _wfsopen(L"shared.txt", L"r+", _SH_DENYNO);
    ASSERT_NE(other, nullptr);
    std::fputs("other", other);
    std::fclose(other);
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadBytes("shared.txt"), "other");
}

TEST_F(LineFileTest, RemoveFailsWhileAnotherLineFileHoldsTheFile)
{
    WriteBytes("held.txt", "x\n");
    auto holder = OpenFile(true, false, 1, "held.txt");
    auto other = OpenFile(true, false, 1, "HELD.txt");
    other->Close();
    LogCapture log;
    EXPECT_FALSE(other->Remove());
    Lines lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "  Error deleting file:");
    EXPECT_EQ(lines[1].rfind("  remove: ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(": \"HELD.txt\""), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "");
    EXPECT_TRUE(fs::exists("held.txt"));
}

TEST_F(LineFileTest, RemoveIsQuietForANameNoFileCanHave)
{
    LogCapture log;
    auto file = OpenFile(true, false, 1, "bad<name>.txt");
    EXPECT_FALSE(file->good);
    EXPECT_FALSE(file->Remove());
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'bad<name>.txt'...",
                                  "  Path not allowed: a character that no file name may hold! Aborting load."}));
}

TEST_F(LineFileTest, NonAsciiPathsAreTakenInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the byte 0xE9 below is e-acute in code page 1252";
    LogCapture log;
    auto file = OpenFile(false, false, 2, "caf\xe9.txt");
    Write(*file, "line");
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadBytes(fs::path(L"caf\u00e9.txt")), "line\r\n");
    EXPECT_EQ(log.Lines()[0], "Loading file 'caf\xe9.txt'...");

    auto reader = OpenFile(true, false, 2, "caf\xe9.txt");
    EXPECT_TRUE(reader->good);
}
#endif
