// The built plugin library itself, loaded as the host loads it from a folder
// of its own, with a routine file beside it that places this program's
// stand-in routines (each way to spoil it: support/RoutineFileCases.h). Its compiled-in table is incomplete, so it runs on the
// file or refuses the game.
//
// A library once loaded leaves its debug log open after it is unloaded (on
// Windows against other writers too), so the queries share one loaded copy.
#include <gtest/gtest.h>

#include "functions/OpenFileTable.h"
#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"
#include "standin/PluginLibrary.h"
#include "support/RoutineFileCases.h"

#include <algorithm>
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

const char kReadOnlyText[] = "read-only data";

// The routine file written for this program, to be spoilt.
FileText ThisProgramsFile()
{
    ExecutableImage image;
    DescribeMainImage(image);
    return FileText(image, Routines(), image.linkedBase + (reinterpret_cast<uintptr_t>(kReadOnlyText) - image.base));
}

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
    // A game refused holds no file of the plugin's: on Windows the routine
    // file of a game accepted is held so that nothing but reading reaches it.
    void TearDown() override
    {
        Host refused(library->EntryPoints());
        refused.SetEditor(true);
        PluginInfoRecord info{};
        EXPECT_FALSE(refused.Query(info));
        fs::remove_all(shared->RoutineFile());
    }

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
        FileText file = ThisProgramsFile();
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

        // Its routine file and its log may be read, but not written or deleted.
        const std::string routines = shared->RoutineFile(), routinesText = ReadText(routines);
        for (const std::string& own : {routines, PluginLogPath()}) {
            EXPECT_FALSE(host.Call("LoadFile", {StringValue(own), BoolValue(false), BoolValue(false), IntValue(4)})
                             .data.boolean);
            EXPECT_FALSE(host.Call("DeleteAnyFile", {StringValue(own)}).data.boolean);
            EXPECT_TRUE(host.Call("LoadFile", {StringValue(own), BoolValue(true), BoolValue(false), IntValue(4)})
                            .data.boolean);
            EXPECT_TRUE(host.Call("CloseFile", {StringValue(own)}).data.boolean);
        }
        EXPECT_EQ(ReadText(routines), routinesText);
        Lines log = LogLines();
        EXPECT_EQ(log[0], "Linefold");
        EXPECT_EQ(std::count(log.begin(), log.end(), "  Path not allowed: one of Linefold's own files! Aborting load."), 2);
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
