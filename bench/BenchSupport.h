#pragma once

// What the benchmark programs share: the generated files, the plugin started
// on the stand-in host, and the process's peak memory.

#include "standin/StandInHost.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace lfbench {

// Line number index of a generated file: exactly length bytes (at least 8),
// no two alike, printable ASCII.
std::string LineText(size_t index, size_t length);

// Writes count generated lines of the given length, each followed by
// lineEnd, to path; false when the file could not be written.
bool WriteLineFile(const std::string& path, size_t count, size_t length, const char* lineEnd = "\n");

// Makes folder (with its parents) the current directory and the home of the
// debug log, so that nothing lands outside it. False when that fails.
bool EnterWorkFolder(const std::string& folder);

// The plugin as the game has it: queried, loaded and registered on the
// stand-in host, with the functions the benchmarks call looked up once.
class Plugin {
public:
    // Throws std::runtime_error when the plugin refuses to start.
    Plugin();

    standin::Host host;
    IFunction* loadFile = nullptr;
    IFunction* closeFile = nullptr;
    IFunction* hasNextLine = nullptr;
    IFunction* nextLine = nullptr;
    IFunction* writeLine = nullptr;
};

// The peak resident set size of this process so far (VmHWM), in KiB; 0 when
// it cannot be read.
uint64_t PeakResidentKiB();

}  // namespace lfbench
