// linefold-memory: reads a generated file of a given size through the
// function objects, as the host calls them, and reports how far reading
// raised the process's peak resident memory (VmHWM). The window bounds what
// the plugin holds, so the rise should not grow with the file.
//
//   linefold-memory [--dir FOLDER] [--mb SIZE] [--line BYTES] [--window LINES]
//   linefold-memory [--dir FOLDER] --files COUNT --lines LINES [--line BYTES] [--window LINES]
//
// The file (SIZE MiB of lines of BYTES bytes each, line end included) is made
// in FOLDER and deleted afterwards. The stand-in's string cache counts
// references as the game's does, so a line read stays in it only while the
// script's value holds it; the most entries it held during the read is
// reported too, and the program fails when reading left any behind.
//
// With --files, COUNT files of LINES lines are loaded for reading at once,
// and the first line of each is read (which fills its window), as a game
// with many small files loaded holds them: what counts then is what each
// loaded file costs beside its window's lines, in resident memory and in
// the heap's bytes in use (the 32-bit game's address space).

#include "bench/BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string folder = ".";
    uint64_t mebibytes = 1;
    size_t lineBytes = 100;
    int32_t window = 100;
    size_t files = 0;  // many small files instead of one
    size_t lines = 10;
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
        else if (std::strcmp(argv[i], "--files") == 0)
            options.files = std::strtoull(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--lines") == 0)
            options.lines = std::strtoull(value, nullptr, 10);
        else
            return false;
    }
    return argc % 2 == 1 && options.mebibytes > 0 && options.lineBytes > 8 && options.window > 0 &&
           options.lines > 0;
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

uint64_t HeapInUseKiB() { return mallinfo2().uordblks / 1024; }

// Loads the files for reading at once and reads the first line of each;
// prints what that cost. False when a file could not be made or read.
bool LoadMany(const Options& options)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < options.files; ++i) {
        names.push_back("many-" + std::to_string(i) + ".txt");
        if (!lfbench::WriteLineFile(names.back(), options.lines, options.lineBytes - 1)) {
            std::fprintf(stderr, "linefold-memory: cannot write %s\n", names.back().c_str());
            return false;
        }
    }
    bool read = true;
    {
        lfbench::Plugin plugin;
        standin::Host& host = plugin.host;
        std::vector<standin::Value> paths;
        for (const std::string& name : names)
            paths.push_back(standin::StringValue(name));
        uint64_t peakBefore = lfbench::PeakResidentKiB(), heapBefore = HeapInUseKiB();
        for (const standin::Value& path : paths) {
            read = read && IsTrue(host.Call(plugin.loadFile, {path, standin::BoolValue(true), standin::BoolValue(false),
                                                             standin::IntValue(options.window)}));
            standin::Value line = host.Call(plugin.nextLine, {path});
            read = read && line.type == ScriptValue::kString && TextOf(line.data.string)[0] != '\0';
        }
        uint64_t peakRise = lfbench::PeakResidentKiB() - peakBefore, heapRise = HeapInUseKiB() - heapBefore;
        // The windows' lines: each slot a string, each line its text.
        size_t held = std::min(options.lines, static_cast<size_t>(options.window));
        uint64_t linesKiB = options.files * (options.window * sizeof(std::string) + held * options.lineBytes) / 1024;
        for (const standin::Value& path : paths)
            host.Call(plugin.closeFile, {path});
        std::printf("%zu files of %zu lines of %zu bytes loaded for reading at once, window %d, the first line of "
                    "each read: resident memory rose by %llu KiB, the heap's bytes in use by %llu KiB, of which the "
                    "windows' lines are about %llu KiB; beyond them %lld KiB\n",
                    options.files, options.lines, options.lineBytes, options.window,
                    static_cast<unsigned long long>(peakRise), static_cast<unsigned long long>(heapRise),
                    static_cast<unsigned long long>(linesKiB),
                    static_cast<long long>(heapRise) - static_cast<long long>(linesKiB));
    }
    for (const std::string& name : names)
        std::remove(name.c_str());
    if (!read)
        std::fprintf(stderr, "linefold-memory: a file could not be loaded or read\n");
    return read;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: linefold-memory [--dir FOLDER] [--mb SIZE] [--line BYTES] "
                             "[--window LINES]\n"
                             "       linefold-memory [--dir FOLDER] --files COUNT --lines LINES [--line BYTES] "
                             "[--window LINES]\n");
        return 2;
    }
    if (!lfbench::EnterWorkFolder(options.folder)) {
        std::fprintf(stderr, "linefold-memory: cannot work in %s\n", options.folder.c_str());
        return 1;
    }
    if (options.files > 0)
        return LoadMany(options) ? 0 : 1;
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
