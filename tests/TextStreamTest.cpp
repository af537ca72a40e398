#include "support/TestSupport.h"

#include "linefile/TextStream.h"

#include <cerrno>
#include <cstring>
#include <random>

#if defined(_WIN32)
#include <windows.h>
#endif

using lftest::FolderTest;
using lftest::ReadBytes;
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
