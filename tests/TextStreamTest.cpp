#include "support/TestSupport.h"

#include "linefile/CodePage.h"
#include "linefile/TextStream.h"

#include <cerrno>
#include <cstring>
#include <random>

#if defined(_WIN32)
#include <windows.h>
#endif

using lftest::FolderTest;
using lftest::ReadBytes;
using lftest::Utf16;
using lftest::WriteBytes;

namespace {

FilePath PathOf(const std::string& text)
{
    FilePath path;
    EXPECT_TRUE(FilePath::FromScript(text, path));
    return path;
}

std::vector<std::string> ReadAllLines(const std::string& name)
{
    TextInput input;
    EXPECT_TRUE(input.Open(PathOf(name)));
    std::vector<std::string> lines;
    std::string line;
    while (input.ReadLine(line) == TextInput::Read::Line)
        lines.push_back(line);
    return lines;
}

// What a Windows text-mode read makes of bytes on disk, written out plainly:
// stop at 0x1A, CR LF -> LF, then split at LF as std::getline would.
std::vector<std::string> ModelRead(std::string bytes)
{
    bytes = bytes.substr(0, bytes.find('\x1a'));
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += bytes[i];
    }
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(text.substr(from, end - from));
    if (from < text.size())
        lines.push_back(text.substr(from));
    return lines;
}

using TextStreamTest = FolderTest;

}  // namespace

TEST_F(TextStreamTest, ReadingTranslatesLineEndsAndStopsAtCtrlZ)
{
    WriteBytes("in.txt", "alpha\r\nbe\rta\r\n\r\nlast\r");
    EXPECT_EQ(ReadAllLines("in.txt"), (std::vector<std::string>{"alpha", "be\rta", "", "last\r"}));

    WriteBytes("z.txt", "one\ntw\x1ao\nthree\n");
    EXPECT_EQ(ReadAllLines("z.txt"), (std::vector<std::string>{"one", "tw"}));

    WriteBytes("crz.txt", "a\r\x1a\nb");
    EXPECT_EQ(ReadAllLines("crz.txt"), (std::vector<std::string>{"a\r"}));
}

TEST_F(TextStreamTest, InputEndsForGoodAndLinesMayHoldAnyOtherByte)
{
    std::string odd("x\0y\a\x7f\xff", 6);
    WriteBytes("odd.txt", odd + "\n");
    TextInput input;
    ASSERT_TRUE(input.Open(PathOf("odd.txt")));
    std::string line;
    EXPECT_EQ(input.ReadLine(line), TextInput::Read::Line);
    EXPECT_EQ(line, odd);
    EXPECT_EQ(input.ReadLine(line), TextInput::Read::End);
    EXPECT_EQ(input.ReadLine(line), TextInput::Read::End);
}

// The translation must not depend on where the reads split the file: CR LF
// pairs, lone CRs and 0x1A placed around the read buffer's edges.
TEST_F(TextStreamTest, ReadingMatchesTheModelAcrossBufferEdges)
{
    std::mt19937 random(20261207);
    const std::string alphabet = "ab\r\n\r\n\x1a";
    for (size_t edge : {size_t(65535), size_t(65536), size_t(131071)}) {
        for (int round = 0; round < 20; ++round) {
            std::string bytes(edge - 3, 'x');
            for (size_t i = 0; i < bytes.size(); i += 1 + random() % 200)
                bytes[i] = random() % 2 ? '\n' : 'y';
            for (int i = 0; i < 8; ++i) {
                char c = alphabet[random() % alphabet.size()];
                if (c == '\x1a' && random() % 4 != 0)
                    c = '\r';
                bytes += c;
            }
            bytes += "tail\r\nend";
            WriteBytes("edge.txt", bytes);
            ASSERT_EQ(ReadAllLines("edge.txt"), ModelRead(bytes)) << "edge " << edge << " round " << round;
        }
    }
}

// The same text saved as UTF-16 (only ASCII here, so it reads as the 8-bit
// bytes would), where the reads of 64 KiB of the file end inside a character
// and the buffer holds the converted text of one read at most.
TEST_F(TextStreamTest, Utf16ReadingMatchesTheModelAcrossBufferEdges)
{
    std::mt19937 random(29);
    for (size_t edge : {size_t(32763), size_t(32765), size_t(65532)}) {
        for (int round = 0; round < 12; ++round) {
            std::string bytes(edge, 'x');
            for (size_t i = 0; i < bytes.size(); i += 1 + random() % 200)
                bytes[i] = random() % 2 ? '\n' : 'y';
            for (int i = 0; i < 8; ++i)
                bytes += "ab\r\n\r"[random() % 5];
            bytes += "tail\r\nend";
            WriteBytes("edge16.txt", Utf16(std::u16string(bytes.begin(), bytes.end()), round % 2 == 1));
            ASSERT_EQ(ReadAllLines("edge16.txt"), ModelRead(bytes)) << "edge " << edge << " round " << round;
        }
    }
}

// Line ends of every kind, densely and in runs (CR CR LF, LF CR, CR CR),
// over several read buffers.
TEST_F(TextStreamTest, ReadingMatchesTheModelForDenseMixedLineEnds)
{
    std::mt19937 random(7);
    const char* const pieces[] = {"x", "text", "\r\n", "\r", "\n", "\r\r\n", "\n\r", "\r\r"};
    std::string bytes;
    while (bytes.size() < 300000)
        bytes += pieces[random() % std::size(pieces)];
    WriteBytes("dense.txt", bytes);
    EXPECT_EQ(ReadAllLines("dense.txt"), ModelRead(bytes));
}

// A byte order mark is no text: UTF-8's is passed over, and UTF-16's makes
// the file UTF-16 of that byte order, converted into the code page and then
// read as 8-bit text is (CR LF, 0x1A). Only a mark at the very start counts.
// Half a surrogate pair, and an odd last byte, are no characters.
TEST_F(TextStreamTest, ByteOrderMarksTellHowTheFileIsRead)
{
    using Lines = std::vector<std::string>;
    const std::string unknown = codepage::DefaultCharacter();
    const TextEncoding bytes = TextEncoding::EightBit, little = TextEncoding::Utf16LittleEndian,
                       big = TextEncoding::Utf16BigEndian;
    const struct {
        std::string file;
        Lines lines;
        TextEncoding encoding;
        uint64_t unmapped;
    } cases[] = {
        {"\xEF\xBB\xBF" "first\r\nsecond", {"first", "second"}, bytes, 0},
        {"\xEF\xBB\xBF", {}, bytes, 0},
        {"\xEF\xBB\xBF\xEF\xBB\xBF" "x", {"\xEF\xBB\xBF" "x"}, bytes, 0},
        {"x\xEF\xBB\xBF\n\xFF\xFE", {"x\xEF\xBB\xBF", "\xFF\xFE"}, bytes, 0},
        {"\xEF\xBB", {"\xEF\xBB"}, bytes, 0},
        {Utf16(u"bread\r\ncheese\r\n\r\nlast", false), {"bread", "cheese", "", "last"}, little, 0},
        {Utf16(u"bread\r\ncheese\rx\r\n", true), {"bread", "cheese\rx"}, big, 0},
        {Utf16(u"", false), {}, little, 0},
        {Utf16(u"\xFEFF" u"a\n", true), {unknown + "a"}, big, 1},
        {Utf16(u"stop\x1a\r\nnever", false), {"stop"}, little, 0},
        {Utf16(std::u16string(u"nul\0in\n", 7), true), {std::string("nul\0in", 6)}, big, 0},
        {Utf16(u"a\xD800" u"b\r\nc\xDC00", false), {"a" + unknown + "b", "c" + unknown}, little, 2},
        {Utf16(u"a\r\n\xD800", true) + "x", {"a", unknown + unknown}, big, 2},
    };
    for (const auto& read : cases) {
        WriteBytes("marked.txt", read.file);
        TextInput input;
        ASSERT_TRUE(input.Open(PathOf("marked.txt")));
        Lines lines;
        std::string line;
        while (input.ReadLine(line) == TextInput::Read::Line)
            lines.push_back(line);
        EXPECT_EQ(lines, read.lines) << testing::PrintToString(read.file);
        EXPECT_EQ(input.Encoding(), read.encoding) << testing::PrintToString(read.file);
        EXPECT_EQ(input.Unmapped(), read.unmapped) << testing::PrintToString(read.file);
    }
}

// Wherever the pieces of a UTF-16 file's reads end, the text comes out the
// same: a surrogate pair, a lone half of each kind and an odd last byte.
TEST_F(TextStreamTest, Utf16ConvertsAlikeWhereverItsPiecesEnd)
{
    const std::string bytes = Utf16(u"a\xD83D\xDE00" u"b\xDC00" u"c\xD800", false, false) + "x";
    std::string whole;
    codepage::Utf16Decoder once(false);
    once.Decode(bytes.data(), bytes.size(), whole);
    once.Finish(whole);
    EXPECT_EQ(whole.substr(0, 1), "a");
    for (size_t first = 0; first <= bytes.size(); ++first) {
        for (size_t second = first; second <= bytes.size(); ++second) {
            std::string text;
            codepage::Utf16Decoder pieces(false);
            pieces.Decode(bytes.data(), first, text);
            pieces.Decode(bytes.data() + first, second - first, text);
            pieces.Decode(bytes.data() + second, bytes.size() - second, text);
            pieces.Finish(text);
            ASSERT_EQ(text, whole) << first << " " << second;
            ASSERT_EQ(pieces.Unmapped(), once.Unmapped());
        }
    }
    // Here, in the C locale's ASCII and in code page 1252, the pair has no
    // equivalent either.
    const std::string unknown = codepage::DefaultCharacter();
    EXPECT_EQ(whole, "a" + unknown + "b" + unknown + "c" + unknown + unknown);
    EXPECT_EQ(once.Unmapped(), 4u);
}

// The read buffer is made at the first read, as large as what is left of the
// file then (it grows with the file, up to 64 KiB), and goes once the end
// was read: a game may hold thousands of small files loaded.
TEST_F(TextStreamTest, TheReadBufferIsWhatTheFileNeedsAndGoesAtTheEnd)
{
    std::string small;
    for (int i = 0; i < 10; ++i)
        small += "line of twenty " + std::to_string(10 + i) + "\r\n";
    WriteBytes("small.txt", small);
    TextInput input;
    ASSERT_TRUE(input.Open(PathOf("small.txt")));
    EXPECT_EQ(input.BufferSize(), 0u);
    std::string line;
    ASSERT_EQ(input.ReadLine(line), TextInput::Read::Line);
    EXPECT_GT(input.BufferSize(), 0u);
    EXPECT_LE(input.BufferSize(), small.size() + 1);
    // It grows with the file.
    std::string more(100000, 'm');
    WriteBytes("small.txt", small + more + "\n");
    std::vector<std::string> lines;
    while (input.ReadLine(line) == TextInput::Read::Line) {
        lines.push_back(line);
        if (lines.size() == 10) {
            EXPECT_EQ(input.BufferSize(), 64u * 1024);
        }
    }
    EXPECT_EQ(lines.back(), more);
    EXPECT_EQ(lines.size(), 10u);
    EXPECT_EQ(input.BufferSize(), 0u);
    EXPECT_TRUE(input.AtEnd());
}

TEST_F(TextStreamTest, WritingTurnsEveryLineFeedIntoCrLf)
{
    TextOutput output;
    ASSERT_TRUE(output.Open(PathOf("out.txt"), false));
    output.WriteLine("first");
    output.WriteLine("");
    output.WriteLine("two\nparts");
    output.WriteLine("cr\rstays\x1a");
    ASSERT_TRUE(output.Close());
    EXPECT_EQ(ReadBytes("out.txt"), "first\r\n\r\ntwo\r\nparts\r\ncr\rstays\x1a\r\n");
}

TEST_F(TextStreamTest, LargeOutputSurvivesTheRoundTrip)
{
    std::mt19937 random(7);
    std::vector<std::string> lines;
    std::string expected;
    TextOutput output;
    ASSERT_TRUE(output.Open(PathOf("big.txt"), false));
    for (int i = 0; i < 20000; ++i) {
        std::string line(random() % 40, 'a' + i % 26);
        output.WriteLine(line);
        lines.push_back(line);
        expected += line + "\r\n";
    }
    ASSERT_TRUE(output.Close());
    EXPECT_EQ(ReadBytes("big.txt"), expected);
    EXPECT_EQ(ReadAllLines("big.txt"), lines);
}

TEST_F(TextStreamTest, AppendKeepsWhatIsThereAndTruncateEmpties)
{
    WriteBytes("a.txt", "old");
    TextOutput output;
    ASSERT_TRUE(output.Open(PathOf("a.txt"), true));
    output.WriteLine("new");
    ASSERT_TRUE(output.Close());
    EXPECT_EQ(ReadBytes("a.txt"), "oldnew\r\n");

    // Opening empties nothing: the caller first sees what it opened.
    ASSERT_TRUE(output.Open(PathOf("a.txt"), false));
    EXPECT_EQ(ReadBytes("a.txt"), "oldnew\r\n");
    ASSERT_TRUE(output.Empty());
    EXPECT_EQ(ReadBytes("a.txt"), "");
    ASSERT_TRUE(output.Close());

    // A UTF-16 file gets its lines in its own encoding and byte order; a
    // UTF-8 mark changes nothing, and an emptied file starts as 8-bit text.
    for (bool bigEndian : {false, true}) {
        WriteBytes("u.txt", Utf16(u"old", bigEndian));
        ASSERT_TRUE(output.Open(PathOf("u.txt"), true));
        output.WriteLine("new");
        output.WriteLine("two\nparts");
        ASSERT_TRUE(output.Close());
        EXPECT_EQ(ReadBytes("u.txt"), Utf16(u"oldnew\r\ntwo\r\nparts\r\n", bigEndian));
        EXPECT_EQ(output.Unencodable(), 0u);
    }
    WriteBytes("u.txt", "\xEF\xBB\xBF" "old\r\n");
    ASSERT_TRUE(output.Open(PathOf("u.txt"), true));
    output.WriteLine("new");
    ASSERT_TRUE(output.Close());
    EXPECT_EQ(ReadBytes("u.txt"), "\xEF\xBB\xBF" "old\r\nnew\r\n");
    WriteBytes("u.txt", Utf16(u"old", false));
    ASSERT_TRUE(output.Open(PathOf("u.txt"), false));
    ASSERT_TRUE(output.Empty());
    output.WriteLine("new");
    ASSERT_TRUE(output.Close());
    EXPECT_EQ(ReadBytes("u.txt"), "new\r\n");
}

TEST_F(TextStreamTest, FoldersAndMissingFilesDoNotOpen)
{
    lftest::fs::create_directory("dir");
    TextInput input;
    EXPECT_FALSE(input.Open(PathOf("dir")));
    EXPECT_FALSE(input.Open(PathOf("missing.txt")));
    TextOutput output;
    EXPECT_FALSE(output.Open(PathOf("dir"), false));
    EXPECT_FALSE(output.Open(PathOf("no/such/folder.txt"), true));
    EXPECT_FALSE(output.ErrorText().empty());
#if defined(_WIN32)
    // A pipe opens, and is then refused as no disk file in every mode. (A
    // script's path of it is refused on its text before it gets here.)
    const char* const pipeName = "\\\\.\\pipe\\linefold-stream-test";
    for (int mode = 0; mode < 3; ++mode) {
        HANDLE pipe = CreateNamedPipeA(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_NOWAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(mode == 0 ? input.Open(PathOf(pipeName)) : output.Open(PathOf(pipeName), mode == 1)) << mode;
        EXPECT_EQ(mode == 0 ? input.ErrorText() : output.ErrorText(), std::strerror(ENODEV));
        CloseHandle(pipe);
    }
#endif
}

TEST_F(TextStreamTest, BackslashAndSlashNameTheSameFile)
{
    lftest::fs::create_directory("data");
    WriteBytes("data/log.txt", "line\n");
    EXPECT_EQ(ReadAllLines("data\\log.txt"), std::vector<std::string>{"line"});
    EXPECT_EQ(PathOf("data/log.txt").Native(), PathOf("data\\log.txt").Native());
    FilePath path = PathOf("data\\log.txt");
    EXPECT_EQ(path.Generic(), "data/log.txt");
}

#if !defined(_WIN32)
TEST_F(TextStreamTest, FullDiskFailsTheWriteOrTheClose)
{
    lftest::FullFile full("full.txt");
    TextOutput output;
    ASSERT_TRUE(output.Open(PathOf("full.txt"), true));
    output.WriteLine("lost");
    EXPECT_FALSE(output.Close());
    EXPECT_EQ(output.ErrorText(), "File too large");

    ASSERT_TRUE(output.Open(PathOf("full.txt"), true));
    for (int i = 0; i < 10000 && !output.Failed(); ++i)
        output.WriteLine(std::string(100, 'x'));
    EXPECT_TRUE(output.Failed());
    EXPECT_FALSE(output.Close());
}
#endif

#if defined(_WIN32)
// Wine gives every file on tmpfs (and sysfs, procfs) volume serial 0: the
// file's final path tells them apart, so two files stay two even with one
// file number, and one file under two spellings stays one.
TEST_F(TextStreamTest, FilesOnAVolumeWithoutASerialAreToldApart)
{
    const std::string shm = "Z:\\dev\\shm\\linefold-stream-test-" + std::to_string(GetCurrentProcessId());
    std::error_code ignored;
    lftest::fs::remove_all(shm, ignored);
    if (!CreateDirectoryA(shm.c_str(), nullptr))
        GTEST_SKIP() << "no tmpfs at Z:\\dev\\shm (Wine only)";
    {
        TextOutput a, b;
        ASSERT_TRUE(a.Open(PathOf(shm + "\\a.txt"), false));
        ASSERT_TRUE(b.Open(PathOf(shm + "\\b.txt"), false));
        EXPECT_EQ(a.Identity().volume, 0u);
        FileIdentity sameNumber = b.Identity();
        sameNumber.index = a.Identity().index;
        EXPECT_NE(a.Identity(), sameNumber);
        TextInput again;
        ASSERT_TRUE(again.Open(PathOf(shm + "\\A.TXT")));
        EXPECT_EQ(again.Identity(), a.Identity());
    }
    lftest::fs::remove_all(shm);
}
#endif
