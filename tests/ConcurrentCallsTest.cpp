#include "support/TestSupport.h"

#include "functions/OpenFileTable.h"
#include "functions/ScriptFunctions.h"
#include "linefile/TextStream.h"
#include "standin/StandInHost.h"

#include <atomic>
#include <chrono>
#include <future>
#include <iostream>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

using lftest::FileLines;
using lftest::H;
using Lines = std::vector<std::string>;

namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 1500;
constexpr int kSharedInputLines = 4000;

// The eleven script functions, called either directly or through the
// registered function objects as the host's VM calls them.
class Calls {
public:
    virtual ~Calls() = default;
    virtual bool Bool(const char* function, const std::string& path) = 0;
    virtual bool Load(const std::string& path, bool readOnly, bool append, uint32_t bufferSize) = 0;
    virtual bool Write(const std::string& path, const std::string& line) = 0;
    virtual std::string Next(const std::string& path) = 0;
    std::atomic<long> count{0};
};

class DirectCalls : public Calls {
public:
    bool Bool(const char* function, const std::string& path) override
    {
        ++count;
        using Function = bool (*)(StaticFunctionTag*, StringCache::Ref);
        static const std::map<std::string, Function> functions = {
            {"ExistsFile", ExistsFile}, {"CloseFile", CloseFile},     {"DeleteAnyFile", DeleteAnyFile},
            {"IsLoaded", IsLoaded},     {"IsGood", IsGood},           {"IsReadOnly", IsReadOnly},
            {"IsWriteOnly", IsWriteOnly}, {"HasNextLine", HasNextLine}};
        return functions.at(function)(nullptr, H(path));
    }
    bool Load(const std::string& path, bool readOnly, bool append, uint32_t bufferSize) override
    {
        ++count;
        return LoadFile(nullptr, H(path), readOnly, append, bufferSize);
    }
    bool Write(const std::string& path, const std::string& line) override
    {
        ++count;
        return WriteLine(nullptr, H(path), H(line));
    }
    std::string Next(const std::string& path) override
    {
        ++count;
        return lftest::Next(path);
    }
};

class ObjectCalls : public Calls {
public:
    explicit ObjectCalls(standin::Host& host) : host(host) {}
    bool Bool(const char* function, const std::string& path) override
    {
        return Answer(function, {standin::StringValue(path)}).data.boolean;
    }
    bool Load(const std::string& path, bool readOnly, bool append, uint32_t bufferSize) override
    {
        return Answer("LoadFile", {standin::StringValue(path), standin::BoolValue(readOnly),
                                   standin::BoolValue(append), standin::IntValue(static_cast<int32_t>(bufferSize))})
            .data.boolean;
    }
    bool Write(const std::string& path, const std::string& line) override
    {
        return Answer("WriteLine", {standin::StringValue(path), standin::StringValue(line)}).data.boolean;
    }
    std::string Next(const std::string& path) override
    {
        return TextOf(Answer("NextLine", {standin::StringValue(path)}).data.string);
    }

private:
    standin::Value Answer(const char* function, std::vector<standin::Value> arguments)
    {
        ++count;
        bool answered = false;
        standin::Value result = host.Call(host.Find(function), std::move(arguments), &answered);
        EXPECT_TRUE(answered);
        return result;
    }
    standin::Host& host;
};

struct ThreadRecord {
    Lines sharedWrites;  // lines WriteLine answered true for, in order
    Lines churnWrites;
    Lines linesRead;
};

// One thread's calls: its own file, a shared file written by all, a shared
// file read by all, a file loaded for writing and closed by all in turns, a
// file read by all and deleted and made again by all, and deletions.
void RunThread(Calls& calls, int id, int rounds, ThreadRecord& record)
{
    std::string own = "own-" + std::to_string(id) + ".txt";
    EXPECT_TRUE(calls.Load(own, false, false, 3 * (id + 1)));
    for (int round = 0; round < rounds; ++round) {
        std::string line = std::to_string(id) + "-" + std::to_string(round);
        EXPECT_TRUE(calls.Write(own, line));

        if (calls.Write("shared-out.txt", line))
            record.sharedWrites.push_back(line);

        std::string read = calls.Next("shared-in.txt");
        if (!read.empty())
            record.linesRead.push_back(read);
        calls.Bool("HasNextLine", "shared-in.txt");

        EXPECT_TRUE(calls.Bool("IsLoaded", "shared-out.txt"));
        EXPECT_TRUE(calls.Bool("IsGood", "shared-in.txt"));
        EXPECT_TRUE(calls.Bool("IsReadOnly", "shared-in.txt"));
        EXPECT_TRUE(calls.Bool("IsWriteOnly", own));
        EXPECT_TRUE(calls.Bool("ExistsFile", own));

        switch (round % 4) {
        case 0:
            calls.Load("churn.txt", false, true, 2);
            break;
        case 1:
        case 2:
            if (calls.Write("churn.txt", line))
                record.churnWrites.push_back(line);
            break;
        case 3:
            calls.Bool("CloseFile", "churn.txt");
            break;
        }

        // A file deleted under its readers and made again: what they are
        // handed is its line or nothing.
        std::string fleeting = calls.Next("fleeting.txt");
        EXPECT_TRUE(fleeting.empty() || fleeting == "fleeting") << fleeting;
        if (round % 8 == 2)
            calls.Load("fleeting.txt", true, false, 2);
        if (round % 8 == 6) {
            calls.Bool("DeleteAnyFile", "fleeting.txt");
            if (calls.Load("fleeting.txt", false, false, 2)) {
                for (int i = 0; i < 3; ++i)
                    calls.Write("fleeting.txt", "fleeting");
                calls.Bool("CloseFile", "fleeting.txt");
            }
        }

        if (round % 50 == 0) {
            std::string doomed = "doomed-" + line + ".txt";
            EXPECT_TRUE(calls.Load(doomed, false, false, 1));
            EXPECT_TRUE(calls.Write(doomed, line));
            EXPECT_TRUE(calls.Bool("DeleteAnyFile", doomed));
            EXPECT_FALSE(calls.Bool("ExistsFile", doomed));
        }
    }
    EXPECT_TRUE(calls.Bool("CloseFile", own));
}

std::map<std::string, int> Count(const Lines& lines)
{
    std::map<std::string, int> counts;
    for (const std::string& line : lines)
        ++counts[line];
    return counts;
}

// The lines of a file that thread id wrote ("id-round"), in file order.
Lines WrittenBy(const Lines& file, int id)
{
    std::string prefix = std::to_string(id) + "-";
    Lines lines;
    for (const std::string& line : file) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
    }
    return lines;
}

// Whether a thread was handed the shared input's lines in file order.
bool InFileOrder(const Lines& read)
{
    for (size_t i = 1; i < read.size(); ++i) {
        if (std::stoi(read[i].substr(6)) <= std::stoi(read[i - 1].substr(6)))
            return false;
    }
    return true;
}

// Every line answered true reaches its file exactly once, every line of a
// shared input is handed out exactly once, and nothing crashes or races.
// Had the calls been made one at a time in some order, each thread would
// find its own lines in each shared file in the order it wrote them, and be
// handed the input's lines in file order: so must it now.
void RunAllThreads(Calls& calls, int rounds = kRounds)
{
    Lines input;
    for (int i = 0; i < kSharedInputLines; ++i)
        input.push_back("input " + std::to_string(i));
    std::string bytes;
    for (const std::string& line : input)
        bytes += line + "\r\n";
    lftest::WriteBytes("shared-in.txt", bytes);
    lftest::WriteBytes("fleeting.txt", "fleeting\r\n");

    ASSERT_TRUE(calls.Load("shared-out.txt", false, false, 7));
    ASSERT_TRUE(calls.Load("shared-in.txt", true, false, 5));

    std::vector<ThreadRecord> records(kThreads);
    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; ++id)
        threads.emplace_back(RunThread, std::ref(calls), id, rounds, std::ref(records[id]));
    for (std::thread& thread : threads)
        thread.join();

    ASSERT_TRUE(calls.Bool("CloseFile", "shared-out.txt"));
    calls.Bool("CloseFile", "churn.txt");
    calls.Bool("CloseFile", "fleeting.txt");
    while (calls.Bool("HasNextLine", "shared-in.txt"))
        records[0].linesRead.push_back(calls.Next("shared-in.txt"));
    EXPECT_TRUE(calls.Bool("CloseFile", "shared-in.txt"));
    std::cout << kThreads << " threads made " << calls.count << " calls\n";

    Lines sharedFile = FileLines("shared-out.txt"), churnFile = FileLines("churn.txt");
    Lines sharedWritten, churnWritten, read;
    for (int id = 0; id < kThreads; ++id) {
        Lines own;
        for (int round = 0; round < rounds; ++round)
            own.push_back(std::to_string(id) + "-" + std::to_string(round));
        EXPECT_EQ(FileLines("own-" + std::to_string(id) + ".txt"), own) << "thread " << id;

        const ThreadRecord& record = records[id];
        EXPECT_EQ(record.sharedWrites.size(), static_cast<size_t>(rounds));
        EXPECT_EQ(WrittenBy(sharedFile, id), record.sharedWrites) << "thread " << id;
        EXPECT_EQ(WrittenBy(churnFile, id), record.churnWrites) << "thread " << id;
        EXPECT_TRUE(InFileOrder(record.linesRead)) << "thread " << id;
        sharedWritten.insert(sharedWritten.end(), record.sharedWrites.begin(), record.sharedWrites.end());
        churnWritten.insert(churnWritten.end(), record.churnWrites.begin(), record.churnWrites.end());
        read.insert(read.end(), record.linesRead.begin(), record.linesRead.end());
    }
    EXPECT_EQ(Count(sharedFile), Count(sharedWritten));
    EXPECT_EQ(Count(churnFile), Count(churnWritten));
    EXPECT_FALSE(churnWritten.empty());
    EXPECT_EQ(Count(read), Count(input));
}

using ConcurrentCallsTest = lftest::ScriptTest;

// The plugin started on the stand-in host, with the game's main thread
// modelled: a thread of the test ticks whenever a call waits for a frame.
class FramedHost {
public:
    FramedHost()
    {
        PluginInfoRecord info{};
        EXPECT_TRUE(host.Query(info));
        host.Load();
        host.Register();
        host.UseMainThread(&main);
        ticking = std::thread([this] {
            while (main.AwaitCalls())
                main.Tick();
        });
    }
    ~FramedHost()
    {
        main.Stop();
        ticking.join();
    }
    standin::Host host;
    standin::MainThread main;

private:
    std::thread ticking;
};

// Holds the disk work of one file: the first thread to read or write it
// stops inside that work until Release; the others pass.
class DiskWorkHold {
public:
    explicit DiskWorkHold(const FileIdentity& file) : file(file)
    {
        current = this;
        textmode::beforeDiskWork = Hook;
    }
    // Only once no thread reads or writes any more.
    ~DiskWorkHold()
    {
        Release();
        textmode::beforeDiskWork = nullptr;
        current = nullptr;
    }
    // Whether a thread is held; a generous bound fails the test rather than hang it.
    bool AwaitHeld() { return entered.get_future().wait_for(std::chrono::minutes(1)) == std::future_status::ready; }
    void Release()
    {
        if (!released.exchange(true))
            release.set_value();
    }

private:
    static void Hook(const FileIdentity& identity)
    {
        if (identity == current->file && !current->holding.exchange(true)) {
            current->entered.set_value();
            current->waiting.wait();
        }
    }

    static DiskWorkHold* current;
    FileIdentity file;
    std::promise<void> entered, release;
    std::shared_future<void> waiting = release.get_future().share();
    std::atomic<bool> holding{false}, released{false};
};
DiskWorkHold* DiskWorkHold::current = nullptr;

// Sets a seam of the table or of the streams for the life of the scope.
template <class Hook>
class Seam {
public:
    Seam(Hook& seam, Hook hook) : seam(seam) { seam = hook; }
    ~Seam() { seam = nullptr; }
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

private:
    Hook& seam;
};

// Whether this is the first time a seam asks; the seams' calls come on one
// thread at a time here.
std::atomic<bool> fired{false};
bool FirstTime() { return !fired.exchange(true); }

}  // namespace

// Each test below puts a second call at one point of a first one through a
// seam, on the same thread or on another that the test orders by promises:
// no clock decides what happens.

// A load that found no entry under its key may meet another load of the same
// key before it adds its own: it takes that one's outcome, and the file is
// loaded once.
TEST_F(ConcurrentCallsTest, ALoadMeetingAnotherOfItsKeyTakesItsOutcome)
{
    lftest::WriteBytes("a.txt", "a\r\n");
    fired = false;
    lftest::LogCapture log;
    {
        Seam<decltype(tableseams::beforeAdding)> seam(tableseams::beforeAdding, [](const std::string& key) {
            if (FirstTime()) {
                EXPECT_TRUE(LoadFile(nullptr, H(key), true, false, 1));
            }
        });
        EXPECT_TRUE(LoadFile(nullptr, H("a.txt"), true, false, 1));
    }
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'a.txt'...", "  File successfully loaded."}));
    EXPECT_EQ(TheOpenFileTable().Size(), 1u);
}

// A call that found a file which another call then closed (or the unload
// closed) finds it gone once it has the file's lock: a load then loads the
// path afresh, in its own mode.
TEST_F(ConcurrentCallsTest, ACallFindingAFileClosedMeanwhileFindsItGone)
{
    static bool unload;
    for (bool closedByUnload : {false, true}) {
        unload = closedByUnload;
        fired = false;
        ASSERT_TRUE(LoadFile(nullptr, H("a.txt"), false, false, 1));
        {
            Seam<decltype(tableseams::beforeWaiting)> seam(tableseams::beforeWaiting, [](const std::string& key) {
                if (!FirstTime())
                    return;
                if (unload)
                    TheOpenFileTable().CloseForUnload();
                else
                    EXPECT_TRUE(CloseFile(nullptr, H(key)));
            });
            EXPECT_TRUE(LoadFile(nullptr, H("a.txt"), true, false, 1)) << "closed by unload: " << closedByUnload;
        }
        EXPECT_TRUE(IsReadOnly(nullptr, H("a.txt"))) << "closed by unload: " << closedByUnload;
        EXPECT_TRUE(CloseFile(nullptr, H("a.txt")));
    }
}

// A load that waited for another load of its key which then failed loads the
// path itself.
TEST_F(ConcurrentCallsTest, ALoadWaitingForOneThatFailsLoadsItself)
{
    lftest::WriteBytes("a.txt", "old\r\n");
    static std::promise<void>* found;
    static std::shared_future<void> foundYet;
    static std::thread* second;
    static std::atomic<bool> started, signalled;
    std::promise<void> promise;
    std::thread thread;
    found = &promise;
    foundYet = promise.get_future().share();
    second = &thread;
    started = signalled = false;
    {
        // Once the first load has entered its file, the second starts, finds
        // the first's entry and waits for it; the first then fails inside
        // its emptying.
        Seam<decltype(tableseams::beforeRegistering)> start(tableseams::beforeRegistering, [](const FileIdentity&) {
            if (!started.exchange(true))
                *second = std::thread([] { EXPECT_TRUE(LoadFile(nullptr, H("a.txt"), false, true, 1)); });
        });
        Seam<decltype(tableseams::beforeWaiting)> waits(tableseams::beforeWaiting, [](const std::string&) {
            if (!signalled.exchange(true))
                found->set_value();
        });
        Seam<decltype(textmode::beforeDiskWork)> emptying(textmode::beforeDiskWork, [](const FileIdentity&) {
            EXPECT_EQ(foundYet.wait_for(std::chrono::minutes(1)), std::future_status::ready);
            throw std::runtime_error("no room");
        });
        EXPECT_FALSE(LoadFile(nullptr, H("a.txt"), false, false, 1));
        thread.join();
    }
    EXPECT_TRUE(WriteLine(nullptr, H("a.txt"), H("new")));
    EXPECT_TRUE(CloseFile(nullptr, H("a.txt")));
    EXPECT_EQ(FileLines("a.txt"), (Lines{"old", "new"}));
}

// A load that fails after it created its file removes the file again, but
// not when it is refused because another key took the file meanwhile: that
// key's lines are in it.
TEST_F(ConcurrentCallsTest, AFailedLoadRemovesTheFileItMadeButNotAnotherKeys)
{
    {
        Seam<decltype(textmode::beforeDiskWork)> emptying(textmode::beforeDiskWork, [](const FileIdentity&) {
            throw std::runtime_error("no room");
        });
        lftest::LogCapture log;
        EXPECT_FALSE(LoadFile(nullptr, H("new.txt"), false, false, 1));
        EXPECT_EQ(log.Lines(), (Lines{"Loading file 'new.txt'...", "  Error reading or creating file:", "  no room", ""}));
    }
    EXPECT_FALSE(lftest::fs::exists("new.txt"));

    fired = false;
    {
        Seam<decltype(tableseams::beforeRegistering)> second(tableseams::beforeRegistering, [](const FileIdentity&) {
            if (FirstTime()) {
                EXPECT_TRUE(LoadFile(nullptr, H("./new.txt"), false, true, 1));
                EXPECT_TRUE(WriteLine(nullptr, H("./new.txt"), H("kept")));
            }
        });
        lftest::LogCapture log;
        EXPECT_FALSE(LoadFile(nullptr, H("new.txt"), false, true, 1));
        EXPECT_EQ(log.Lines().back(), "  File already loaded as './new.txt'! Aborting load.");
    }
    EXPECT_TRUE(CloseFile(nullptr, H("./new.txt")));
    EXPECT_EQ(lftest::ReadBytes("new.txt"), "kept\r\n");
}

// DeleteAnyFile keeps its file registered until the file is gone: a load for
// writing under another key is refused up to the delete, and one that opened
// the file before the delete but enters it after finds it deleted and opens
// the path anew. Either way its lines reach a file.
TEST_F(ConcurrentCallsTest, NoLoadUnderAnotherKeyWritesAFileADeleteRemoves)
{
    lftest::WriteBytes("a.txt", "old\r\n");
    fired = false;
    {
        Seam<decltype(textmode::beforeDiskWork)> removing(textmode::beforeDiskWork, [](const FileIdentity&) {
            if (FirstTime()) {
                EXPECT_FALSE(LoadFile(nullptr, H("./a.txt"), false, true, 1));
            }
        });
        EXPECT_TRUE(DeleteAnyFile(nullptr, H("a.txt")));
    }
    EXPECT_FALSE(lftest::fs::exists("a.txt"));
    EXPECT_FALSE(CloseFile(nullptr, H("./a.txt"))) << "loaded for writing while the delete went on";

    lftest::WriteBytes("a.txt", "old\r\n");
    static std::promise<void>* opened;
    static std::shared_future<void> openedYet, deletedYet;
    static std::thread* second;
    std::promise<void> openedPromise, deletedPromise;
    std::thread thread;
    opened = &openedPromise;
    openedYet = openedPromise.get_future().share();
    deletedYet = deletedPromise.get_future().share();
    second = &thread;
    fired = false;
    {
        // In the delete, before the file goes: the second load opens the
        // file, and enters it only once the delete is over.
        Seam<decltype(textmode::beforeDiskWork)> removing(textmode::beforeDiskWork, [](const FileIdentity&) {
            if (!FirstTime())
                return;
            tableseams::beforeRegistering = [](const FileIdentity&) {
                if (opened) {
                    std::exchange(opened, nullptr)->set_value();
                    EXPECT_EQ(deletedYet.wait_for(std::chrono::minutes(1)), std::future_status::ready);
                }
            };
            *second = std::thread([] {
                EXPECT_TRUE(LoadFile(nullptr, H("./a.txt"), false, true, 1));
                EXPECT_TRUE(WriteLine(nullptr, H("./a.txt"), H("x")));
                EXPECT_TRUE(CloseFile(nullptr, H("./a.txt")));
            });
            // A bound that fails the test rather than hang it.
            EXPECT_EQ(openedYet.wait_for(std::chrono::minutes(1)), std::future_status::ready);
        });
        DeleteAnyFile(nullptr, H("a.txt"));
        deletedPromise.set_value();
        thread.join();
        tableseams::beforeRegistering = nullptr;
    }
    Lines lines = FileLines("a.txt");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "x");
}

// The file a delete removed keeps its number until the delete's entry is
// gone: a file made meanwhile, which may get the number just freed (ext4
// gives it at once), is not taken for a second spelling of the deleted one.
TEST_F(ConcurrentCallsTest, AFileMadeAsADeleteEndsIsAFileOfItsOwn)
{
    lftest::WriteBytes("a.txt", "old\r\n");
    fired = false;
    {
        Seam<decltype(tableseams::beforeRemoving)> ending(tableseams::beforeRemoving, [](const std::string&) {
            if (FirstTime()) {
                lftest::WriteBytes("b.txt", "");
                EXPECT_TRUE(LoadFile(nullptr, H("b.txt"), false, true, 1));
            }
        });
        EXPECT_TRUE(DeleteAnyFile(nullptr, H("a.txt")));
    }
    EXPECT_TRUE(CloseFile(nullptr, H("b.txt")));
}

// While a thread is inside one file's refill, flush or emptying (in its load
// for writing), calls on other files (a read, a write that flushes, a load
// and a close) and ExistsFile on that file itself complete; a load of the
// same key waits for the outcome of the load under way.
TEST_F(ConcurrentCallsTest, OneFilesDiskWorkStallsNoCallOnAnother)
{
    lftest::WriteBytes("a.txt", "a1\r\na2\r\n");
    lftest::WriteBytes("b.txt", "b1\r\n");
    ASSERT_TRUE(LoadFile(nullptr, H("a.txt"), true, false, 10));
    ASSERT_TRUE(LoadFile(nullptr, H("a-out.txt"), false, false, 1));
    const Lines held = {"refill", "flush", "emptying"}, linesOfA = {"a1", "a2", ""};
    const std::vector<Lines> linesOfB = {{"b1"}, {"b1", "b2"}, {}};
    for (size_t i = 0; i < held.size(); ++i) {
        SCOPED_TRACE("B's " + held[i] + " held");
        ASSERT_TRUE(LoadFile(nullptr, H("b.txt"), i == 0, false, 1));
        DiskWorkHold hold(TheOpenFileTable().Find("b.txt")->file.identity);
        // Writing, the window of one is full: the next line flushes it.
        ASSERT_TRUE(i != 1 || WriteLine(nullptr, H("b.txt"), H("b1")));
        ASSERT_TRUE(i != 2 || CloseFile(nullptr, H("b.txt")));
        std::thread onB([i] {
            EXPECT_TRUE(i == 0 ? HasNextLine(nullptr, H("b.txt"))
                               : i == 1 ? WriteLine(nullptr, H("b.txt"), H("b2"))
                                        : LoadFile(nullptr, H("b.txt"), false, false, 1));
        });
        ASSERT_TRUE(hold.AwaitHeld());
        std::thread sameKey;
        if (i == 2)
            sameKey = std::thread([] { EXPECT_TRUE(LoadFile(nullptr, H("b.txt"), true, false, 1)); });
        auto others = std::async(std::launch::async, [&] {
            std::string wrong;
            auto expect = [&wrong](bool answer, const char* call) { wrong += answer ? "" : call; };
            expect(IsLoaded(nullptr, H("a.txt")), " IsLoaded(a)");
            expect(lftest::Next("a.txt") == linesOfA[i], " NextLine(a)");
            expect(WriteLine(nullptr, H("a-out.txt"), H(held[i])), " WriteLine(a-out)");
            expect(LoadFile(nullptr, H("c.txt"), false, false, 1), " LoadFile(c)");
            expect(CloseFile(nullptr, H("c.txt")), " CloseFile(c)");
            expect(ExistsFile(nullptr, H("b.txt")), " ExistsFile(b)");
            return wrong;
        });
        bool completed = others.wait_for(std::chrono::minutes(1)) == std::future_status::ready;
        hold.Release();
        onB.join();
        if (sameKey.joinable())
            sameKey.join();
        EXPECT_TRUE(completed) << "a call waited for another file's disk work";
        EXPECT_EQ(others.get(), "");
        EXPECT_TRUE(i != 2 || IsWriteOnly(nullptr, H("b.txt"))) << "the first load's mode";
        EXPECT_TRUE(CloseFile(nullptr, H("b.txt")));
        EXPECT_EQ(FileLines("b.txt"), linesOfB[i]);
    }
    EXPECT_TRUE(CloseFile(nullptr, H("a-out.txt")));
    EXPECT_EQ(FileLines("a-out.txt"), held);
}

TEST_F(ConcurrentCallsTest, AllElevenFunctionsFromSeveralThreads)
{
    DirectCalls calls;
    RunAllThreads(calls);
}

// As in the game: the plugin lets every call run at once, so the script
// threads call it concurrently and the main thread makes none of them. Every
// text the calls handed over or got back has been given back at the end.
TEST_F(ConcurrentCallsTest, AllElevenFunctionObjectsFromSeveralThreads)
{
    FramedHost framed;
    standin::StringCounts strings = standin::Strings();
    ObjectCalls calls(framed.host);
    RunAllThreads(calls);
    EXPECT_EQ(framed.main.Totals().callsServed, 0u);
    EXPECT_EQ(standin::Strings(), strings);
}

// Kept on the main thread, every call waits for a frame and is made there,
// and the results are the same.
TEST_F(ConcurrentCallsTest, FrameBoundFunctionObjectsFromSeveralThreads)
{
    FramedHost framed;
    framed.host.KeepOnMainThread();
    standin::StringCounts strings = standin::Strings();
    ObjectCalls calls(framed.host);
    RunAllThreads(calls, kRounds / 5);
    EXPECT_EQ(framed.main.Totals().callsServed, static_cast<uint64_t>(calls.count));
    EXPECT_EQ(standin::Strings(), strings);
}

// A frame-bound call is made only when the main thread's next frame comes,
// on that thread; one the function lets run at once needs no frame.
TEST_F(ConcurrentCallsTest, AFrameBoundCallWaitsForTheNextFrameAndIsMadeInIt)
{
    standin::Host host;
    PluginInfoRecord info{};
    ASSERT_TRUE(host.Query(info));
    host.Load();
    host.Register();
    standin::MainThread main;
    host.UseMainThread(&main);
    ASSERT_TRUE(host.Call("LoadFile", {standin::StringValue("a.txt"), standin::BoolValue(false),
                                       standin::BoolValue(false), standin::IntValue(1)})
                    .data.boolean);
    EXPECT_EQ(main.Totals().callsServed, 0u);

    host.KeepOnMainThread();
    for (IFunction* function : host.Registered())
        EXPECT_FALSE(standin::Host::RunsAtOnce(function));
    bool closed = false;
    std::thread script([&] { closed = host.Call("CloseFile", {standin::StringValue("a.txt")}).data.boolean; });
    ASSERT_TRUE(main.AwaitCalls(1));
    EXPECT_TRUE(IsLoaded(nullptr, H("a.txt"))) << "made before its frame";
    EXPECT_EQ(main.Tick(), 1u);
    EXPECT_FALSE(IsLoaded(nullptr, H("a.txt"))) << "not made in the frame, on the ticking thread";
    script.join();
    EXPECT_TRUE(closed);
    EXPECT_EQ(main.Tick(), 0u);
    EXPECT_EQ(main.Totals().frames, 2u);
    EXPECT_EQ(main.Totals().callsServed, 1u);

    // Once the main thread has stopped, a call waiting for a frame and one
    // handed over later fail; neither waits for ever.
    auto isLoaded = [&host] { host.Call("IsLoaded", {standin::StringValue("a.txt")}); };
    std::thread waiting([&] { EXPECT_THROW(isLoaded(), std::runtime_error); });
    ASSERT_TRUE(main.AwaitCalls(1));
    main.Stop();
    waiting.join();
    EXPECT_THROW(isLoaded(), std::runtime_error);
    EXPECT_FALSE(main.AwaitCalls(1));
    EXPECT_EQ(main.Totals().callsServed, 1u);
}
