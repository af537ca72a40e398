#include "support/TestSupport.h"

#include "functions/ScriptFunctions.h"

#include <algorithm>
#include <map>
#include <thread>

using lftest::FileLines;
using lftest::H;
using Lines = std::vector<std::string>;

namespace {

using ConcurrentCallsTest = lftest::ScriptTest;

constexpr int kThreads = 6;
constexpr int kRounds = 1500;
constexpr int kSharedInputLines = 4000;

struct ThreadRecord {
    Lines sharedWrites;  // lines WriteLine answered true for, in order
    Lines churnWrites;
    Lines linesRead;
};

// One thread's calls: its own file, a shared file written by all, a shared
// file read by all, a file loaded and closed by all in turns, and deletions.
void RunThread(int id, ThreadRecord& record)
{
    std::string own = "own-" + std::to_string(id) + ".txt";
    EXPECT_TRUE(LoadFile(nullptr, H(own), false, false, 3 * (id + 1)));
    for (int round = 0; round < kRounds; ++round) {
        std::string line = std::to_string(id) + "-" + std::to_string(round);
        EXPECT_TRUE(WriteLine(nullptr, H(own), H(line)));

        if (WriteLine(nullptr, H("shared-out.txt"), H(line)))
            record.sharedWrites.push_back(line);

        std::string read = TextOf(NextLine(nullptr, H("shared-in.txt")));
        if (!read.empty())
            record.linesRead.push_back(read);
        HasNextLine(nullptr, H("shared-in.txt"));

        EXPECT_TRUE(IsLoaded(nullptr, H("shared-out.txt")));
        EXPECT_TRUE(IsGood(nullptr, H("shared-in.txt")));
        EXPECT_TRUE(IsReadOnly(nullptr, H("shared-in.txt")));
        EXPECT_TRUE(IsWriteOnly(nullptr, H(own)));
        EXPECT_TRUE(ExistsFile(nullptr, H(own)));

        switch (round % 4) {
        case 0:
            LoadFile(nullptr, H("churn.txt"), false, true, 2);
            break;
        case 1:
        case 2:
            if (WriteLine(nullptr, H("churn.txt"), H(line)))
                record.churnWrites.push_back(line);
            break;
        case 3:
            CloseFile(nullptr, H("churn.txt"));
            break;
        }

        if (round % 50 == 0) {
            std::string doomed = "doomed-" + line + ".txt";
            EXPECT_TRUE(LoadFile(nullptr, H(doomed), false, false, 1));
            EXPECT_TRUE(WriteLine(nullptr, H(doomed), H(line)));
            EXPECT_TRUE(DeleteAnyFile(nullptr, H(doomed)));
            EXPECT_FALSE(ExistsFile(nullptr, H(doomed)));
        }
    }
    EXPECT_TRUE(CloseFile(nullptr, H(own)));
}

std::map<std::string, int> Count(const Lines& lines)
{
    std::map<std::string, int> counts;
    for (const std::string& line : lines)
        ++counts[line];
    return counts;
}

}  // namespace

// Every line answered true reaches its file exactly once, every line of a
// shared input is handed out exactly once, and nothing crashes or races.
TEST_F(ConcurrentCallsTest, AllElevenFunctionsFromSeveralThreads)
{
    Lines input;
    for (int i = 0; i < kSharedInputLines; ++i)
        input.push_back("input " + std::to_string(i));
    std::string bytes;
    for (const std::string& line : input)
        bytes += line + "\r\n";
    lftest::WriteBytes("shared-in.txt", bytes);

    ASSERT_TRUE(LoadFile(nullptr, H("shared-out.txt"), false, false, 7));
    ASSERT_TRUE(LoadFile(nullptr, H("shared-in.txt"), true, false, 5));

    std::vector<ThreadRecord> records(kThreads);
    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; ++id)
        threads.emplace_back(RunThread, id, std::ref(records[id]));
    for (std::thread& thread : threads)
        thread.join();

    ASSERT_TRUE(CloseFile(nullptr, H("shared-out.txt")));
    CloseFile(nullptr, H("churn.txt"));
    while (HasNextLine(nullptr, H("shared-in.txt")))
        records[0].linesRead.push_back(TextOf(NextLine(nullptr, H("shared-in.txt"))));

    Lines sharedWritten, churnWritten, read;
    for (int id = 0; id < kThreads; ++id) {
        Lines own;
        for (int round = 0; round < kRounds; ++round)
            own.push_back(std::to_string(id) + "-" + std::to_string(round));
        EXPECT_EQ(FileLines("own-" + std::to_string(id) + ".txt"), own) << "thread " << id;

        const ThreadRecord& record = records[id];
        EXPECT_EQ(record.sharedWrites.size(), static_cast<size_t>(kRounds));
        sharedWritten.insert(sharedWritten.end(), record.sharedWrites.begin(), record.sharedWrites.end());
        churnWritten.insert(churnWritten.end(), record.churnWrites.begin(), record.churnWrites.end());
        read.insert(read.end(), record.linesRead.begin(), record.linesRead.end());
    }
    EXPECT_EQ(Count(FileLines("shared-out.txt")), Count(sharedWritten));
    EXPECT_EQ(Count(FileLines("churn.txt")), Count(churnWritten));
    EXPECT_FALSE(churnWritten.empty());
    EXPECT_EQ(Count(read), Count(input));
}
