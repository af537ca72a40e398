#include "support/TestSupport.h"

#include "common/IDebugLog.h"
#include "plugin/PluginMain.h"
#include "plugin/RuntimeRoutines.h"
#include "standin/StandInHost.h"

using lftest::LogCapture;
using Lines = std::vector<std::string>;
using namespace standin;

namespace {

// Each test starts the plugin afresh: the query reopens (truncates) the log.
class EntryPointsTest : public ::testing::Test {
protected:
    Lines LogLines() { return lftest::FileLines(IDebugLog::OpenPath()); }
    std::string CapturedStdout()
    {
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }
    Host host;
    PluginInfoRecord info{};
};

const Lines kRegistrationOrder = {"ExistsFile", "LoadFile",    "CloseFile",   "DeleteAnyFile",
                                  "IsLoaded",   "IsGood",      "IsReadOnly",  "IsWriteOnly",
                                  "HasNextLine", "NextLine",   "WriteLine"};

}  // namespace

TEST_F(EntryPointsTest, NormalStartRegistersTheElevenFunctionsAndLogsThreeLines)
{
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(host.Query(info));
    EXPECT_TRUE(host.Load());
    EXPECT_TRUE(host.Register());
    EXPECT_EQ(CapturedStdout(), "");

    EXPECT_EQ(LogLines(), (Lines{"Linefold", "Linefold loaded", "Register Succeeded"}));
    EXPECT_EQ(info.infoVersion, 1u);
    EXPECT_STREQ(info.name, "Linefold");
    EXPECT_EQ(info.version, 1u);
    EXPECT_EQ(host.HostQueryCalls(), 1);
    // No other: the plugin hears nothing of saves, loads or the main menu,
    // so loaded files outlive them (docs/scripting.md, "A game's life").
    EXPECT_EQ(host.QueriedInterfaces(), std::vector<uint32_t>{ScriptInterface::kInterfaceId});

    Lines names;
    for (IFunction* function : host.Registered()) {
        names.push_back(Host::NameOf(function));
        auto* object = static_cast<NativeFunction*>(function);
        EXPECT_STREQ(TextOf(object->handle2), "Linefold");
        EXPECT_EQ(object->hostFlagA, 1) << "registered as a global function";
        EXPECT_TRUE(Host::RunsAtOnce(function)) << names.back() << " would wait for the game's frame";
        bool isNextLine = names.back() == "NextLine";
        EXPECT_EQ(object->resultType, isNextLine ? ScriptValue::kString : ScriptValue::kBool);
        EXPECT_EQ(Host::ParameterCountOf(function),
                  names.back() == "WriteLine" ? 2 : names.back() == "LoadFile" ? 4 : 1);
    }
    EXPECT_EQ(names, kRegistrationOrder);
}

TEST_F(EntryPointsTest, EditorIsRefusedWhateverTheVersion)
{
    host.SetEditor(true);
    host.SetRuntimeVersion(0x01020304);
    EXPECT_FALSE(host.Query(info));
    EXPECT_EQ(LogLines(), (Lines{"Linefold", "loaded in editor, marking as incompatible"}));
    EXPECT_STREQ(info.name, "Linefold");
    EXPECT_EQ(info.version, 1u);
}

TEST_F(EntryPointsTest, OtherRuntimeVersionsAreRefused)
{
    host.SetRuntimeVersion(0x09200001);
    EXPECT_FALSE(host.Query(info));
    EXPECT_EQ(LogLines(), (Lines{"Linefold", "unsupported runtime version 09200001"}));
    EXPECT_EQ(info.infoVersion, 1u);
}

TEST_F(EntryPointsTest, RefusedRegistrationStillLoads)
{
    host.SetRegisterAnswer(false);
    EXPECT_TRUE(host.Query(info));
    EXPECT_TRUE(host.Load());
    EXPECT_EQ(LogLines(), (Lines{"Linefold", "Linefold loaded"}));
}

TEST_F(EntryPointsTest, MissingScriptInterfaceIsLoggedAndNothingRegistered)
{
    host.OfferScriptInterface(false);
    EXPECT_TRUE(host.Query(info));
    EXPECT_TRUE(host.Load());
    EXPECT_FALSE(host.HasCallback());
    EXPECT_EQ(LogLines(),
              (Lines{"Linefold", "Linefold loaded", "script interface 2 not available, functions not registered"}));
}

TEST_F(EntryPointsTest, ObjectWithoutHeapMemoryIsSkippedAndTheRestRegistered)
{
    EXPECT_TRUE(host.Query(info));
    EXPECT_TRUE(host.Load());
    LogCapture log;
    HeapCounts heap = Heap();
    FailAllocations(1);
    EXPECT_TRUE(host.Register());
    EXPECT_EQ(log.Lines(), Lines{"  No memory in the game heap for ExistsFile, not registered"});
    EXPECT_EQ(host.Registered().size(), 10u);
    EXPECT_EQ(host.Find("ExistsFile"), nullptr);
    EXPECT_NE(host.Find("LoadFile"), nullptr);
    EXPECT_EQ(Heap().live, heap.live + 10);
}

TEST_F(EntryPointsTest, HostConstructionErrorGoesBackToTheHostWithTheMemoryReturned)
{
    EXPECT_TRUE(host.Query(info));
    EXPECT_TRUE(host.Load());
    HeapCounts heap = Heap();
    FailNextConstruction();
    EXPECT_THROW(host.Register(), std::runtime_error);
    EXPECT_TRUE(host.Registered().empty());
    EXPECT_EQ(Heap().live, heap.live);
}

TEST_F(EntryPointsTest, TheGamesRoutineTableIsIncompleteAndTheStandInsComplete)
{
    EXPECT_FALSE(IsComplete(GameRuntime_09200000()));
    EXPECT_TRUE(IsComplete(ActiveRuntime()));
    RuntimeRoutines missingOne = ActiveRuntime();
    missingOne.valueReset = nullptr;
    EXPECT_FALSE(IsComplete(missingOne));
}
