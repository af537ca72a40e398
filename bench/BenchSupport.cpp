#include "bench/BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace lfbench {

std::string LineText(size_t index, size_t length)
{
    // A decimal number first keeps the lines distinct; letters fill the rest.
    char number[32];
    int written = std::snprintf(number, sizeof number, "%07zu ", index);
    std::string line(number, static_cast<size_t>(written));
    for (size_t i = line.size(); i < length; ++i)
        line.push_back(static_cast<char>('a' + (index + i) % 26));
    line.resize(length);
    return line;
}

bool WriteLineFile(const std::string& path, size_t count, size_t length, const char* lineEnd)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (size_t i = 0; i < count && out; ++i)
        out << LineText(i, length) << lineEnd;
    out.close();
    return static_cast<bool>(out);
}

bool EnterWorkFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || chdir(folder.c_str()) != 0)
        return false;
    std::string home = std::filesystem::current_path(error).string();
    return !error && setenv("HOME", home.c_str(), 1) == 0;
}

Plugin::Plugin()
{
    PluginInfoRecord info{};
    if (!host.Query(info) || !host.Load() || !host.Register())
        throw std::runtime_error("the plugin refused to start");
    loadFile = host.Find("LoadFile");
    closeFile = host.Find("CloseFile");
    hasNextLine = host.Find("HasNextLine");
    nextLine = host.Find("NextLine");
    writeLine = host.Find("WriteLine");
    if (!loadFile || !closeFile || !hasNextLine || !nextLine || !writeLine)
        throw std::runtime_error("a script function is not registered");
}

uint64_t PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmHWM:") {
            uint64_t kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

}  // namespace lfbench
