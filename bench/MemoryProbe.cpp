// linefold-memory: reads a generated file of a given size through the
// function objects, as the host calls them, and reports how far reading
// raised the process's peak resident memory (VmHWM). The window bounds what
// the plugin holds, so the rise should not grow with the file.
//
//   linefold-memory [--dir FOLDER] [--mb SIZE] [--line BYTES] [--window LINES]
//
// The file (SIZE MiB of lines of BYTES bytes each, line end included) is made
// in FOLDER and deleted afterwards. The stand-in's string cache counts
// references as the game's does, so a line read stays in it only while the
// script's value holds it; the most entries it held during the read is
// reported too, and the program fails when reading left any behind.

#include "bench/BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

struct Options {
    std::string folder = ".";
    uint64_t mebibytes = 1;
    size_t lineBytes = 100;
    int32_t window = 100;
};

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--dir") == 0)
            options.folder = value;
        else if (std::strcmp(argv[i], "--mb") == 0)
            options.mebibytes = std::strtoull(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--line") == 0)
            options.lineBytes = std::strtoull(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--window") == 0)
            options.window = std::atoi(value);
        else
            return false;
    }
    return argc % 2 == 1 && options.mebibytes > 0 && options.lineBytes > 8 && options.window > 0;
}

bool IsTrue(const standin::Value& value)
{
    return value.type == ScriptValue::kBool && value.data.boolean;
}

struct Reading {
    uint64_t lines = 0;
    uint64_t peakBefore = 0;  // KiB, with the plugin started
    uint64_t peakAfter = 0;
    size_t mostEntries = 0;  // in the string cache, beyond those before reading
    bool balanced = false;   // the cache held what it held before, afterwards
};

// Reads the file to its end through the function objects, as the host calls them.
void Read(const std::string& fileName, const Options& options, Reading& reading)
{
    lfbench::Plugin plugin;
    standin::Host& host = plugin.host;
    reading.peakBefore = lfbench::PeakResidentKiB();

    standin::StringCounts before = standin::Strings();
    {
        standin::Value path = standin::StringValue(fileName);
        bool loaded = IsTrue(host.Call(plugin.loadFile, {path, standin::BoolValue(true),
                                                         standin::BoolValue(false),
                                                         standin::IntValue(options.window)}));
        while (loaded && IsTrue(host.Call(plugin.hasNextLine, {path}))) {
            standin::Value line = host.Call(plugin.nextLine, {path});
            size_t entries = standin::Strings().entries - before.entries;
            if (entries > reading.mostEntries)
                reading.mostEntries = entries;
            ++reading.lines;
        }
        host.Call(plugin.closeFile, {path});
    }
    reading.balanced = standin::Strings() == before;
    reading.peakAfter = lfbench::PeakResidentKiB();
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: linefold-memory [--dir FOLDER] [--mb SIZE] [--line BYTES] "
                             "[--window LINES]\n");
        return 2;
    }
    if (!lfbench::EnterWorkFolder(options.folder)) {
        std::fprintf(stderr, "linefold-memory: cannot work in %s\n", options.folder.c_str());
        return 1;
    }
    std::string fileName = "memory-" + std::to_string(options.mebibytes) + "MiB.txt";
    uint64_t lineCount = (options.mebibytes << 20) / options.lineBytes;
    if (!lfbench::WriteLineFile(fileName, lineCount, options.lineBytes - 1)) {
        std::fprintf(stderr, "linefold-memory: cannot write %s\n", fileName.c_str());
        std::remove(fileName.c_str());
        return 1;
    }

    Reading reading;
    try {
        Read(fileName, options, reading);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "linefold-memory: %s\n", failure.what());
    }
    std::remove(fileName.c_str());
    if (reading.lines != lineCount) {
        std::fprintf(stderr, "linefold-memory: read %llu of %llu lines\n",
                     static_cast<unsigned long long>(reading.lines),
                     static_cast<unsigned long long>(lineCount));
        return 1;
    }
    std::printf("file %llu MiB, %llu lines of %zu bytes, window %d; string cache: at most %zu "
                "entries more while reading, %s afterwards\n",
                static_cast<unsigned long long>(options.mebibytes),
                static_cast<unsigned long long>(lineCount), options.lineBytes, options.window,
                reading.mostEntries, reading.balanced ? "as before" : "NOT as before");
    std::printf("peak RSS before reading %llu KiB, after reading %llu KiB, rise %llu KiB\n",
                static_cast<unsigned long long>(reading.peakBefore),
                static_cast<unsigned long long>(reading.peakAfter),
                static_cast<unsigned long long>(reading.peakAfter - reading.peakBefore));
    return reading.balanced ? 0 : 1;
}
