// linefold-bench: reads and writes the same files through three paths and
// reports lines and bytes per second for each:
//   baseline  std::getline on an std::ifstream; << and '\n' on an std::ofstream
//   direct    the script functions called as plain calls
//   invoke    the function objects called through Invoke, as the host does
// for windows (LoadFile's bufferSize) of 1, 100 and 10000 lines and lines of
// 20 and 2000 bytes. Files are read with LF line ends ("read") and with the
// CR LF ends that WriteLine writes ("read-crlf"; the baseline then keeps the
// CR in its lines, as std::getline does off Windows). Bytes count each
// line's text and one line end.
//
//   linefold-bench [--dir FOLDER] [Google Benchmark options]
//
// FOLDER (default: the current directory) holds the files and the debug log.
//
// The stand-in's string cache counts references as the game's does: a line
// read is a new text for the cache, and it is gone again once the script's
// value lets go of it, so the cache stays small. Writing cycles through
// kWritePool distinct lines made before the timing, as a script holds the
// line it is about to write.

#include "bench/BenchSupport.h"
#include "functions/ScriptFunctions.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using lfbench::Plugin;

struct Shape {
    size_t length;  // bytes of text per line
    size_t count;   // lines per file
};

// About 16 MB and 40 MB: far more than any window holds, so every path
// refills or flushes many times per pass.
const Shape kShapes[] = {{20, 800000}, {2000, 20000}};
const uint32_t kWindows[] = {1, 100, 10000};
const std::string kDataFolder = "Data/Linefold";
constexpr size_t kWritePool = 1000;

struct LineSet {
    std::string readPath;      // count distinct lines, LF line ends
    std::string readCrLfPath;  // the same lines, CR LF line ends
    std::string writePath;     // count lines, cycling through pool
    size_t count = 0;
    std::vector<std::string> pool;
    uint64_t bytes = 0;  // text plus one line end per line
};

Plugin* plugin = nullptr;

bool IsTrue(const standin::Value& value)
{
    return value.type == ScriptValue::kBool && value.data.boolean;
}

void Report(benchmark::State& state, const LineSet& set)
{
    double passes = static_cast<double>(state.iterations());
    state.counters["lines/s"] =
        benchmark::Counter(passes * static_cast<double>(set.count), benchmark::Counter::kIsRate);
    state.counters["bytes/s"] =
        benchmark::Counter(passes * static_cast<double>(set.bytes), benchmark::Counter::kIsRate);
}

void CheckCount(benchmark::State& state, size_t lines, const LineSet& set)
{
    if (lines != set.count)
        state.SkipWithError("a pass did not read every line");
}

void CheckFileSize(benchmark::State& state, const LineSet& set, size_t lineEndBytes)
{
    std::error_code error;
    uint64_t size = std::filesystem::file_size(set.writePath, error);
    uint64_t expected = set.bytes + set.count * (lineEndBytes - 1);
    if (error || size != expected)
        state.SkipWithError("the written file does not hold every line");
}

standin::Value Load(const standin::Value& path, bool readOnly, uint32_t window)
{
    return plugin->host.Call(plugin->loadFile,
                             {path, standin::BoolValue(readOnly), standin::BoolValue(false),
                              standin::IntValue(static_cast<int32_t>(window))});
}

// What a read benchmark reads: a set's lines from one of its files.
struct ReadJob {
    const LineSet* set;
    const std::string* path;
};

void ReadBaseline(benchmark::State& state, ReadJob job, uint32_t)
{
    const LineSet* set = job.set;
    for (auto _ : state) {
        std::ifstream in(*job.path);
        std::string line;
        size_t lines = 0;
        while (std::getline(in, line)) {
            benchmark::DoNotOptimize(line.data());
            ++lines;
        }
        CheckCount(state, lines, *set);
    }
    Report(state, *set);
}

void ReadDirect(benchmark::State& state, ReadJob job, uint32_t window)
{
    const LineSet* set = job.set;
    for (auto _ : state) {
        OwnedHandle path(standin::Intern(*job.path));
        if (!LoadFile(nullptr, path.Get(), true, false, window)) {
            state.SkipWithError("LoadFile failed");
            break;
        }
        size_t lines = 0;
        while (HasNextLine(nullptr, path.Get())) {
            OwnedHandle line(NextLine(nullptr, path.Get()));
            benchmark::DoNotOptimize(line.Get().data);
            ++lines;
        }
        CloseFile(nullptr, path.Get());
        CheckCount(state, lines, *set);
    }
    Report(state, *set);
}

void ReadInvoke(benchmark::State& state, ReadJob job, uint32_t window)
{
    const LineSet* set = job.set;
    standin::Host& host = plugin->host;
    for (auto _ : state) {
        standin::Value path = standin::StringValue(*job.path);
        if (!IsTrue(Load(path, true, window))) {
            state.SkipWithError("LoadFile failed");
            break;
        }
        size_t lines = 0;
        while (IsTrue(host.Call(plugin->hasNextLine, {path}))) {
            standin::Value line = host.Call(plugin->nextLine, {path});
            benchmark::DoNotOptimize(line.data.string.data);
            ++lines;
        }
        host.Call(plugin->closeFile, {path});
        CheckCount(state, lines, *set);
    }
    Report(state, *set);
}

void WriteBaseline(benchmark::State& state, const LineSet* set, uint32_t)
{
    for (auto _ : state) {
        std::ofstream out(set->writePath, std::ios::trunc);
        for (size_t i = 0, k = 0; i < set->count; ++i) {
            out << set->pool[k] << '\n';
            if (++k == set->pool.size())
                k = 0;
        }
    }
    CheckFileSize(state, *set, 1);
    Report(state, *set);
}

void WriteDirect(benchmark::State& state, const LineSet* set, uint32_t window)
{
    OwnedHandle path(standin::Intern(set->writePath));
    std::vector<OwnedHandle> lines;
    for (const std::string& text : set->pool)
        lines.emplace_back(standin::Intern(text));
    for (auto _ : state) {
        if (!LoadFile(nullptr, path.Get(), false, false, window)) {
            state.SkipWithError("LoadFile failed");
            break;
        }
        for (size_t i = 0, k = 0; i < set->count; ++i) {
            WriteLine(nullptr, path.Get(), lines[k].Get());
            if (++k == lines.size())
                k = 0;
        }
        CloseFile(nullptr, path.Get());
    }
    CheckFileSize(state, *set, 2);  // CR LF
    Report(state, *set);
}

void WriteInvoke(benchmark::State& state, const LineSet* set, uint32_t window)
{
    standin::Host& host = plugin->host;
    standin::Value path = standin::StringValue(set->writePath);
    std::vector<standin::Value> lines;
    for (const std::string& text : set->pool)
        lines.push_back(standin::StringValue(text));
    for (auto _ : state) {
        if (!IsTrue(Load(path, false, window))) {
            state.SkipWithError("LoadFile failed");
            break;
        }
        for (size_t i = 0, k = 0; i < set->count; ++i) {
            host.Call(plugin->writeLine, {path, lines[k]});
            if (++k == lines.size())
                k = 0;
        }
        host.Call(plugin->closeFile, {path});
    }
    CheckFileSize(state, *set, 2);
    Report(state, *set);
}

struct PathEntry {
    const char* name;
    void (*read)(benchmark::State&, ReadJob, uint32_t);
    void (*write)(benchmark::State&, const LineSet*, uint32_t);
};

const PathEntry kPaths[] = {
    {"baseline", ReadBaseline, WriteBaseline},
    {"direct", ReadDirect, WriteDirect},
    {"invoke", ReadInvoke, WriteInvoke},
};

bool Prepare(LineSet& set, const Shape& shape)
{
    // Paths as long as a game's usually are: no short-string shortcut.
    set.readPath = kDataFolder + "/read-" + std::to_string(shape.length) + ".txt";
    set.readCrLfPath = kDataFolder + "/read-crlf-" + std::to_string(shape.length) + ".txt";
    set.writePath = kDataFolder + "/write-" + std::to_string(shape.length) + ".txt";
    set.count = shape.count;
    set.bytes = shape.count * (shape.length + 1);
    for (size_t i = 0; i < kWritePool; ++i)
        set.pool.push_back(lfbench::LineText(i, shape.length));
    return lfbench::WriteLineFile(set.readPath, shape.count, shape.length, "\n") &&
           lfbench::WriteLineFile(set.readCrLfPath, shape.count, shape.length, "\r\n");
}

// Registers, for each operation, shape and window, the three paths side by
// side; each is compared with the baseline of the same operation, shape and
// window (scripts/bench runs them several times in random order).
void RegisterAll(std::vector<LineSet>& sets)
{
    const char* const operations[] = {"read", "read-crlf", "write"};
    for (const char* operation : operations) {
        for (size_t s = 0; s < sets.size(); ++s) {
            for (uint32_t window : kWindows) {
                for (const PathEntry& path : kPaths) {
                    std::string name = std::string(operation) + "/" + path.name +
                                       "/line:" + std::to_string(kShapes[s].length) +
                                       "/window:" + std::to_string(window);
                    benchmark::internal::Benchmark* registered;
                    if (std::strcmp(operation, "write") == 0) {
                        registered = benchmark::RegisterBenchmark(name.c_str(), path.write, &sets[s], window);
                    } else {
                        const std::string* file =
                            std::strcmp(operation, "read") == 0 ? &sets[s].readPath : &sets[s].readCrLfPath;
                        registered = benchmark::RegisterBenchmark(name.c_str(), path.read,
                                                                  ReadJob{&sets[s], file}, window);
                    }
                    registered->Unit(benchmark::kMillisecond);
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::string folder = ".";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            folder = argv[++i];
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!lfbench::EnterWorkFolder(folder)) {
        std::fprintf(stderr, "linefold-bench: cannot work in %s\n", folder.c_str());
        return 1;
    }

    std::error_code error;
    std::filesystem::create_directories(kDataFolder, error);
    std::vector<LineSet> sets(std::size(kShapes));
    for (size_t s = 0; s < sets.size(); ++s) {
        if (!Prepare(sets[s], kShapes[s])) {
            std::fprintf(stderr, "linefold-bench: cannot write %s\n", sets[s].readPath.c_str());
            return 1;
        }
    }
    int status = 0;
    try {
        Plugin started;
        plugin = &started;
        RegisterAll(sets);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "linefold-bench: %s\n", failure.what());
        status = 1;
    }
    for (const LineSet& set : sets) {
        std::remove(set.readPath.c_str());
        std::remove(set.readCrLfPath.c_str());
        std::remove(set.writePath.c_str());
    }
    return status;
}
