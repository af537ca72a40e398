// The built plugin library itself, loaded as the host loads it: its two
// entry points are exported, and on the game's own routine table, which is
// incomplete, the query refuses the game after its usual steps.
#include <gtest/gtest.h>

#include "plugin/HostInterface.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <shlobj.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
const char* const kLibrary = ".\\Linefold.dll";
void* OpenLibrary() { return reinterpret_cast<void*>(LoadLibraryA(kLibrary)); }
void* Symbol(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
fs::path Documents()
{
    char path[MAX_PATH];
    return SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, path)) ? fs::path(path) : fs::path();
}
#else
const char* const kLibrary = "./Linefold.so";
void* OpenLibrary() { return dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL); }
void* Symbol(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
fs::path Documents() { return fs::path(std::getenv("HOME")) / "Documents"; }
#endif

uint32_t HostQuery() { return 0; }

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(PluginLibraryTest, ExportsTheEntryPointsAndRefusesTheGameWhileRoutinesAreMissing)
{
#if !defined(_WIN32)
    fs::path home = fs::temp_directory_path() / ("linefold-library-" + std::to_string(::getpid()));
    setenv("HOME", home.c_str(), 1);
#endif
    void* library = OpenLibrary();
    ASSERT_NE(library, nullptr) << kLibrary;
    using Query = bool (*)(const HostLoadInterface*, PluginInfoRecord*);
    auto query = reinterpret_cast<Query>(Symbol(library, "SKSEPlugin_Query"));
    ASSERT_NE(query, nullptr);
    EXPECT_NE(Symbol(library, "SKSEPlugin_Load"), nullptr);

    HostLoadInterface host{0, 0x09200000, 0, 0, nullptr, HostQuery};
    PluginInfoRecord info{};
    EXPECT_FALSE(query(&host, &info));
    EXPECT_STREQ(info.name, "Linefold");
    EXPECT_EQ(ReadText(Documents() / "My Games" / "Skyrim" / "SKSE" / "Linefold.log"),
              "Linefold\r\nroutine table for runtime 09200000 is incomplete, marking as incompatible\r\n");
    CloseLibrary(library);
#if !defined(_WIN32)
    fs::remove_all(home);
#endif
}
