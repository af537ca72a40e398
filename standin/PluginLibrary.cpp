#include "standin/PluginLibrary.h"

#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace standin {

namespace {

// What the two platform halves below provide.
namespace platform {
void* Open(const std::string& path, std::string& problem);
void* Find(void* library, const char* name);
void Close(void* library);
std::string Absolute(const std::string& path);
std::string DocumentsFolder();
}  // namespace platform

}  // namespace

PluginLibrary::PluginLibrary(const std::string& libraryPath)
    : path(platform::Absolute(libraryPath)), handle(platform::Open(path, problem))
{
    if (handle && (!platform::Find(handle, "SKSEPlugin_Query") || !platform::Find(handle, "SKSEPlugin_Load"))) {
        problem = "does not export SKSEPlugin_Query and SKSEPlugin_Load";
        Unload();
    }
}

PluginLibrary::~PluginLibrary()
{
    if (!keep)
        Unload();
}

PluginEntryPoints PluginLibrary::EntryPoints() const
{
    PluginEntryPoints entryPoints{nullptr, nullptr};
    if (handle) {
        entryPoints.query = reinterpret_cast<decltype(entryPoints.query)>(platform::Find(handle, "SKSEPlugin_Query"));
        entryPoints.load = reinterpret_cast<decltype(entryPoints.load)>(platform::Find(handle, "SKSEPlugin_Load"));
    }
    return entryPoints;
}

void PluginLibrary::Unload()
{
    if (handle)
        platform::Close(handle);
    handle = nullptr;
}

std::string RoutineFileBeside(const std::string& libraryPath)
{
    std::string absolute = platform::Absolute(libraryPath);
    return absolute.substr(0, absolute.find_last_of("/\\") + 1) + RoutineFileName(kSupportedRuntime);
}

std::string WriteRoutineFileBeside(const std::string& libraryPath)
{
    ExecutableImage image;
    if (!DescribeMainImage(image))
        return "cannot read this program's own headers";
    std::string path = RoutineFileBeside(libraryPath);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << RoutineFileText(kSupportedRuntime, image, Routines(), image.linkedBase);
    file.close();
    return file ? std::string() : "cannot write " + path;
}

std::string PluginLogPath()
{
    namespace fs = std::filesystem;
    std::string folder = platform::DocumentsFolder();
    if (folder.empty())
        return {};
    std::string newest, name = folder + "/My Games/Skyrim/SKSE/Linefold.log";
    fs::file_time_type newestTime{};
    for (int attempt = -1; attempt <= 4; ++attempt) {
        std::string candidate = attempt < 0 ? name : name + std::to_string(attempt);
        std::error_code error;
        fs::file_time_type time = fs::last_write_time(candidate, error);
        if (!error && (newest.empty() || time > newestTime)) {
            newest = candidate;
            newestTime = time;
        }
    }
    return newest;
}

}  // namespace standin

#if defined(_WIN32)
#include "standin/Windows/PluginLibrary.inc"
#else
#include "standin/Unix/PluginLibrary.inc"
#endif
