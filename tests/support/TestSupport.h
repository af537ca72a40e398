#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace lftest {

namespace fs = std::filesystem;

// Files as they are on disk, byte for byte.
std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);

// UTF-16 text as a file holds it: in either byte order, after its byte
// order mark unless without one.
std::string Utf16(const std::u16string& text, bool bigEndian, bool mark = true);

// A file of size bytes: head, a hole of nothing written, then tail. False
// when the file system cannot hold it without spending the hole's size.
bool WriteWithHole(const fs::path& path, const std::string& head, std::uint64_t size,
                   const std::string& tail);
// The last count bytes of a file, read with 64-bit offsets.
std::string TailBytes(const fs::path& path, std::uint64_t count);

// While it lives, a folder holding link.txt, a symbolic link to sub/target.txt
// of the same folder, which the test makes (sub is removed at the end). On
// Linux it is made in the test's folder. A Windows program cannot make one
// under Wine (whose links are Unix ones, and whose own delete of a link
// removes its target), so the build makes it once, and the Windows tests
// find it through LINEFOLD_TEST_LINKS; elsewhere there is none (Path empty).
class LinkFolder {
public:
    LinkFolder();
    ~LinkFolder();
    LinkFolder(const LinkFolder&) = delete;
    LinkFolder& operator=(const LinkFolder&) = delete;
    const std::string& Path() const { return path; }

private:
    void RemoveFiles();
    std::string path;
};

// Opens the debug log as the plugin does at its start: documents folder,
// console threshold 1, file threshold 5.
void OpenStandardLog();

// What the debug log file receives from the moment of construction on.
class LogCapture {
public:
    LogCapture();
    std::string Bytes() const;
    // The lines written since, without their CR LF; a message that ended in
    // a line feed is followed by an empty line.
    std::vector<std::string> Lines() const;

private:
    std::string path;
    std::uintmax_t start = 0;
};

#if !defined(_WIN32)
// While it lives, the file at path (made anew) is full, as on a full disk:
// it holds as many bytes as a file of the process may then hold, and a write
// that adds to it fails with "File too large". Other files may grow as far,
// which leaves the debug log room for a test's lines.
class FullFile {
public:
    explicit FullFile(const fs::path& path);
    ~FullFile();
    FullFile(const FullFile&) = delete;
    FullFile& operator=(const FullFile&) = delete;

private:
    std::uint64_t previousLimit = 0;
};
#endif

// A test in a fresh empty folder of its own, which is the current directory
// while the test runs; relative paths in the test land there.
class FolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path folder;

private:
    fs::path previous;
};

// Called once by the test programs' main: a private temporary root (and, on
// POSIX, a private $HOME that holds the documents folder), then the log.
void PrepareProcess();
void CleanUpProcess();
fs::path ProcessRoot();

}  // namespace lftest

#include "plugin/HostInterface.h"
#include "standin/StandInRuntime.h"

#include <ostream>

namespace standin {
void PrintTo(const StringCounts& counts, std::ostream* out);
}

namespace lftest {

// A string handle for a text, as the host would pass it. Its reference is
// never given back: the text stays for the rest of the process, like a
// script's string literal.
StringCache::Ref H(const std::string& text);

// NextLine's answer, as text; the handle it made is given back.
std::string Next(const std::string& path);

// The lines of a file written in text mode (CR LF line ends).
std::vector<std::string> FileLines(const fs::path& path);

// A test of the script functions: each starts and ends with nothing loaded.
class ScriptTest : public FolderTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace lftest
