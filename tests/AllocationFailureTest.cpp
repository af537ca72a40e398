// Exhausted memory at every allocation of a whole session, one at a time:
// no crash, nothing thrown into the caller, a log line, no line that was
// answered true lost without a failed close to say so, and no file left by a
// load that failed.
#include "support/TestSupport.h"

#include "functions/ScriptFunctions.h"
#include "functions/OpenFileTable.h"
#include "plugin/RuntimeRoutines.h"
#include "standin/StandInHost.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// While a plugin call runs, the n-th allocation from the moment of arming
// fails (-1: none does). The test's own allocations are never touched.
thread_local bool counting = false;
std::atomic<long> failAt{-1};
std::atomic<long> allocations{0};
std::atomic<std::size_t> largest{0};  // the largest allocation counted

template <class Call>
auto Counted(Call call)
{
    counting = true;
    auto answer = call();
    counting = false;
    return answer;
}
}  // namespace

// GCC cannot see that these two are a matching pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
void* Allocate(std::size_t size)
{
    if (counting) {
        ++allocations;
        if (size > largest)
            largest = size;
        if (failAt >= 0 && failAt-- == 0)
            throw std::bad_alloc();
    }
    void* memory = std::malloc(size ? size : 1);
    if (!memory)
        throw std::bad_alloc();
    return memory;
}

void* AllocateOrNull(std::size_t size) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
}  // namespace

// Every form, so that no allocation bypasses the counting and every block is
// released by the allocator that made it.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

using lftest::H;
using lftest::LogCapture;
using Lines = std::vector<std::string>;

namespace {

using AllocationFailureTest = lftest::ScriptTest;

const Lines kLines = {"first line, longer than a short string", "second line, also long enough",
                      "third", "fourth line to need another block", "fifth"};

struct Outcome {
    Lines answeredTrue;  // WriteLine answers
    bool closed = false;
    Lines read;          // non-empty NextLine answers
    bool failedLoadLeftAFile = false;
};

// Writes the lines through a window of 2, closes, reads them back, deletes:
// directly, or through the registered objects as the VM calls them.
Outcome Session(standin::Host* host)
{
    OwnedHandle path(H("s.txt"));
    std::vector<OwnedHandle> lines;
    for (const std::string& line : kLines)
        lines.emplace_back(H(line));
    auto flag = [&](const char* function, std::vector<standin::Value> arguments) {
        IFunction* object = host->Find(function);
        return Counted([&] { return host->Call(object, std::move(arguments)); }).data.boolean;
    };
    auto load = [&](bool readOnly) {
        if (!host)
            return Counted([&] { return LoadFile(nullptr, path.Get(), readOnly, false, 2); });
        return flag("LoadFile", {standin::StringValue("s.txt"), standin::BoolValue(readOnly),
                                 standin::BoolValue(false), standin::IntValue(2)});
    };
    auto byPath = [&](const char* function, bool (*direct)(StaticFunctionTag*, StringCache::Ref)) {
        if (!host)
            return Counted([&] { return direct(nullptr, path.Get()); });
        return flag(function, {standin::StringValue("s.txt")});
    };

    Outcome outcome;
    outcome.failedLoadLeftAFile = !load(false) && lftest::fs::exists("s.txt");
    for (size_t i = 0; i < kLines.size(); ++i) {
        bool taken = host ? flag("WriteLine", {standin::StringValue("s.txt"), standin::StringValue(kLines[i])})
                          : Counted([&] { return WriteLine(nullptr, path.Get(), lines[i].Get()); });
        if (taken)
            outcome.answeredTrue.push_back(kLines[i]);
    }
    outcome.closed = byPath("CloseFile", CloseFile);
    load(true);
    IFunction* nextLine = host ? host->Find("NextLine") : nullptr;
    for (size_t i = 0; i < kLines.size() + 2; ++i) {
        std::string text;
        if (host) {
            std::vector<standin::Value> arguments = {standin::StringValue("s.txt")};
            standin::Value result = Counted([&] { return host->Call(nextLine, std::move(arguments)); });
            text = TextOf(result.data.string);
        } else {
            OwnedHandle line(Counted([&] { return NextLine(nullptr, path.Get()); }));
            text = TextOf(line.Get());
        }
        if (!text.empty())
            outcome.read.push_back(text);
    }
    byPath("DeleteAnyFile", DeleteAnyFile);
    return outcome;
}

bool IsPrefix(const Lines& prefix, const Lines& whole)
{
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

bool IsSubsequence(const Lines& part, const Lines& whole)
{
    size_t next = 0;
    for (const std::string& line : whole) {
        if (next < part.size() && part[next] == line)
            ++next;
    }
    return next == part.size();
}

void SweepEveryAllocation(standin::Host* host)
{
    // The handles are interned before counting, so that the sweep reaches
    // the plugin's own allocations rather than only the stand-in's.
    Session(host);
    TheOpenFileTable().CloseForUnload();
    long before = allocations;
    Session(host);
    long total = allocations - before;
    TheOpenFileTable().CloseForUnload();
    ASSERT_GT(total, 10);

    for (long n = 0; n < total; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total) + " fails");
        LogCapture log;
        standin::StringCounts strings = standin::Strings();
        failAt = n;
        Outcome outcome = Session(host);
        failAt = -1;
        TheOpenFileTable().CloseForUnload();
        std::error_code ignored;
        lftest::fs::remove("s.txt", ignored);
        // Every handle made on the way was given back, whatever failed.
        EXPECT_EQ(standin::Strings(), strings);
        EXPECT_FALSE(outcome.failedLoadLeftAFile);

        // After a close that answered true, the lines read back are lines
        // that were taken, in order, never one out of place or twice. If one
        // is missing (reading stopped early, or a result could not be stored
        // in the script's value), the log says why.
        if (outcome.closed) {
            EXPECT_TRUE(IsSubsequence(outcome.read, outcome.answeredTrue));
        }
        if (outcome.closed && !IsPrefix(outcome.read, outcome.answeredTrue)) {
            std::string text = log.Bytes();
            EXPECT_TRUE(text.find("Error") != std::string::npos || text.find("Could not") != std::string::npos)
                << "lines missing without a word:\n" << text;
        }
    }
}

}  // namespace

TEST_F(AllocationFailureTest, EveryAllocationOfADirectSessionMayFail)
{
    SweepEveryAllocation(nullptr);
}

TEST_F(AllocationFailureTest, EveryAllocationOfASessionThroughTheFunctionObjectsMayFail)
{
    standin::Host host;
    PluginInfoRecord info{};
    ASSERT_TRUE(host.Query(info));
    host.Load();
    host.Register();
    SweepEveryAllocation(&host);
}

TEST_F(AllocationFailureTest, MemoryRunningOutInsideABlockClearsGoodAndSaysSo)
{
    lftest::WriteBytes("in.txt", "a line too long for a short string\r\nanother line too long for that\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("in.txt"), true, false, 2));
    LogCapture log;
    failAt = 0;
    EXPECT_FALSE(Counted([] { return HasNextLine(nullptr, H("in.txt")); }));
    failAt = -1;
    EXPECT_FALSE(IsGood(nullptr, H("in.txt")));
    EXPECT_EQ(log.Lines(), (Lines{"  Error reading file:", "  std::bad_alloc", ""}));

    ASSERT_TRUE(LoadFile(nullptr, H("out.txt"), false, false, 2));
    EXPECT_TRUE(WriteLine(nullptr, H("out.txt"), H("kept")));
    LogCapture writeLog;
    StringCache::Ref longLine = H("a line that needs memory of its own to be stored");
    failAt = 0;
    EXPECT_FALSE(Counted([&] { return WriteLine(nullptr, H("out.txt"), longLine); }));
    failAt = -1;
    EXPECT_TRUE(IsGood(nullptr, H("out.txt")));
    EXPECT_TRUE(CloseFile(nullptr, H("out.txt")));
    EXPECT_EQ(lftest::FileLines("out.txt"), Lines{"kept"});
    EXPECT_EQ(writeLog.Lines(), (Lines{"  Error in WriteLine: std::bad_alloc", "Closed file 'out.txt'."}));
}

// A loaded file costs memory for what it holds, not a read buffer of 64 KiB:
// a file of 200 bytes takes no more than it needs to be read, and deleting,
// which loads the file for reading but reads nothing, makes none.
TEST_F(AllocationFailureTest, AFileTakesTheReadBufferItNeedsAndDeletingNone)
{
    std::string small;
    for (int i = 0; i < 10; ++i)
        small += "line of twenty " + std::to_string(10 + i) + "\r\n";
    lftest::WriteBytes("small.txt", small);
    lftest::WriteBytes("big.txt", std::string(100000, 'x'));
    OwnedHandle smallPath(H("small.txt")), bigPath(H("big.txt"));
    largest = 0;
    EXPECT_TRUE(Counted([&] { return LoadFile(nullptr, smallPath.Get(), true, false, 10); }));
    OwnedHandle line(Counted([&] { return NextLine(nullptr, smallPath.Get()); }));
    EXPECT_STREQ(TextOf(line.Get()), "line of twenty 10");
    EXPECT_LT(largest, 1024u);
    EXPECT_TRUE(Counted([&] { return DeleteAnyFile(nullptr, bigPath.Get()); }));
    EXPECT_LT(largest, 1024u);
}
