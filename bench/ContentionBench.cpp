// linefold-contention: how long a cheap call on one file takes while another
// thread works on a big file. One thread calls IsLoaded on a loaded 10-line
// file A as fast as it can for S seconds and times every call; meanwhile a
// second thread is idle, reads a big file B line by line (LoadFile,
// HasNextLine and NextLine to the end, CloseFile, again), or writes B
// (LoadFile emptying the last pass, WriteLine, CloseFile, again), all
// through a window of W lines. The calls are the script functions called
// directly, as linefold-bench's "direct" path makes them.
//
//   linefold-contention [--dir FOLDER] [--seconds S] [--lines N] [--line BYTES] [--window W] [--runs R]
//
// Defaults: 5 s, B of 100000 lines of 2000 bytes, window 10000, one run.
// For each run and second thread's task it prints IsLoaded(A)'s median,
// p99, p99.9 and longest time (each call is timed with the clock, so the
// clock's own cost, some 20 ns, is in every figure), the number of calls,
// and the second thread's lines per second and longest call.

#include "bench/BenchSupport.h"
#include "functions/ScriptFunctions.h"
#include "plugin/RuntimeRoutines.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string folder = ".";
    double seconds = 5;
    size_t lines = 100000;
    size_t lineBytes = 2000;
    uint32_t window = 10000;
    int runs = 1;
};

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* value = argv[i + 1];
        if (std::strcmp(argv[i], "--dir") == 0)
            options.folder = value;
        else if (std::strcmp(argv[i], "--seconds") == 0)
            options.seconds = std::strtod(value, nullptr);
        else if (std::strcmp(argv[i], "--lines") == 0)
            options.lines = std::strtoull(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--line") == 0)
            options.lineBytes = std::strtoull(value, nullptr, 10);
        else if (std::strcmp(argv[i], "--window") == 0)
            options.window = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
        else if (std::strcmp(argv[i], "--runs") == 0)
            options.runs = std::atoi(value);
        else
            return false;
    }
    return argc % 2 == 1 && options.seconds > 0 && options.lines > 0 && options.lineBytes > 8 &&
           options.window > 0 && options.runs > 0;
}

uint64_t Nanoseconds(Clock::duration duration)
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count());
}

// Call times in nanoseconds, kept in 64 buckets per power of two (within
// about 1.5 %), so that tens of millions of calls need no list; the longest
// is kept exactly.
class Latencies {
public:
    void Add(uint64_t ns)
    {
        ++counts[Bucket(ns)];
        ++total;
        longest = std::max(longest, ns);
    }

    // The time that a share q of the calls took at most (the middle of its bucket).
    double Quantile(double q) const
    {
        uint64_t wanted = static_cast<uint64_t>(q * static_cast<double>(total));
        uint64_t seen = 0;
        for (size_t bucket = 0; bucket < counts.size(); ++bucket) {
            seen += counts[bucket];
            if (seen > wanted)
                return static_cast<double>(Lower(bucket) + Lower(bucket + 1)) / 2;
        }
        return static_cast<double>(longest);
    }

    uint64_t Longest() const { return longest; }
    uint64_t Count() const { return total; }

private:
    static size_t Bucket(uint64_t ns)
    {
        if (ns < 64)
            return ns;
        int exponent = 63 - __builtin_clzll(ns);
        return static_cast<size_t>(exponent - 5) * 64 + ((ns >> (exponent - 6)) & 63);
    }
    static uint64_t Lower(size_t bucket)
    {
        if (bucket < 64)
            return bucket;
        size_t exponent = bucket / 64 + 5;
        return (64 + bucket % 64) << (exponent - 6);
    }

    std::vector<uint64_t> counts = std::vector<uint64_t>(64 * 59);
    uint64_t total = 0;
    uint64_t longest = 0;
};

enum class Task { Idle, Read, Write };

const char* Name(Task task)
{
    switch (task) {
    case Task::Idle:
        return "idle";
    case Task::Read:
        return "reads B";
    case Task::Write:
        return "writes B";
    }
    return "";
}

// What the second thread did: its lines, the time it worked, its longest
// call and which function that was.
struct Work {
    uint64_t lines = 0;
    double seconds = 0;
    uint64_t longestNs = 0;
    const char* longestCall = "";
    bool failed = false;
};

// The second thread's calls, each timed.
class Worker {
public:
    Worker(const std::string& readPath, const std::string& writePath, const Options& options)
        : readPath(standin::Intern(readPath)), writePath(standin::Intern(writePath)), options(options)
    {
        // A script holds the line it writes: cycle through texts made now.
        for (size_t i = 0; i < 1000; ++i)
            pool.emplace_back(standin::Intern(lfbench::LineText(i, options.lineBytes)));
    }

    Work Run(Task task, const std::atomic<bool>& stop)
    {
        work = Work();
        Clock::time_point start = Clock::now();
        while (task != Task::Idle && !stop && !work.failed) {
            if (task == Task::Read)
                ReadPass(stop);
            else
                WritePass(stop);
        }
        work.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return work;
    }

private:
    template <class Call>
    auto Timed(const char* function, Call call)
    {
        Clock::time_point before = Clock::now();
        auto answer = call();
        uint64_t ns = Nanoseconds(Clock::now() - before);
        if (ns > work.longestNs) {
            work.longestNs = ns;
            work.longestCall = function;
        }
        return answer;
    }

    void ReadPass(const std::atomic<bool>& stop)
    {
        StringCache::Ref path = readPath.Get();
        if (!Timed("LoadFile", [&] { return LoadFile(nullptr, path, true, false, options.window); })) {
            work.failed = true;
            return;
        }
        while (!stop && Timed("HasNextLine", [&] { return HasNextLine(nullptr, path); })) {
            OwnedHandle line(Timed("NextLine", [&] { return NextLine(nullptr, path); }));
            ++work.lines;
        }
        Timed("CloseFile", [&] { return CloseFile(nullptr, path); });
    }

    void WritePass(const std::atomic<bool>& stop)
    {
        StringCache::Ref path = writePath.Get();
        if (!Timed("LoadFile", [&] { return LoadFile(nullptr, path, false, false, options.window); })) {
            work.failed = true;
            return;
        }
        for (size_t i = 0; i < options.lines && !stop; ++i) {
            StringCache::Ref line = pool[i % pool.size()].Get();
            if (!Timed("WriteLine", [&] { return WriteLine(nullptr, path, line); }))
                work.failed = true;
            ++work.lines;
        }
        if (!Timed("CloseFile", [&] { return CloseFile(nullptr, path); }))
            work.failed = true;
    }

    OwnedHandle readPath, writePath;
    const Options& options;
    std::vector<OwnedHandle> pool;
    Work work;
};

std::string Shown(double ns)
{
    char text[32];
    if (ns < 1e3)
        std::snprintf(text, sizeof text, "%.3f us", ns / 1e3);
    else if (ns < 1e6)
        std::snprintf(text, sizeof text, "%.1f us", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: linefold-contention [--dir FOLDER] [--seconds S] [--lines N] [--line BYTES] "
                             "[--window W] [--runs R]\n");
        return 2;
    }
    if (!lfbench::EnterWorkFolder(options.folder)) {
        std::fprintf(stderr, "linefold-contention: cannot work in %s\n", options.folder.c_str());
        return 1;
    }
    const std::string fileA = "contention-a.txt", readB = "contention-b-read.txt", writeB = "contention-b-write.txt";
    if (!lfbench::WriteLineFile(fileA, 10, 80, "\r\n") ||
        !lfbench::WriteLineFile(readB, options.lines, options.lineBytes, "\r\n")) {
        std::fprintf(stderr, "linefold-contention: cannot write the files\n");
        return 1;
    }

    int status = 0;
    try {
        lfbench::Plugin plugin;
        OwnedHandle pathA(standin::Intern(fileA));
        if (!LoadFile(nullptr, pathA.Get(), true, false, options.window))
            throw std::runtime_error("cannot load A");
        Worker worker(readB, writeB, options);

        std::printf("IsLoaded(A) for %g s while a second thread works on B (%zu lines of %zu bytes, window %u)\n",
                    options.seconds, options.lines, options.lineBytes, options.window);
        std::printf("%-9s %10s %10s %10s %10s %11s   %-26s %s\n", "second", "median", "p99", "p99.9", "max",
                    "calls", "second thread: lines/s", "longest call");
        for (int run = 0; run < options.runs; ++run) {
            for (Task task : {Task::Idle, Task::Read, Task::Write}) {
                std::atomic<bool> stop{false};
                Work work;
                std::thread second([&] { work = worker.Run(task, stop); });
                Latencies latencies;
                Clock::time_point end =
                    Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
                bool allTrue = true;
                for (;;) {
                    Clock::time_point before = Clock::now();
                    bool loaded = IsLoaded(nullptr, pathA.Get());
                    Clock::time_point after = Clock::now();
                    allTrue = allTrue && loaded;
                    latencies.Add(Nanoseconds(after - before));
                    if (after >= end)
                        break;
                }
                stop = true;
                second.join();

                char rate[32] = "-", longest[48] = "-";
                if (task != Task::Idle) {
                    std::snprintf(rate, sizeof rate, "%.0f", static_cast<double>(work.lines) / work.seconds);
                    std::snprintf(longest, sizeof longest, "%s (%s)", Shown(static_cast<double>(work.longestNs)).c_str(),
                                  work.longestCall);
                }
                std::printf("%-9s %10s %10s %10s %10s %11llu   %-26s %s%s\n", Name(task),
                            Shown(latencies.Quantile(0.5)).c_str(), Shown(latencies.Quantile(0.99)).c_str(),
                            Shown(latencies.Quantile(0.999)).c_str(),
                            Shown(static_cast<double>(latencies.Longest())).c_str(),
                            static_cast<unsigned long long>(latencies.Count()), rate, longest,
                            allTrue && !work.failed ? "" : "  (A CALL FAILED)");
                std::fflush(stdout);
                if (!allTrue || work.failed)
                    status = 1;
            }
        }
        CloseFile(nullptr, pathA.Get());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "linefold-contention: %s\n", failure.what());
        status = 1;
    }
    for (const std::string& file : {fileA, readB, writeB})
        std::remove(file.c_str());
    return status;
}
