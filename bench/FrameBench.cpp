// linefold-frames: what the game's frames mean for a script. A script reads a
// file line by line (HasNextLine, then NextLine) and writes one (WriteLine),
// through the function objects on the stand-in host with the game's main
// thread modelled (standin::MainThread): once with the functions as the
// plugin registers them, so that every call is made at once on the script's
// thread, and once kept on the main thread, as linefold-host --frame-bound
// keeps them, so that every call waits for a frame. Windows of 100 and 10000
// lines.
//
//   linefold-frames [--dir FOLDER] [--lines N] [--line BYTES] [--rate HZ] [--runs R]
//
// What it assumes: a thread of this program ticks the main thread as soon as
// a call waits for it, and each tick stands for one frame of 1/HZ seconds,
// so a frame-bound script takes its frames times 1/HZ (the script's own work
// between calls, and the calls made in a frame, are taken to fit in that
// frame). A script whose calls are made at once is timed by the clock, and
// nothing of the engine's own cost per call is counted beyond the stand-in
// host's. For each row it prints lines per second, the frames the script
// waited for, and the longest time the main thread spent in plugin calls in
// one frame (the frame the player sees stalls by that much). Each figure is
// the median of R runs.

#include "bench/BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string folder = ".";
    size_t lines = 10000;
    size_t lineBytes = 80;
    double rate = 60;
    int runs = 5;
};

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--dir") == 0)
            options.folder = value;
        else if (std::strcmp(argv[i], "--lines") == 0)
            options.lines = std::strtoull(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--line") == 0)
            options.lineBytes = std::strtoull(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--rate") == 0)
            options.rate = std::strtod(value, nullptr);
        else if (std::strcmp(argv[i], "--runs") == 0)
            options.runs = std::atoi(value);
        else
            return false;
    }
    return argc % 2 == 1 && options.lines > 0 && options.lineBytes > 8 && options.rate > 0 && options.runs > 0;
}

bool IsTrue(const standin::Value& value)
{
    return value.type == ScriptValue::kBool && value.data.boolean;
}

struct Run {
    double seconds = 0;  // as the script sees it
    uint64_t frames = 0;
    double longestFrameMs = 0;
    bool complete = false;  // every line read, or every line in the file
};

class Script {
public:
    Script(lfbench::Plugin& plugin, const Options& options) : plugin(plugin), options(options)
    {
        for (size_t i = 0; i < options.lines; ++i)
            lines.push_back(standin::StringValue(lfbench::LineText(i, options.lineBytes)));
    }

    bool Load(const standin::Value& path, bool readOnly, int32_t window)
    {
        return IsTrue(plugin.host.Call(plugin.loadFile, {path, standin::BoolValue(readOnly),
                                                         standin::BoolValue(false), standin::IntValue(window)}));
    }

    bool Read(const std::string& file, int32_t window)
    {
        standin::Value path = standin::StringValue(file);
        if (!Load(path, true, window))
            return false;
        size_t count = 0;
        while (IsTrue(plugin.host.Call(plugin.hasNextLine, {path}))) {
            standin::Value line = plugin.host.Call(plugin.nextLine, {path});
            ++count;
        }
        return IsTrue(plugin.host.Call(plugin.closeFile, {path})) && count == options.lines;
    }

    bool Write(const std::string& file, int32_t window)
    {
        standin::Value path = standin::StringValue(file);
        if (!Load(path, false, window))
            return false;
        for (const standin::Value& line : lines)
            plugin.host.Call(plugin.writeLine, {path, line});
        if (!IsTrue(plugin.host.Call(plugin.closeFile, {path})))
            return false;
        std::error_code error;
        return std::filesystem::file_size(file, error) == options.lines * (options.lineBytes + 2) && !error;
    }

private:
    lfbench::Plugin& plugin;
    const Options& options;
    std::vector<standin::Value> lines;
};

// One row of the table: each figure the median of the runs; complete when
// every run was.
struct Row {
    const char* operation;
    int32_t window;
    bool frameBound;
    Run median;
};

// A thread that ticks the main thread whenever a call waits for a frame,
// from construction until destruction, also when a run throws.
class Ticking {
public:
    explicit Ticking(standin::MainThread& main)
        : main(main), thread([&main] {
              while (main.AwaitCalls())
                  main.Tick();
          })
    {
    }
    ~Ticking()
    {
        main.Stop();
        thread.join();
    }
    Ticking(const Ticking&) = delete;
    Ticking& operator=(const Ticking&) = delete;

private:
    standin::MainThread& main;
    std::thread thread;
};

std::string Shown(double value, const char* unit)
{
    char text[32];
    if (value >= 1e6)
        std::snprintf(text, sizeof text, "%.2f M%s", value / 1e6, unit);
    else if (value >= 1e3)
        std::snprintf(text, sizeof text, "%.1f k%s", value / 1e3, unit);
    else if (value >= 1 || *unit != 's')
        std::snprintf(text, sizeof text, "%.1f %s", value, unit);
    else
        std::snprintf(text, sizeof text, "%.2f m%s", value * 1e3, unit);
    return text;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Every row: reading and writing, both windows, with the calls made at once
// and then kept on the main thread.
std::vector<Row> MeasureRows(const Options& options, const std::string& readFile, const std::string& writeFile)
{
    lfbench::Plugin plugin;
    standin::MainThread main;
    plugin.host.UseMainThread(&main);
    Ticking ticking(main);
    Script script(plugin, options);

    std::vector<Row> rows;
    // As the plugin registers its functions first: the flag cannot be given
    // back once the host has cleared it.
    for (bool frameBound : {false, true}) {
        if (frameBound)
            plugin.host.KeepOnMainThread();
        for (const char* operation : {"read", "write"}) {
            for (int32_t window : {100, 10000}) {
                std::vector<double> seconds, frames, longest;
                Row row{operation, window, frameBound, {}};
                row.median.complete = true;
                for (int run = 0; run < options.runs; ++run) {
                    main.ResetTotals();
                    Clock::time_point start = Clock::now();
                    bool complete = std::strcmp(operation, "read") == 0 ? script.Read(readFile, window)
                                                                        : script.Write(writeFile, window);
                    std::chrono::duration<double> spent = Clock::now() - start;
                    standin::MainThread::Statistics totals = main.Totals();
                    row.median.complete = row.median.complete && complete;
                    frames.push_back(static_cast<double>(totals.frames));
                    seconds.push_back(frameBound ? static_cast<double>(totals.frames) / options.rate
                                                 : spent.count());
                    longest.push_back(std::chrono::duration<double, std::milli>(totals.longestFrameWork).count());
                }
                row.median.seconds = Median(seconds);
                row.median.frames = static_cast<uint64_t>(Median(frames));
                row.median.longestFrameMs = Median(longest);
                rows.push_back(row);
            }
        }
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: linefold-frames [--dir FOLDER] [--lines N] [--line BYTES] [--rate HZ] [--runs R]\n");
        return 2;
    }
    if (!lfbench::EnterWorkFolder(options.folder)) {
        std::fprintf(stderr, "linefold-frames: cannot work in %s\n", options.folder.c_str());
        return 1;
    }
    const std::string readFile = "frames-read.txt", writeFile = "frames-write.txt";
    if (!lfbench::WriteLineFile(readFile, options.lines, options.lineBytes, "\r\n")) {
        std::fprintf(stderr, "linefold-frames: cannot write %s\n", readFile.c_str());
        return 1;
    }

    int status = 0;
    try {
        std::vector<Row> rows = MeasureRows(options, readFile, writeFile);
        std::printf("%zu lines of %zu bytes, %g frames a second, median of %d runs\n", options.lines,
                    options.lineBytes, options.rate, options.runs);
        std::printf("%-6s %7s  %-12s %12s %10s %14s  %s\n", "op", "window", "calls made", "script time",
                    "lines/s", "frames waited", "longest frame in plugin calls");
        for (const char* operation : {"read", "write"}) {
            for (int32_t window : {100, 10000}) {
                for (const Row& row : rows) {
                    if (std::strcmp(row.operation, operation) != 0 || row.window != window)
                        continue;
                    std::printf("%-6s %7d  %-12s %12s %10s %14llu  %.3f ms%s\n", row.operation, row.window,
                                row.frameBound ? "main thread" : "at once", Shown(row.median.seconds, "s").c_str(),
                                Shown(static_cast<double>(options.lines) / row.median.seconds, "").c_str(),
                                static_cast<unsigned long long>(row.median.frames), row.median.longestFrameMs,
                                row.median.complete ? "" : "  (INCOMPLETE)");
                    if (!row.median.complete)
                        status = 1;
                }
            }
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "linefold-frames: %s\n", failure.what());
        status = 1;
    }
    std::remove(readFile.c_str());
    std::remove(writeFile.c_str());
    return status;
}
