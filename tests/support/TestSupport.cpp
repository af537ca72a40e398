#include "support/TestSupport.h"

#include "common/IDebugLog.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace lftest {

namespace {
fs::path root;
std::atomic<unsigned> folderCount{0};

// The lines of text in CR LF line ends; rest gets what follows the last one.
std::vector<std::string> SplitCrLf(const std::string& bytes, std::string& rest)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t end; (end = bytes.find("\r\n", from)) != std::string::npos; from = end + 2)
        lines.push_back(bytes.substr(from, end - from));
    rest = bytes.substr(from);
    return lines;
}

// 64-bit seeks on every C runtime; MinGW's fseeko would not do on i686.
int SeekTo(std::FILE* file, std::int64_t offset, int origin)
{
#if defined(_WIN32)
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

std::string Unique()
{
    std::random_device device;
    std::ostringstream text;
    text << std::hex << device() << device();
    return text.str();
}
}  // namespace

bool WriteWithHole(const fs::path& path, const std::string& head, std::uint64_t size,
                   const std::string& tail)
{
    std::uintmax_t before = fs::space(fs::absolute(path).parent_path()).available;
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file)
        return false;
    bool written = std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
                   SeekTo(file, static_cast<std::int64_t>(size - tail.size()), SEEK_SET) == 0 &&
                   std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
    written = std::fclose(file) == 0 && written;
    // A file system without holes spends the whole size: not worth it here.
    std::uintmax_t after = fs::space(fs::absolute(path).parent_path()).available;
    if (!written || after + (std::uintmax_t(1) << 30) < before) {
        std::error_code ignored;
        fs::remove(path, ignored);
        return false;
    }
    return true;
}

std::string TailBytes(const fs::path& path, std::uint64_t count)
{
    std::string bytes(count, '\0');
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (!file)
        return std::string();
    size_t got = 0;
    if (SeekTo(file, -static_cast<std::int64_t>(count), SEEK_END) == 0)
        got = std::fread(&bytes[0], 1, count, file);
    std::fclose(file);
    bytes.resize(got);
    return bytes;
}

std::string Utf16(const std::u16string& text, bool bigEndian, bool mark)
{
    std::string bytes;
    for (char16_t unit : (mark ? u"\xFEFF" : u"") + text) {
        char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

#if defined(_WIN32)
LinkFolder::LinkFolder()
{
    const char* links = std::getenv("LINEFOLD_TEST_LINKS");
    path = links ? links : "";
    RemoveFiles();
}
#else
LinkFolder::LinkFolder()
{
    std::error_code error;
    fs::create_directory("links", error);
    fs::create_symlink("sub/target.txt", "links/link.txt", error);
    path = error ? "" : "links";
}
#endif

LinkFolder::~LinkFolder() { RemoveFiles(); }

// What a test made there; never the link, which Wine would not delete itself.
void LinkFolder::RemoveFiles()
{
    std::error_code ignored;
    if (path.empty())
        return;
    for (const char* made : {"sub", "old-sub"})
        fs::remove_all(fs::path(path) / made, ignored);
}


void OpenStandardLog()
{
    IDebugLog::OpenInFolder(5, "\\My Games\\Skyrim\\SKSE\\Linefold.log");
    IDebugLog::SetConsoleThreshold(1);
    IDebugLog::SetFileThreshold(5);
}

LogCapture::LogCapture() : path(IDebugLog::OpenPath())
{
    std::error_code error;
    if (!path.empty())
        start = fs::file_size(path, error);
    if (error)
        start = 0;
}

#if !defined(_WIN32)
FullFile::FullFile(const fs::path& path)
{
    std::string log = IDebugLog::OpenPath();
    std::error_code error;
    std::uintmax_t logSize = log.empty() ? 0 : fs::file_size(log, error);
    std::uint64_t bytes = (error ? 0 : logSize) + 256 * 1024;
    WriteBytes(path, std::string(bytes, 'x'));
    // Past the limit the system would stop the process; the write fails instead.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    previousLimit = limit.rlim_cur;
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
}

FullFile::~FullFile()
{
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = previousLimit;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
}
#endif

std::string LogCapture::Bytes() const
{
    if (path.empty())
        return std::string();
    std::string all = ReadBytes(path);
    return start < all.size() ? all.substr(start) : std::string();
}

std::vector<std::string> LogCapture::Lines() const
{
    std::string rest;
    std::vector<std::string> lines = SplitCrLf(Bytes(), rest);
    if (!rest.empty())
        lines.push_back(rest);
    return lines;
}

void FolderTest::SetUp()
{
    previous = fs::current_path();
    folder = root / ("case" + std::to_string(++folderCount));
    fs::create_directories(folder);
    fs::current_path(folder);
}

void FolderTest::TearDown()
{
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

void PrepareProcess()
{
    root = fs::temp_directory_path() / ("linefold-tests-" + Unique());
    fs::create_directories(root);
#if !defined(_WIN32)
    // The documents folder is $HOME/Documents here: keep it private.
    fs::path home = root / "home";
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
#endif
    OpenStandardLog();
}

void CleanUpProcess()
{
    fs::current_path(root.parent_path());
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

fs::path ProcessRoot() { return root; }

}  // namespace lftest

#include "functions/OpenFileTable.h"
#include "functions/ScriptFunctions.h"
#include "plugin/RuntimeRoutines.h"
#include "standin/StandInRuntime.h"

void standin::PrintTo(const StringCounts& counts, std::ostream* out)
{
    *out << counts.entries << " entries of " << counts.bytes << " bytes, " << counts.references
         << " references";
}

namespace lftest {

StringCache::Ref H(const std::string& text) { return standin::Intern(text); }

std::string Next(const std::string& path)
{
    OwnedHandle line(NextLine(nullptr, H(path)));
    return TextOf(line.Get());
}

std::vector<std::string> FileLines(const fs::path& path)
{
    std::string rest;
    std::vector<std::string> lines = SplitCrLf(ReadBytes(path), rest);
    EXPECT_EQ(rest, "") << "the file does not end with CR LF";
    return lines;
}

void ScriptTest::SetUp()
{
    FolderTest::SetUp();
    TheOpenFileTable().CloseForUnload();
}

void ScriptTest::TearDown()
{
    TheOpenFileTable().CloseForUnload();
    FolderTest::TearDown();
}

}  // namespace lftest
