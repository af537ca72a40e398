// Whatever a script passes gets a defined answer: empty and huge paths,
// names Windows cannot hold, odd bytes in lines, every kind of window size.
#include "support/TestSupport.h"

#include "common/IDebugLog.h"
#include "functions/OpenFileTable.h"
#include "functions/ScriptFunctions.h"
#include "linefile/CodePage.h"
#include "linefile/OwnFiles.h"

#include <algorithm>
#include <clocale>

#if defined(_WIN32)
#include <windows.h>
#endif

using lftest::FileLines;
using lftest::H;
using lftest::Next;
using lftest::LogCapture;
using lftest::ReadBytes;
using lftest::Utf16;
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

const char* const network = "a network or device path";
const char* const character = "a character that no file name may hold";
const char* const colon = "a colon that does not follow a drive letter";
const char* const device = "a device name";
const char* const trailing = "a name ending in a dot or a space";

// A path refused on its text by every function: three loads (for reading,
// for writing, and the one deleting makes) of two log lines each, every one
// naming the rule, and no line of the path's own making. The log's lines.
Lines ExpectRefused(const std::string& path, const char* reason)
{
    LogCapture log;
    ExpectNothingLoadsOrAnswers(H(path));
    Lines lines = log.Lines();
    EXPECT_EQ(lines.size(), 6u) << path;
    std::string refusal = std::string("  Path not allowed: ") + reason + "! Aborting load.";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), refusal), 3) << path;
    // A path's control bytes are shown escaped, never as lines of its own.
    for (const std::string& line : lines)
        EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char c) { return c >= 0 && c < 0x20; })) << line;
    return lines;
}

// The file a script's path names, for the test's own reading: on Windows its
// text is in the ANSI code page.
fs::path OnDisk(const std::string& name)
{
#if defined(_WIN32)
    std::wstring wide(name.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return fs::path(wide);
#else
    return fs::path(name);
#endif
}

// A path that every function takes: written, found, read back, deleted.
void ExpectLoadsAndDeletes(const std::string& name)
{
    ASSERT_TRUE(LoadFile(nullptr, H(name), false, false, 1)) << name;
    EXPECT_TRUE(WriteLine(nullptr, H(name), H("x")));
    EXPECT_TRUE(CloseFile(nullptr, H(name)));
    EXPECT_EQ(ReadBytes(OnDisk(name)), "x\r\n") << name;
    EXPECT_TRUE(ExistsFile(nullptr, H(name))) << name;
    EXPECT_TRUE(DeleteAnyFile(nullptr, H(name))) << name;
    EXPECT_FALSE(fs::exists(OnDisk(name))) << name;
}

// Other spellings of the path sub/NAME that reach the same file.
std::vector<std::string> SecondSpellings(const std::string& name)
{
    return {"./sub/" + name, "sub\\" + name, "sub/../sub/" + name, fs::absolute("sub").string() + "/" + name};
}

// In a double-byte code page, a first character whose second byte is that
// of '\' (Japanese, traditional Chinese) or '|' (simplified Chinese), as a
// player's file names hold them; none elsewhere.
std::string DoubleByteCharacter()
{
#if defined(_WIN32)
    switch (GetACP()) {
    case 932:
        return "\x95\x5c";  // 表
    case 950:
        return "\xb3\x5c";  // 許
    case 936:
        return "\x96\x7c";  // 東
    case 949:
        return "\xb0\xa1";  // 가
    }
#endif
    return "";
}

// While it lives, the files at these paths are the plugin's own: those in
// use, and those that are not.
struct OwnFilesWhileAlive {
    explicit OwnFilesWhileAlive(const std::vector<std::string>& inUse, const std::vector<std::string>& notInUse = {})
    {
        SetOwnFiles(Native(inUse), Native(notInUse));
    }
    ~OwnFilesWhileAlive() { SetOwnFiles({}); }
    static std::vector<NativePathString> Native(const std::vector<std::string>& paths)
    {
        std::vector<NativePathString> native;
        for (const std::string& path : paths) {
            FilePath filePath;
            EXPECT_TRUE(FilePath::FromScript(path, filePath));
            native.push_back(filePath.Native());
        }
        return native;
    }
};

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

// A script's text cannot hold a NUL byte: a line read that holds one reaches
// the script cut there, and the first such line of each load is logged with
// its number, unless reading stops before it (at a line beginning with BEL).
TEST_F(BadInputTest, NulInsideAFileLineEndsTheAnswerButNotTheFile)
{
    WriteBytes("n.txt", std::string("first\r\na\0b\r\nnext\0\r\n", 19));
    for (int load = 0; load < 2; ++load) {
        ASSERT_TRUE(LoadFile(nullptr, H("n.txt"), true, false, 2));
        LogCapture log;
        EXPECT_EQ(Next("n.txt"), "first");
        EXPECT_EQ(Next("n.txt"), "a");
        EXPECT_EQ(Next("n.txt"), "next");
        EXPECT_FALSE(HasNextLine(nullptr, H("n.txt")));
        EXPECT_TRUE(CloseFile(nullptr, H("n.txt")));
        EXPECT_EQ(log.Lines(), (Lines{"  Line 2 of 'n.txt' holds a NUL byte: the script gets the line up to it.",
                                      "Closed file 'n.txt'."}));
    }
    WriteBytes("b.txt", std::string("a\r\n\abel\r\nx\0y\r\n", 14));
    ASSERT_TRUE(LoadFile(nullptr, H("b.txt"), true, false, 4));
    LogCapture log;
    EXPECT_EQ(Next("b.txt"), "a");
    EXPECT_FALSE(HasNextLine(nullptr, H("b.txt")));
    EXPECT_TRUE(CloseFile(nullptr, H("b.txt")));
    EXPECT_EQ(log.Lines(), Lines{"Closed file 'b.txt'."});
}

namespace {
// While it lives, the code page of path names is the one chosen: on Windows
// the OEM one (after SetFileApisToOEM) or the ANSI one, elsewhere that of
// the C library's locale.
struct CodePageChoice {
#if defined(_WIN32)
    explicit CodePageChoice(const char* which)
    {
        if (std::string(which) == "OEM")
            SetFileApisToOEM();
    }
    ~CodePageChoice() { SetFileApisToANSI(); }
    bool taken = true;
#else
    explicit CodePageChoice(const char* locale) : taken(std::setlocale(LC_CTYPE, locale) != nullptr) {}
    ~CodePageChoice() { std::setlocale(LC_CTYPE, "C"); }
    bool taken;
#endif
};
}  // namespace

// A UTF-16 file reads in the code page of path names and is appended to in
// UTF-16 of its byte order. A character without an equivalent reads as the
// default character, never as a look-alike, and the load says how many did;
// bytes appended that form no character go in as U+FFFD, and the close says
// how many did. Each case runs in its own code page: under Wine the locale
// chooses the ANSI one (tests/CMakeLists.txt runs this again in each of
// them) and the OEM one, which the file functions may be switched to; on
// Linux the C library's locale, C and C.UTF-8 here.
TEST_F(BadInputTest, Utf16TextIsReadAndAppendedInTheCodePage)
{
    const struct {
        const char* codePage;
        std::u16string text;
        Lines lines;
        unsigned unmapped;
        std::string appended;  // in the code page
        std::u16string appendedText;
        unsigned unencodable;
    } cases[] = {
        {"1252", u"caf\xE9\r\nna\xEFve \x65E5\x672C", {"caf\xe9", "na\xefve ??"}, 2, "\xe9t\xe9", u"\xE9t\xE9", 0},
        {"437", u"caf\xE9\r\n\x65E5", {"caf\x82", "?"}, 1, "\x82t\x82", u"\xE9t\xE9", 0},
        {"932", u"\x65E5\x672C\r\ncaf\xE9", {"\x93\xfa\x96\x7b", "caf?"}, 1, "\x83\x7c", u"\x30DD", 0},
        {"936", u"\x4E1C\x65B9", {"\xb6\xab\xb7\xbd"}, 0, "\xb6\xab", u"\x4E1C", 0},
        {"949", u"\xD55C\xAD6D", {"\xc7\xd1\xb1\xb9"}, 0, "\xc7\xd1", u"\xD55C", 0},
        {"950", u"\x6703\x54E1", {"\xb7\x7c\xad\xfb"}, 0, "\xb3\x5c", u"\x8A31", 0},
        {"ANSI_X3.4-1968", u"caf\xE9", {"caf?"}, 1, "a\xe9", u"a\xFFFD", 1},
        {"UTF-8", u"caf\xE9 \xD83D\xDE00", {"caf\xc3\xa9 \xf0\x9f\x98\x80"}, 0, "\xc3\xa9\xff", u"\xE9\xFFFD", 1},
    };
#if defined(_WIN32)
    const char* const choices[] = {"ANSI", "OEM"};
#else
    const char* const choices[] = {"C", "C.UTF-8"};
#endif
    int run = 0;
    for (const char* choice : choices) {
        CodePageChoice chosen(choice);
        ASSERT_TRUE(chosen.taken) << choice;
        const std::string codePage = codepage::Name();
        for (const auto& text : cases) {
            if (codePage != text.codePage)
                continue;
            ++run;
            for (bool bigEndian : {false, true}) {
                SCOPED_TRACE(codePage + (bigEndian ? ", big-endian" : ", little-endian"));
                WriteBytes("u.txt", Utf16(text.text + u"\r\n", bigEndian));
                LogCapture log;
                ASSERT_TRUE(LoadFile(nullptr, H("u.txt"), true, false, 10));
                Lines lines;
                while (HasNextLine(nullptr, H("u.txt")))
                    lines.push_back(Next("u.txt"));
                EXPECT_EQ(lines, text.lines);
                EXPECT_TRUE(CloseFile(nullptr, H("u.txt")));

                ASSERT_TRUE(LoadFile(nullptr, H("u.txt"), false, true, 10));
                EXPECT_TRUE(WriteLine(nullptr, H("u.txt"), H(text.appended)));
                EXPECT_TRUE(CloseFile(nullptr, H("u.txt")));
                EXPECT_EQ(ReadBytes("u.txt"), Utf16(text.text + u"\r\n" + text.appendedText + u"\r\n", bigEndian));
                Lines expected = {"Loading file 'u.txt'...", "  File successfully loaded."};
                if (text.unmapped > 0)
                    expected.push_back("  UTF-16 text of 'u.txt': " + std::to_string(text.unmapped) +
                                       " of its characters had no equivalent in code page " + codePage +
                                       " and read as '?'.");
                expected.insert(expected.end(), {"Closed file 'u.txt'.", "Loading file 'u.txt'...",
                                                 "  File successfully loaded."});
                if (text.unencodable > 0)
                    expected.push_back("  UTF-16 text of 'u.txt': " + std::to_string(text.unencodable) +
                                       " of the bytes written formed no character of code page " + codePage +
                                       " and went in as U+FFFD.");
                expected.push_back("Closed file 'u.txt'.");
                EXPECT_EQ(log.Lines(), expected);
                if (text.unencodable == 0) {
                    ASSERT_TRUE(LoadFile(nullptr, H("u.txt"), true, false, 10));
                    Lines again;
                    while (HasNextLine(nullptr, H("u.txt")))
                        again.push_back(Next("u.txt"));
                    EXPECT_EQ(again.back(), text.appended);
                    EXPECT_TRUE(CloseFile(nullptr, H("u.txt")));
                }
            }
        }
    }
    if (run == 0)
        GTEST_SKIP() << "no case for code page " << codepage::Name();
}

// Path forms that reach no ordinary file, or a file under a second
// spelling, are refused on their text on every build, before any file call:
// every function answers false, each load names the rule, and nothing is
// created or emptied.
TEST_F(BadInputTest, PathsThatNameNoOrdinaryFileAreRefusedOnTheirText)
{
    const struct {
        const char* path;
        const char* reason;
    } cases[] = {
        {"\\\\server\\share\\f.txt", network}, {"//server/share/f.txt", network},
        {"/\\server/f.txt", network}, {"\\/server\\f.txt", network},
        {"\\\\server@SSL@443\\dav\\f.txt", network}, {"\\\\?\\UNC\\server\\share\\f.txt", network},
        {"\\\\.\\pipe\\p", network}, {"\\\\.\\C:", network},
        {"\\\\.\\PhysicalDrive0", network}, {"//?/C:/game/tv.txt.", network},
        {"\\\\?\\GLOBALROOT\\Device", network}, {"\\??\\C:\\f.txt", network},
        {"a<b.txt", character}, {"a>b.txt", character}, {"a\"b.txt", character},
        {"a|b.txt", character}, {"a?b.txt", character}, {"a*b.txt", character},
        {"tab\there.txt", character}, {"line\nfeed.txt", character}, {"\x1f.txt", character},
        {"ab:c.txt", colon}, {"kept.txt:stream", colon}, {"kept.txt::$DATA", colon},
        {"x.exe:Zone.Identifier", colon}, {"sub/C:f.txt", colon}, {"1:/f.txt", colon}, {"COM1:", colon},
        {"CON", device}, {"prn", device}, {"Aux.txt", device}, {"NUL", device}, {"nul.txt", device},
        {"sub\\nul.txt", device}, {"sub\\CON", device}, {"con/x.txt", device}, {"COM1", device},
        {"com0", device}, {"COM9.log", device}, {"LPT1", device}, {"lpt0.txt", device},
        {"CONIN$", device}, {"conout$.txt", device}, {"NUL .txt", device}, {"Con.a.b", device}, {"AUX.", device},
        // "C:" alone names the drive's current folder; a device after it is one.
        {"C:NUL", device}, {"c:com1.txt", device}, {"C:nul .txt", device}, {"C:CONIN$", device},
        {"c:aux.log", device}, {"C:LPT1", device}, {"C:sub\\con", device},
        {"kept.txt.", trailing}, {"kept.txt ", trailing}, {"kept.txt. .", trailing},
        {"dir./f.txt", trailing}, {"dir /f.txt", trailing}, {"...", trailing},
    };
    WriteBytes("kept.txt", "kept\r\n");
    for (const auto& refused : cases)
        ExpectRefused(refused.path, refused.reason);
    EXPECT_EQ(ReadBytes("kept.txt"), "kept\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

// What stays allowed: names near the refused ones, dot segments, paths that
// leave the folder, absolute paths, and on Windows the drive-relative ones.
TEST_F(BadInputTest, OrdinaryNamesNearTheRefusedOnesStayAllowed)
{
    fs::create_directory("sub");
    std::string outside = "../" + folder.filename().string() + "/up.txt";
    std::string absolute = fs::absolute("abs.txt").string();
    std::vector<std::string> names = {"a.b.txt", ".hidden", "sub/../ok.txt", "./sub/ok.txt", "CONSOLE.txt", "COM10.txt",
                                      "LPT.txt", "nul_x.txt", "x.nul", "COMA", " lead.txt", outside, absolute};
#if defined(_WIN32)
    // The test's folder is its drive's current one.
    std::string drive = folder.string().substr(0, 2);
    names.insert(names.end(), {drive + "a.txt", drive + "./a.txt", drive + "sub/a.txt",
                               drive + "../" + folder.filename().string() + "/a.txt"});
#endif
    for (const std::string& name : names)
        ExpectLoadsAndDeletes(name);
}

// The rules read a path as the file system will. On Windows that is in
// characters of the ANSI code page, where in the double-byte code pages of
// Japanese (932), Chinese (936, 950) and Korean (949) players the second
// byte of a character may be that of '\' or '|'; elsewhere (0 here) it is
// bytes. Each case runs in its own code page: under Wine the locale chooses
// it (tests/CMakeLists.txt runs this again in each of them).
TEST_F(BadInputTest, PathsAreReadInTheCharactersOfTheCodePage)
{
#if defined(_WIN32)
    const unsigned codePage = GetACP();
#else
    const unsigned codePage = 0;
#endif
    const struct {
        unsigned codePage;
        const char* path;
        const char* reason;
    } cases[] = {
        {0, "caf\xc3\xa9.txt", nullptr}, {0, "\xff\xfe.txt", nullptr},
        {0, "COM\xb9", device}, {0, "LPT\xc2\xb2.txt", device},  // COM¹, LPT² (UTF-8)
        {1252, "COM\xb9", device}, {1252, "lpt\xb3.log", device},  // COM¹, lpt³.log
        {1252, "LPT\xc2\xb2.txt", nullptr},                          // LPTÂ².txt
        {932, "\x83\x7c\x81\x5b\x83\x56\x83\x87\x83\x93.txt", nullptr},  // ポーション.txt
        {932, "\x92\x7c.txt", nullptr},                                  // 竹.txt
        {932, "\x83\x5c" "CON.txt", nullptr},                            // ソCON.txt
        {932, "\x95\x5c" "NUL.log", nullptr},                            // 表NUL.log
        {932, "\x83\x5c.", trailing}, {932, "\x83\x5c..", trailing},     // ソ. and ソ..
        {932, "\x95\x5c/NUL.log", device},                               // 表/NUL.log
        {936, "\x96\x7c\xb7\xbd.txt", nullptr},                          // 東方.txt
        {950, "\xb7\x7c\xad\xfb.txt", nullptr},                          // 會員.txt
        {950, "\xb3\x5c\xa5\x5c.txt", nullptr},                          // 許功.txt
        {949, "COM\xa9\xf6", device}, {949, "LPT\xa9\xf8.txt", device},  // COM¹, LPT³.txt
    };
    int run = 0;
    for (const auto& path : cases) {
        if (path.codePage != codePage)
            continue;
        ++run;
        if (!path.reason) {
            ExpectLoadsAndDeletes(path.path);
            continue;
        }
        // Shown as given: a second byte of '\' is no separator to make '/'.
        Lines lines = ExpectRefused(path.path, path.reason);
        EXPECT_EQ(lines.at(0), "Loading file '" + std::string(path.path) + "'...");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 0);
    if (run == 0)
        GTEST_SKIP() << "no case for code page " << codePage;
}

// One file under two spellings of its path: the second key gets no stream
// of its own when either load is for writing, so that no two streams
// interleave lines or empty each other's; two readers may share it.
TEST_F(BadInputTest, OneFileUnderTwoKeysGetsNoSecondStreamBesideAWriter)
{
    fs::create_directory("sub");
    for (const std::string& second : SecondSpellings("a.txt")) {
        std::string shown = second;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        for (bool firstReads : {false, true}) {
            for (bool secondReads : {false, true}) {
                WriteBytes("sub/a.txt", "kept\r\n");
                ASSERT_TRUE(LoadFile(nullptr, H("sub/a.txt"), firstReads, true, 2));
                LogCapture log;
                bool shared = firstReads && secondReads;
                EXPECT_EQ(LoadFile(nullptr, H(second), secondReads, false, 2), shared) << second;
                if (!shared) {
                    EXPECT_EQ(log.Lines(), (Lines{"Loading file '" + shown + "'...",
                                                  "  File already loaded as 'sub/a.txt'! Aborting load."}));
                }
                if (!firstReads) {
                    // Deleting loads the file for reading first: refused too.
                    EXPECT_FALSE(DeleteAnyFile(nullptr, H(second))) << second;
                    EXPECT_TRUE(WriteLine(nullptr, H("sub/a.txt"), H("added")));
                }
                EXPECT_TRUE(CloseFile(nullptr, H("sub/a.txt")));
                EXPECT_EQ(CloseFile(nullptr, H(second)), shared);
                EXPECT_EQ(ReadBytes("sub/a.txt"), firstReads ? "kept\r\n" : "kept\r\nadded\r\n") << second;
            }
        }
    }

    // Two files that share a file number on different volumes are two files:
    // b.txt is given the number of sub/a.txt on another volume.
    ASSERT_TRUE(LoadFile(nullptr, H("sub/a.txt"), false, true, 2));
    FileIdentity elsewhere = TheOpenFileTable().Find("sub/a.txt")->file.identity;
    ++elsewhere.volume;
    EXPECT_TRUE(CloseFile(nullptr, H("sub/a.txt")));
    ASSERT_TRUE(LoadFile(nullptr, H("b.txt"), false, true, 2));
    TheOpenFileTable().Find("b.txt")->file.identity = elsewhere;
    EXPECT_TRUE(LoadFile(nullptr, H("sub/a.txt"), false, true, 2));
}

// The plugin's own files (its routine file and its debug log) may be read,
// but no spelling, link or letter case of their path writes, empties or
// deletes them, nor makes one that is missing. Each spelling is refused by
// the plugin's rules, which log why, but for a hard link reached through
// another drive letter under Wine, which reports another volume there: the
// system's hold alone refuses it.
TEST_F(BadInputTest, OwnFilesMayBeReadButNotWrittenEmptiedOrDeleted)
{
    const std::string name = DoubleByteCharacter() + "own-routines.ini", own = "sub/" + name;
    fs::create_directory("sub");
    WriteBytes(OnDisk(own), "kept\r\n");
    const std::string log = IDebugLog::OpenPath();
    lftest::LinkFolder links;
    std::vector<std::string> inUse = {own, "sub/missing.ini", log};
    std::vector<std::string> spellings = SecondSpellings(name);
    spellings.insert(spellings.end(), {own, "sub/" + DoubleByteCharacter() + "OWN-Routines.ini", "hard.ini", log});
    if (!links.Path().empty()) {
        fs::create_directory(links.Path() + "/sub");
        WriteBytes(links.Path() + "/sub/target.txt", "kept\r\n");
        inUse.push_back(links.Path() + "/sub/target.txt");
        spellings.push_back(links.Path() + "/link.txt");
    }
    // A hard link in the log's folder, which Wine puts on another drive (Z:,
    // with another volume serial) than the test's folder (C:): there only
    // the system's hold refuses it. Removed once the hold is let go.
    const std::string elsewhere = fs::path(log).parent_path().string() + "/linefold-test-link.ini";
    struct RemovedAtTheEnd {
        std::string path;
        ~RemovedAtTheEnd()
        {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    } removed{elsewhere};
    fs::remove(elsewhere);
    fs::create_hard_link(OnDisk(own), elsewhere);
    OwnFilesWhileAlive owned(inUse, {"sub/spare.log0"});
    fs::create_hard_link(OnDisk(own), "hard.ini");
    // Windows resolves "." and ".." parts, and the drive's current folder,
    // on the text before it opens; Linux finds no folder in a file.
    const std::vector<std::string> onTheText = {own + "/.", own + "/x/.."};
    std::vector<std::string> bySystemOnly;
#if defined(_WIN32)
    const std::string drive = folder.string().substr(0, 2);
    spellings.insert(spellings.end(), onTheText.begin(), onTheText.end());
    spellings.insert(spellings.end(), {drive + own, drive + "sub/../" + own});
    char shortName[MAX_PATH];
    DWORD length = GetShortPathNameA(("sub\\" + name).c_str(), shortName, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    if (std::string(shortName) != "sub\\" + name)
        spellings.push_back(shortName);
    bySystemOnly.push_back(elsewhere);
#else
    spellings.push_back(elsewhere);
#endif
    const std::string refusal = "  Path not allowed: one of Linefold's own files! Aborting load.";
    for (const std::string& path : spellings) {
        LogCapture capture;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, true, 2)) << path;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, false, 2)) << path;
        EXPECT_FALSE(DeleteAnyFile(nullptr, H(path))) << path;
        Lines lines = capture.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), refusal), 2) << path;
        EXPECT_EQ(lines.back(), "  Delete not allowed: one of Linefold's own files!") << path;
        EXPECT_TRUE(LoadFile(nullptr, H(path), true, false, 2)) << path;
        EXPECT_TRUE(CloseFile(nullptr, H(path)));
    }
    for (const std::string& path : bySystemOnly) {
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, true, 2)) << path;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, false, 2)) << path;
        EXPECT_FALSE(DeleteAnyFile(nullptr, H(path))) << path;
        EXPECT_TRUE(LoadFile(nullptr, H(path), true, false, 2)) << path << " reaches no file";
        EXPECT_TRUE(CloseFile(nullptr, H(path)));
    }
    EXPECT_EQ(ReadBytes(OnDisk(own)), "kept\r\n");
    if (!links.Path().empty()) {
        EXPECT_EQ(ReadBytes(links.Path() + "/sub/target.txt"), "kept\r\n");
    }
    std::vector<std::string> missing = {"sub/missing.ini", "./sub/MISSING.INI", "sub/../sub/missing.ini",
                                        "sub/missing.ini/.", "sub/spare.log0"};
    missing.insert(missing.end(), onTheText.begin(), onTheText.end());
    for (const std::string& path : missing) {
        LogCapture capture;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, true, 2)) << path;
        EXPECT_EQ(capture.Lines().back(), refusal) << path;
    }
    EXPECT_FALSE(fs::exists("sub/missing.ini"));
    EXPECT_FALSE(fs::exists("sub/spare.log0"));
}

// Another program may replace an own file while the game runs (an editor
// saves by renaming a new file over the old one): the file in its place is
// the plugin's as well, by its name, through "." and through a link made
// before. On Windows the hold lets nothing replace the file itself, but Wine
// lets its folder be renamed, and a new one be made in its place.
TEST_F(BadInputTest, AnOwnFileReplacedOnDiskIsStillOwn)
{
    lftest::LinkFolder links;
    const std::string base = links.Path().empty() ? "." : links.Path();
    const std::string own = base + "/sub/target.txt";
    fs::create_directory(base + "/sub");
    WriteBytes(own, "first\r\n");
    OwnFilesWhileAlive owned({own});
    WriteBytes("fresh.txt", "second\r\n");
    std::string now = "second\r\n";
#if defined(_WIN32)
    EXPECT_FALSE(MoveFileExA("fresh.txt", own.c_str(), MOVEFILE_REPLACE_EXISTING));
    if (MoveFileExA((base + "/sub").c_str(), (base + "/old-sub").c_str(), 0)) {
        fs::create_directory(base + "/sub");
        fs::rename("fresh.txt", own);
    } else {
        now = "first\r\n";
    }
#else
    fs::rename("fresh.txt", own);
#endif
    std::vector<std::string> spellings = {own, base + "/./sub/target.txt"};
    if (!links.Path().empty())
        spellings.push_back(links.Path() + "/link.txt");
#if defined(_WIN32)
    spellings.push_back(own + "/.");
#endif
    for (const std::string& path : spellings) {
        LogCapture capture;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, true, 2)) << path;
        EXPECT_FALSE(LoadFile(nullptr, H(path), false, false, 2)) << path;
        EXPECT_FALSE(DeleteAnyFile(nullptr, H(path))) << path;
        EXPECT_EQ(capture.Lines().back(), "  Delete not allowed: one of Linefold's own files!") << path;
    }
    EXPECT_EQ(ReadBytes(own), now);
}

// An own file that another program deleted keeps its number while the plugin
// holds it, so that no file made since is taken for it. On Windows the hold
// admits no delete.
TEST_F(BadInputTest, FilesMadeAfterAnOwnFileWasDeletedAreNotOwn)
{
    WriteBytes("own.ini", "x");
    OwnFilesWhileAlive own({"own.ini"});
    std::error_code error;
    fs::remove("own.ini", error);
#if defined(_WIN32)
    EXPECT_TRUE(error);
#else
    ASSERT_FALSE(error);
    for (int i = 0; i < 10; ++i) {
        std::string name = "new-" + std::to_string(i) + ".txt";
        WriteBytes(name, "");
        EXPECT_TRUE(LoadFile(nullptr, H(name), false, true, 1)) << name;
        EXPECT_TRUE(CloseFile(nullptr, H(name)));
        EXPECT_TRUE(DeleteAnyFile(nullptr, H(name))) << name;
    }
#endif
}
