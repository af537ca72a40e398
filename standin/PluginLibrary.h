#pragma once

// The plugin's own binary (Linefold.dll, Linefold.so natively), loaded as the
// script extender loads it, and what the stand-in host puts beside it so that
// it runs on the stand-in runtime of this program.

#include "standin/StandInHost.h"

#include <string>

namespace standin {

class PluginLibrary {
public:
    // Loads the library at path (made absolute first); Loaded() tells, and
    // is false too for a library without the two entry points.
    explicit PluginLibrary(const std::string& path);
    // Unloads it, unless StayLoaded was called.
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool Loaded() const { return handle != nullptr; }
    // Why it did not load.
    const std::string& Problem() const { return problem; }
    const std::string& Path() const { return path; }

    // Its exported SKSEPlugin_Query and SKSEPlugin_Load; null once unloaded.
    PluginEntryPoints EntryPoints() const;

    // FreeLibrary / dlclose; running its static destructors.
    void Unload();
    // The extender never unloads a plugin: leave it to the end of the process.
    void StayLoaded() { keep = true; }

private:
    std::string path;
    std::string problem;
    void* handle = nullptr;
    bool keep = false;
};

// Writes the routine file of the stand-in runtime of this program beside the
// library at libraryPath; answers the empty text, or what went wrong.
std::string WriteRoutineFileBeside(const std::string& libraryPath);

// The routine file beside the library at libraryPath.
std::string RoutineFileBeside(const std::string& libraryPath);

// Where the plugin's debug log lies: the newest of Linefold.log and its
// alternative names in the documents folder; empty when there is none.
std::string PluginLogPath();

}  // namespace standin
