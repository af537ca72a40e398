// Whatever a script passes gets a defined answer: empty and huge paths,
// names Windows cannot hold, odd bytes in lines, every kind of window size.
#include "support/TestSupport.h"

#include "functions/OpenFileTable.h"
#include "functions/ScriptFunctions.h"

using lftest::FileLines;
using lftest::H;
using lftest::Next;
using lftest::LogCapture;
using lftest::ReadBytes;
using lftest::WriteBytes;
using Lines = std::vector<std::string>;
namespace fs = lftest::fs;

namespace {

using BadInputTest = lftest::ScriptTest;

// Every function on one path, with nothing loaded under it afterwards.
void ExpectNothingLoadsOrAnswers(StringCache::Ref path)
{
    EXPECT_FALSE(ExistsFile(nullptr, path));
    EXPECT_FALSE(LoadFile(nullptr, path, true, false, 4));
    EXPECT_FALSE(LoadFile(nullptr, path, false, false, 4));
    EXPECT_FALSE(IsLoaded(nullptr, path));
    EXPECT_FALSE(IsGood(nullptr, path));
    EXPECT_FALSE(IsReadOnly(nullptr, path));
    EXPECT_FALSE(IsWriteOnly(nullptr, path));
    EXPECT_FALSE(HasNextLine(nullptr, path));
    EXPECT_STREQ(TextOf(NextLine(nullptr, path)), "");
    EXPECT_FALSE(WriteLine(nullptr, path, H("x")));
    EXPECT_FALSE(CloseFile(nullptr, path));
    EXPECT_FALSE(DeleteAnyFile(nullptr, path));
    EXPECT_EQ(TheOpenFileTable().Size(), 0u);
}

}  // namespace

TEST_F(BadInputTest, EmptyTextAndEmptyHandleAreTheSameEmptyPath)
{
    for (StringCache::Ref path : {H(""), StringCache::Ref{nullptr}}) {
        LogCapture log;
        ExpectNothingLoadsOrAnswers(path);
        EXPECT_EQ(log.Lines(), (Lines{"Loading file ''...", "  File does not exist! Aborting load.",
                                      "Loading file ''...", "  Could not open or create file.",
                                      "Loading file ''...", "  File does not exist! Aborting load."}));
    }
}

TEST_F(BadInputTest, PathOfAHundredThousandBytesIsRefusedAndLoggedWhole)
{
    std::string path(100000, 'p');
    LogCapture log;
    ExpectNothingLoadsOrAnswers(H(path));
    Lines lines = log.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Loading file '" + path + "'...");
    for (size_t i = 1; i < lines.size(); i += 2)
        EXPECT_TRUE(lines[i].rfind("  Could not test whether file exists: ", 0) == 0 ||
                    lines[i] == "  File does not exist! Aborting load." ||
                    lines[i] == "  Could not open or create file.")
            << lines[i];
}

TEST_F(BadInputTest, EveryKindOfWindowSize)
{
    LogCapture log;
    EXPECT_FALSE(LoadFile(nullptr, H("w.txt"), false, false, 0));
    EXPECT_FALSE(LoadFile(nullptr, H("w.txt"), false, false, static_cast<uint32_t>(-5)));
    EXPECT_FALSE(LoadFile(nullptr, H("w.txt"), false, false, 2147483647u));
    EXPECT_FALSE(LoadFile(nullptr, H("w.txt"), false, false, 4294967295u));
    EXPECT_FALSE(LoadFile(nullptr, H("w.txt"), false, false, 2147483648u));
    EXPECT_FALSE(fs::exists("w.txt"));
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'w.txt'...", "  Illegal buffer size '0'!",
                                  "Loading file 'w.txt'...", "  Illegal buffer size '-5'!",
                                  "Loading file 'w.txt'...", "  Could not allocate buffer of size '2147483647'!",
                                  "Loading file 'w.txt'...", "  Illegal buffer size '-1'!",
                                  "Loading file 'w.txt'...", "  Illegal buffer size '-2147483648'!"}));
    EXPECT_TRUE(LoadFile(nullptr, H("w.txt"), false, false, 1));
}

TEST_F(BadInputTest, LinesOfSeveralMegabytesPassWhole)
{
    std::string big(5 * 1024 * 1024, 'm');
    big[12345] = 'x';
    ASSERT_TRUE(LoadFile(nullptr, H("big.txt"), false, false, 2));
    for (const std::string& line : {std::string("short"), big, big + "y", std::string("end")})
        EXPECT_TRUE(WriteLine(nullptr, H("big.txt"), H(line)));
    EXPECT_TRUE(CloseFile(nullptr, H("big.txt")));
    ASSERT_TRUE(LoadFile(nullptr, H("big.txt"), true, false, 1));
    EXPECT_EQ(Next("big.txt"), "short");
    EXPECT_EQ(Next("big.txt"), big);
    EXPECT_EQ(Next("big.txt"), big + "y");
    EXPECT_EQ(Next("big.txt"), "end");
    EXPECT_FALSE(HasNextLine(nullptr, H("big.txt")));
}

// A script's texts end at their first NUL; a CR stays where it is; a LF
// splits the line; BEL at the start is written like any text but reads back
// as the end of the data; 0x1A is written, and reading stops at it.
TEST_F(BadInputTest, LinesHoldingControlBytes)
{
    ASSERT_TRUE(LoadFile(nullptr, H("c.txt"), false, false, 8));
    for (const std::string& line : {std::string("nul\0hidden", 10), std::string("cr\rinside"), std::string("ends in cr\r"),
                                    std::string("lf\nsplits"), std::string("bel\a inside")})
        EXPECT_TRUE(WriteLine(nullptr, H("c.txt"), H(line)));
    EXPECT_TRUE(CloseFile(nullptr, H("c.txt")));
    EXPECT_EQ(ReadBytes("c.txt"), "nul\r\ncr\rinside\r\nends in cr\r\r\nlf\r\nsplits\r\nbel\a inside\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("c.txt"), true, false, 3));
    Lines lines;
    while (HasNextLine(nullptr, H("c.txt")))
        lines.push_back(Next("c.txt"));
    EXPECT_EQ(lines, (Lines{"nul", "cr\rinside", "ends in cr\r", "lf", "splits", "bel\a inside"}));
    EXPECT_TRUE(CloseFile(nullptr, H("c.txt")));

    ASSERT_TRUE(LoadFile(nullptr, H("d.txt"), false, false, 8));
    for (const char* line : {"before", "\abell first", "sub\x1a" "stitute", "after"})
        EXPECT_TRUE(WriteLine(nullptr, H("d.txt"), H(line)));
    EXPECT_TRUE(CloseFile(nullptr, H("d.txt")));
    EXPECT_EQ(FileLines("d.txt"), (Lines{"before", "\abell first", "sub\x1astitute", "after"}));
    ASSERT_TRUE(LoadFile(nullptr, H("d.txt"), true, false, 8));
    EXPECT_EQ(Next("d.txt"), "before");
    EXPECT_FALSE(HasNextLine(nullptr, H("d.txt")));
}

TEST_F(BadInputTest, NulInsideAFileLineEndsTheAnswerButNotTheFile)
{
    WriteBytes("n.txt", std::string("a\0b\r\nnext\r\n", 11));
    ASSERT_TRUE(LoadFile(nullptr, H("n.txt"), true, false, 4));
    EXPECT_EQ(Next("n.txt"), "a");
    EXPECT_EQ(Next("n.txt"), "next");
}

#if defined(_WIN32)
TEST_F(BadInputTest, NamesWindowsCannotHold)
{
    for (const char* name : {"a<b.txt", "a>b.txt", "x:y.txt", "a\"b.txt", "a|b.txt", "a?b.txt", "a*b.txt"}) {
        LogCapture log;
        ExpectNothingLoadsOrAnswers(H(name));
        Lines lines = log.Lines();
        ASSERT_EQ(lines.size(), 6u) << name;
        EXPECT_EQ(lines[1], "  File does not exist! Aborting load.") << name;
        EXPECT_EQ(lines[3], "  Could not open or create file.") << name;
    }
}
#else
TEST_F(BadInputTest, AnyByteButNulAndTheSeparatorsMakesAnOrdinaryName)
{
    for (const char* name : {"a<b>:\"|?*.txt", "caf\xc3\xa9.txt", "\xff\xfe.txt", "CON", "NUL"}) {
        ASSERT_TRUE(LoadFile(nullptr, H(name), false, false, 1)) << name;
        EXPECT_TRUE(WriteLine(nullptr, H(name), H("x")));
        EXPECT_TRUE(CloseFile(nullptr, H(name)));
        EXPECT_EQ(ReadBytes(name), "x\r\n") << name;
        EXPECT_TRUE(DeleteAnyFile(nullptr, H(name)));
    }
}
#endif
