#include "support/TestSupport.h"

#include "common/IDebugLog.h"

#include <set>
#include <thread>

using lftest::LogCapture;

namespace {

// Every test leaves the log as the plugin has it after its start.
class DebugLogTest : public ::testing::Test {
protected:
    void TearDown() override { lftest::OpenStandardLog(); }
};

std::string CapturedStdout()
{
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace

TEST_F(DebugLogTest, MessagesAreLinesEndingInCrLfAndLevelsPickTheirOutputs)
{
    LogCapture log;
    ::testing::internal::CaptureStdout();
    LogMessage("first %d", 1);
    LogMessage("  %s\n", "ends in a line feed");
    LogFailure("failure %s", "report");
    std::string console = CapturedStdout();

    EXPECT_EQ(log.Bytes(), "first 1\r\n  ends in a line feed\r\n\r\nfailure report\r\n");
    // Ordinary messages go to the file only; failure reports to both.
    EXPECT_EQ(console, "failure report\n");
}

TEST_F(DebugLogTest, ThresholdsDecideWhatIsWrittenWhere)
{
    LogCapture log;
    IDebugLog::SetConsoleThreshold(3);
    IDebugLog::SetFileThreshold(2);
    ::testing::internal::CaptureStdout();
    LogMessage("console only");
    IDebugLog::SetConsoleThreshold(-1);
    IDebugLog::SetFileThreshold(-1);
    LogFailure("nowhere");
    std::string console = CapturedStdout();

    EXPECT_EQ(console, "console only\n");
    EXPECT_EQ(log.Bytes(), "");
}

TEST_F(DebugLogTest, LongMessageIsWrittenWhole)
{
    LogCapture log;
    std::string path(20000, 'p');
    path += "/end.txt";
    LogMessage("Loading file '%s'...", path.c_str());
    EXPECT_EQ(log.Bytes(), "Loading file '" + path + "'...\r\n");
}

TEST_F(DebugLogTest, AssertionReportsUseTheShortFormOnlyWhenTheUpperHalfIsZero)
{
    LogCapture log;
    IDebugLog::ReportAssertion("common/IDebugLog", 64, "SUCCEEDED(err)", 5);
    IDebugLog::ReportAssertion("a.cpp", 7, "x", 0xFFFFFFFFLL);
    IDebugLog::ReportAssertion("a.cpp", 8, "y", static_cast<int32_t>(0x80004005));
    IDebugLog::ReportAssertion("a.cpp", 9, "z", 0x100000000LL);

    std::vector<std::string> expected = {
        "Assertion failed in common/IDebugLog (64): SUCCEEDED(err) (code = 00000005 (5))",
        "Assertion failed in a.cpp (7): x (code = FFFFFFFF (-1))",
        "Assertion failed in a.cpp (8): y (code = FFFFFFFF80004005 (-2147467259))",
        "Assertion failed in a.cpp (9): z (code =        100000000 (4294967296))",
    };
    EXPECT_EQ(log.Lines(), expected);
}

TEST_F(DebugLogTest, OpeningTruncatesTheEarlierLog)
{
    LogMessage("from an earlier start");
    lftest::OpenStandardLog();
    std::string path = IDebugLog::OpenPath();
    ASSERT_FALSE(path.empty());
    LogMessage("Linefold");
    EXPECT_EQ(lftest::ReadBytes(path), "Linefold\r\n");
}

TEST_F(DebugLogTest, FailedFolderLookupIsReportedAndLeavesTheLogClosed)
{
    ::testing::internal::CaptureStdout();
    IDebugLog::OpenInFolder(0x7F, "\\My Games\\Skyrim\\SKSE\\Linefold.log");
    LogMessage("goes nowhere");
    std::string console = CapturedStdout();

    EXPECT_EQ(IDebugLog::OpenPath(), "");
    EXPECT_EQ(console.rfind("SHGetFolderPath 0000007F failed (result = 8", 0), 0u) << console;
    EXPECT_NE(console.find("\nAssertion failed in common/IDebugLog (64): SUCCEEDED(err) (code = FFFFFFFF8"),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find("goes nowhere"), std::string::npos);
}

TEST_F(DebugLogTest, ConcurrentMessagesNeitherMixNorGetLost)
{
    LogCapture log;
    constexpr int kThreads = 8;
    constexpr int kMessages = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string padding(100 + 37 * t, static_cast<char>('a' + t));
            for (int m = 0; m < kMessages; ++m)
                LogMessage("thread %d message %d %s", t, m, padding.c_str());
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::set<std::string> expected;
    for (int t = 0; t < kThreads; ++t) {
        std::string padding(100 + 37 * t, static_cast<char>('a' + t));
        for (int m = 0; m < kMessages; ++m)
            expected.insert("thread " + std::to_string(t) + " message " + std::to_string(m) + " " + padding);
    }
    std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
}

#if !defined(_WIN32)
TEST_F(DebugLogTest, LogGoesUnderHomeDocumentsWithMissingFoldersCreated)
{
    std::string home = (lftest::ProcessRoot() / "other-home").string();
    std::string saved = std::getenv("HOME");
    setenv("HOME", home.c_str(), 1);
    lftest::OpenStandardLog();
    setenv("HOME", saved.c_str(), 1);
    EXPECT_EQ(IDebugLog::OpenPath(), home + "/Documents/My Games/Skyrim/SKSE/Linefold.log");
}

TEST_F(DebugLogTest, DocumentsFolderLongerThanMaxPathStillGetsItsLog)
{
    std::string home = (lftest::ProcessRoot() / std::string(120, 'h') / std::string(120, 'i')).string();
    std::string saved = std::getenv("HOME");
    setenv("HOME", home.c_str(), 1);
    lftest::OpenStandardLog();
    setenv("HOME", saved.c_str(), 1);
    std::string path = IDebugLog::OpenPath();
    EXPECT_GT(path.size(), 260u);
    LogMessage("written");
    EXPECT_EQ(lftest::ReadBytes(path), "written\r\n");
}
#endif

#if defined(_WIN32)
#include <share.h>

// Another program holding the log open for writing pushes it to the next
// name, up to Linefold.log4; with all six held the log stays closed.
TEST_F(DebugLogTest, LogFallsBackToNumberedNamesWhileHeldElsewhere)
{
    lftest::OpenStandardLog();
    std::string base = IDebugLog::OpenPath();
    ASSERT_FALSE(base.empty());
    ASSERT_EQ(base.substr(base.size() - 13), "\\Linefold.log") << "another test program holds the log";
    IDebugLog::OpenInFolder(0x7F, "");  // lets go of it

    std::vector<FILE*> held;
    std::vector<std::string> names = {base};
    for (int i = 0; i <= 4; ++i)
        names.push_back(base + std::to_string(i));
    for (size_t i = 0; i < names.size(); ++i) {
        FILE* holder = _fsopen(names[i].c_str(), "w", _SH_DENYWR);
        ASSERT_NE(holder, nullptr) << names[i];
        held.push_back(holder);
        lftest::OpenStandardLog();
        std::string expected = i + 1 < names.size() ? names[i + 1] : "";
        EXPECT_EQ(IDebugLog::OpenPath(), expected);
        IDebugLog::OpenInFolder(0x7F, "");
    }
    for (FILE* holder : held)
        std::fclose(holder);
}
#endif
