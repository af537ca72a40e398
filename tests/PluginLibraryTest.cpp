// The built plugin library itself, loaded as the host loads it from a folder
// of its own, with a routine file beside it that places this program's
// stand-in routines. Its compiled-in table is incomplete, so it runs on the
// file or refuses the game.
//
// A library once loaded leaves its debug log open after it is unloaded (on
// Windows against other writers too), so the queries share one loaded copy.
#include <gtest/gtest.h>

#include "functions/OpenFileTable.h"
#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"
#include "standin/PluginLibrary.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using namespace standin;

// An unloaded library leaves its debug log's state behind, allocated at its
// first query: the log is never destroyed, because static destructors still
// write to it while the library unloads.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:standin::Host::Query\n";
}

namespace {

#if defined(_WIN32)
const char* const kLibraryName = "Linefold.dll";
int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }
#else
const char* const kLibraryName = "Linefold.so";
int ProcessId() { return static_cast<int>(getpid()); }
#endif

const std::string kRefusal = "routine table for runtime 09200000 is incomplete, marking as incompatible";

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Lines LogLines()
{
    std::istringstream log(ReadText(PluginLogPath()));
    Lines lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(line.substr(0, line.size() - (!line.empty() && line.back() == '\r')));
    return lines;
}

// A path as the plugin's messages show it.
std::string Shown(std::string path)
{
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

std::string Hex(uint64_t value, int digits = 2 * sizeof(uintptr_t))
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// A copy of the built library in a fresh folder, and its routine file there.
struct LibraryCopy {
    explicit LibraryCopy(const std::string& name)
        : folder(fs::temp_directory_path() / ("linefold-library-" + std::to_string(ProcessId()) + "-" + name))
    {
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy_file(kLibraryName, folder / kLibraryName);
    }
    ~LibraryCopy()
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::string Library() const { return (folder / kLibraryName).string(); }
    std::string RoutineFile() const { return RoutineFileBeside(Library()); }
    fs::path folder;
};

// The routine file written for this program, line by line, to be spoilt.
class FileText {
public:
    FileText()
    {
        DescribeMainImage(image);
        std::istringstream text(RoutineFileText(kSupportedRuntime, image, Routines(), image.linkedBase));
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
    }
    // The number of the line that gives name.
    size_t Line(const std::string& name) const
    {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind(name + " = ", 0) == 0)
                return i + 1;
        }
        ADD_FAILURE() << "no line for " << name;
        return 0;
    }
    std::string At(const std::string& name) const { return "line " + std::to_string(Line(name)) + ": "; }
    std::string Value(const std::string& name) const { return lines[Line(name) - 1].substr(name.size() + 3); }
    void Set(const std::string& name, const std::string& value) { lines[Line(name) - 1] = name + " = " + value; }
    // The address of something in this program as the file states it.
    std::string Stated(const void* address) const
    {
        return Hex(image.linkedBase + (reinterpret_cast<uintptr_t>(address) - image.base));
    }
    std::string Text() const
    {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        return text;
    }

    MainImage image;
    Lines lines;
};

const char kReadOnlyText[] = "read-only data";

// One way to spoil the file: changes it and answers the reason the log gives
// after the file's name.
struct Refusal {
    const char* what;
    std::string (*spoil)(FileText& file);
};

const Refusal kRefusals[] = {
    {"a section for another runtime only",
     [](FileText& file) {
         for (std::string& line : file.lines) {
             if (line == "[09200000]")
                 line = "[09200001]";
         }
         return std::string("no section [09200000] for this runtime");
     }},
    {"an entry missing",
     [](FileText& file) {
         file.lines.erase(file.lines.begin() + static_cast<long>(file.Line("heapFree")) - 1);
         return std::string("'heapFree' missing");
     }},
    {"an entry named twice (names ignore case)",
     [](FileText& file) {
         file.lines.push_back("HeapFree = " + file.Value("heapFree"));
         return "line " + std::to_string(file.lines.size()) + ": 'heapFree': given a second time (first on line " +
                std::to_string(file.Line("heapFree")) + ")";
     }},
    {"an unknown entry",
     [](FileText& file) {
         file.lines.push_back("heapFreed = " + file.Value("heapFree"));
         return "line " + std::to_string(file.lines.size()) + ": unknown entry 'heapFreed'";
     }},
    {"a value that is not a hexadecimal number",
     [](FileText& file) {
         file.Set("heapFree", "0x12G4");
         return file.At("heapFree") + "'heapFree': '0x12G4' is not a hexadecimal number";
     }},
    {"a value too large for an address",
     [](FileText& file) {
         std::string value = "0x1" + std::string(2 * sizeof(uintptr_t), '0');
         file.Set("heapFree", value);
         return file.At("heapFree") + "'heapFree': " + value + " does not fit in " +
                std::to_string(8 * sizeof(uintptr_t)) + " bits";
     }},
    {"junk after a value",
     [](FileText& file) {
         file.Set("heapFree", file.Value("heapFree") + " ; the heap's free");
         return file.At("heapFree") + "'heapFree': junk after the value: '; the heap's free'";
     }},
    {"junk after the section name",
     [](FileText& file) {
         size_t line = file.Line("imageBase") - 1;
         file.lines[line - 1] += " x";
         return "line " + std::to_string(line) + ": junk after the section name: 'x'";
     }},
    {"an over-long line",
     [](FileText& file) {
         file.lines.insert(file.lines.begin(), ";" + std::string(256, '-'));
         return std::string("line 1: longer than 256 characters");
     }},
    {"an entry before the first section",
     [](FileText& file) {
         file.lines.insert(file.lines.begin(), "imageBase = 0");
         return std::string("line 1: an entry before the first [section]");
     }},
    {"a line that is no entry",
     [](FileText& file) {
         file.lines.push_back("heapFree " + file.Value("heapFree"));
         return "line " + std::to_string(file.lines.size()) +
                ": neither a [section], a name = value entry nor a comment";
     }},
    {"the runtime's section twice",
     [](FileText& file) {
         file.lines.push_back("[09200000]");
         return "line " + std::to_string(file.lines.size()) + ": section [09200000] a second time";
     }},
    {"another executable's size",
     [](FileText& file) {
         file.Set("imageSize", Hex(file.image.size + 0x1000, 8));
         return file.At("imageSize") + "written for another executable: imageSize " + Hex(file.image.size + 0x1000, 8) +
                ", this one's is " + Hex(file.image.size, 8);
     }},
    {"another executable's stamp",
     [](FileText& file) {
         uint32_t stamp = file.image.stamp ^ 1;
         file.Set("imageStamp", Hex(stamp, 8));
         return file.At("imageStamp") + "written for another executable: imageStamp " + Hex(stamp, 8) +
                ", this one's is " + Hex(file.image.stamp, 8);
     }},
    // Every entry passes but one.
    {"a routine one past the end of the executable",
     [](FileText& file) {
         std::string end = Hex(file.image.linkedBase + file.image.size);
         file.Set("valueReset", end);
         return file.At("valueReset") + "'valueReset' = " + end + " lies outside the executable";
     }},
    {"a routine just before the executable",
     [](FileText& file) {
         std::string before = Hex(file.image.linkedBase - 1);
         file.Set("heapAllocate", before);
         return file.At("heapAllocate") + "'heapAllocate' = " + before + " lies outside the executable";
     }},
    {"a routine in data",
     [](FileText& file) {
         std::string data = file.Value("gameHeap");
         file.Set("handleSet", data);
         return file.At("handleSet") + "'handleSet' = " + data + " lies outside the executable's code";
     }},
    {"the heap object in code",
     [](FileText& file) {
         std::string code = file.Value("heapAllocate");
         file.Set("gameHeap", code);
         return file.At("gameHeap") + "'gameHeap' = " + code + " lies outside the executable's writable data";
     }},
    {"the heap object in read-only data",
     [](FileText& file) {
         std::string readOnly = file.Stated(kReadOnlyText);
         file.Set("gameHeap", readOnly);
         return file.At("gameHeap") + "'gameHeap' = " + readOnly + " lies outside the executable's writable data";
     }},
    {"a file too large",
     [](FileText& file) {
         for (int i = 0; i < 300; ++i)
             file.lines.push_back(";" + std::string(250, '-'));
         return std::string("larger than 65536 bytes");
     }},
};

class PluginLibraryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
#if !defined(_WIN32)
        // The documents folder, where the log goes, is $HOME/Documents.
        home = fs::temp_directory_path() / ("linefold-library-" + std::to_string(ProcessId()) + "-home");
        setenv("HOME", home.c_str(), 1);
#endif
        shared = std::make_unique<LibraryCopy>("shared");
        library = std::make_unique<PluginLibrary>(shared->Library());
    }
    static void TearDownTestSuite()
    {
        library.reset();
        shared.reset();
        if (!home.empty())
            fs::remove_all(home);
    }
    void SetUp() override { ASSERT_TRUE(library->Loaded()) << library->Problem(); }
    void TearDown() override { fs::remove_all(shared->RoutineFile()); }

    // Asks the shared library whether it accepts the game.
    static bool Query()
    {
        Host host(library->EntryPoints());
        PluginInfoRecord info{};
        return host.Query(info);
    }
    static void WriteFile(const std::string& text)
    {
        std::ofstream(shared->RoutineFile(), std::ios::binary) << text;
    }

    static inline fs::path home;
    static inline std::unique_ptr<LibraryCopy> shared;
    static inline std::unique_ptr<PluginLibrary> library;
};

}  // namespace

TEST_F(PluginLibraryTest, WithoutARoutineFileTheGameIsRefusedSayingWhereItLooked)
{
    EXPECT_FALSE(Query());
    EXPECT_EQ(LogLines(), (Lines{"Linefold", kRefusal, "  " + Shown(shared->RoutineFile()) + ": no such file"}));
}

TEST_F(PluginLibraryTest, AnUnreadableRoutineFileIsRefused)
{
    fs::create_directory(shared->RoutineFile());
    EXPECT_FALSE(Query());
    Lines log = LogLines();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], kRefusal);
    EXPECT_EQ(log[2].rfind("  " + Shown(shared->RoutineFile()) + ": cannot be read: ", 0), 0u) << log[2];
}

TEST_F(PluginLibraryTest, EachFaultOfTheRoutineFileRefusesTheGameWithOneLine)
{
    for (const Refusal& refusal : kRefusals) {
        SCOPED_TRACE(refusal.what);
        FileText file;
        std::string reason = refusal.spoil(file);
        WriteFile(file.Text());
        EXPECT_FALSE(Query());
        EXPECT_EQ(LogLines(), (Lines{"Linefold", kRefusal, "  " + Shown(shared->RoutineFile()) + ": " + reason}));
    }
}

TEST_F(PluginLibraryTest, RunsOnTheRoutinesOfItsFileThroughItsOwnCopyOfTheFunctions)
{
    ASSERT_EQ(WriteRoutineFileBeside(shared->Library()), "");
    std::string path = (shared->folder / "lines.txt").string();
    {
        Host host(library->EntryPoints());
        PluginInfoRecord info{};
        ASSERT_TRUE(host.Query(info));
        ASSERT_TRUE(host.Load());
        ASSERT_TRUE(host.Register());
        EXPECT_EQ(LogLines(), (Lines{"Linefold",
                                     "routine table for runtime 09200000 read from " + Shown(shared->RoutineFile()),
                                     "Linefold loaded", "Register Succeeded"}));
        ASSERT_EQ(host.Registered().size(), 11u);
        for (IFunction* function : host.Registered())
            EXPECT_TRUE(Host::RunsAtOnce(function)) << Host::NameOf(function);
        size_t resets = ValueResets();
        EXPECT_TRUE(host.Call("LoadFile", {StringValue(path), BoolValue(false), BoolValue(false), IntValue(4)})
                        .data.boolean);
        EXPECT_TRUE(host.Call("WriteLine", {StringValue(path), StringValue("one")}).data.boolean);
        EXPECT_TRUE(host.Call("CloseFile", {StringValue(path)}).data.boolean);
        EXPECT_EQ(ValueResets(), resets + 3) << "the results went through this program's routines";
        EXPECT_EQ(TheOpenFileTable().Size(), 0u);
    }
    EXPECT_EQ(ReadText(path), "one\r\n");
    EXPECT_EQ(Heap().live, 0u) << "the host's destruction of the objects gave their memory back";
}

// The library's own copy of the table of open files is flushed when the
// library is unloaded; this program's copy never sees the file.
TEST_F(PluginLibraryTest, UnloadingTheLibraryWritesTheLinesOfFilesStillLoadedForWriting)
{
    LibraryCopy copy("unload");
    ASSERT_EQ(WriteRoutineFileBeside(copy.Library()), "");
    std::string path = (copy.folder / "kept.txt").string();
    {
        PluginLibrary unloaded(copy.Library());
        ASSERT_TRUE(unloaded.Loaded()) << unloaded.Problem();
        Host host(unloaded.EntryPoints());
        PluginInfoRecord info{};
        ASSERT_TRUE(host.Query(info));
        host.Load();
        host.Register();
        EXPECT_TRUE(host.Call("LoadFile", {StringValue(path), BoolValue(false), BoolValue(false), IntValue(10)})
                        .data.boolean);
        EXPECT_TRUE(host.Call("WriteLine", {StringValue(path), StringValue("kept")}).data.boolean);
        EXPECT_EQ(TheOpenFileTable().Size(), 0u) << "the library must not run this program's copy";
        EXPECT_EQ(ReadText(path), "");
    }
    EXPECT_EQ(ReadText(path), "kept\r\n");
}
