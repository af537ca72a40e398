#include "plugin/PluginMain.h"

#include "common/IDebugLog.h"
#include "functions/ScriptFunctions.h"
#include "linefile/OwnFiles.h"
#include "plugin/NativeFunction.h"
#include "plugin/RoutineFile.h"
#include "plugin/RuntimeRoutines.h"

#include <exception>

namespace {

constexpr const char* kPluginName = "Linefold";
constexpr const char* kClassName = "Linefold";

using PathQuery = NativeFunction1<StaticFunctionTag, bool, StringCache::Ref>;
using LineQuery = NativeFunction1<StaticFunctionTag, StringCache::Ref, StringCache::Ref>;
using LineWrite = NativeFunction2<StaticFunctionTag, bool, StringCache::Ref, StringCache::Ref>;
using FileLoad = NativeFunction4<StaticFunctionTag, bool, StringCache::Ref, bool, bool, uint32_t>;

struct Registration {
    const char* name;
    size_t size;
    IFunction* (*construct)(void* memory, const char* name);
};

template <class Binding, typename Binding::Function function>
IFunction* Construct(void* memory, const char* name)
{
    return ConstructBinding<Binding>(memory, name, kClassName, function);
}

// In registration order.
const Registration kRegistrationTable[] = {
    {"ExistsFile", sizeof(PathQuery), Construct<PathQuery, ExistsFile>},
    {"LoadFile", sizeof(FileLoad), Construct<FileLoad, LoadFile>},
    {"CloseFile", sizeof(PathQuery), Construct<PathQuery, CloseFile>},
    {"DeleteAnyFile", sizeof(PathQuery), Construct<PathQuery, DeleteAnyFile>},
    {"IsLoaded", sizeof(PathQuery), Construct<PathQuery, IsLoaded>},
    {"IsGood", sizeof(PathQuery), Construct<PathQuery, IsGood>},
    {"IsReadOnly", sizeof(PathQuery), Construct<PathQuery, IsReadOnly>},
    {"IsWriteOnly", sizeof(PathQuery), Construct<PathQuery, IsWriteOnly>},
    {"HasNextLine", sizeof(PathQuery), Construct<PathQuery, HasNextLine>},
    {"NextLine", sizeof(LineQuery), Construct<LineQuery, NextLine>},
    {"WriteLine", sizeof(LineWrite), Construct<LineWrite, WriteLine>},
};

// Scripts may read, but never write or delete, the debug log under any of its
// names and the routine file, whose addresses the next start would call
// (OwnFiles.h says how). Taken before the routine file is read, so that the
// file read is the file held.
void ProtectOwnFiles()
{
    std::vector<NativePathString> inUse, notInUse;
    NativePathString routineFile;
    if (FindRoutineFileBesidePlugin(kSupportedRuntime, routineFile))
        inUse.push_back(routineFile);
    const std::string logInUse = IDebugLog::OpenPath();
    for (const std::string& name : IDebugLog::FilePaths()) {
        FilePath log;
        if (FilePath::FromScript(name, log))
            (name == logInUse ? inUse : notInUse).push_back(log.Native());
    }
    SetOwnFiles(inUse, notInUse);
}

// A game refused runs no script of ours: the files are let go, so that the
// player may mend the routine file while the game runs.
bool Refuse()
{
    SetOwnFiles({});
    return false;
}

void LogCaughtError(const char* where, const char* what)
{
    LogMessage("  Error in %s: %s", where, what);
}

}  // namespace

extern "C" bool SKSEPlugin_Query(const HostLoadInterface* host, PluginInfoRecord* info)
{
    try {
        IDebugLog::OpenInFolder(5, "\\My Games\\Skyrim\\SKSE\\Linefold.log");
        IDebugLog::SetConsoleThreshold(1);
        IDebugLog::SetFileThreshold(5);
        LogMessage("%s", kPluginName);
        ProtectOwnFiles();

        info->infoVersion = 1;
        info->name = kPluginName;
        info->version = 1;

        if (host->HostQuery)
            host->HostQuery();

        if (host->isEditor != 0) {
            LogMessage("loaded in editor, marking as incompatible");
            return Refuse();
        }
        if (host->runtimeVersion != kSupportedRuntime) {
            LogMessage("unsupported runtime version %08X", host->runtimeVersion);
            return Refuse();
        }
        // Until every routine of the runtime is known, a script call could
        // jump to a missing one: refuse rather than crash the game later.
        RuntimeReadiness runtime = PrepareActiveRuntime();
        if (!runtime.ready) {
            LogMessage("routine table for runtime %08X is incomplete, marking as incompatible",
                       kSupportedRuntime);
            if (!runtime.problem.empty())
                LogMessage("  %s", runtime.problem.c_str());
            return Refuse();
        }
        if (!runtime.source.empty())
            LogMessage("routine table for runtime %08X read from %s", kSupportedRuntime,
                       runtime.source.c_str());
        return true;
    } catch (const std::exception& error) {
        LogCaughtError("SKSEPlugin_Query", error.what());
    } catch (...) {
        LogCaughtError("SKSEPlugin_Query", "unknown error");
    }
    return Refuse();
}

extern "C" bool SKSEPlugin_Load(const HostLoadInterface* host)
{
    try {
        LogMessage("Linefold loaded");
        auto* scripts = host->QueryInterface ? static_cast<ScriptInterface*>(
                                                   host->QueryInterface(ScriptInterface::kInterfaceId))
                                             : nullptr;
        if (!scripts) {
            LogMessage("script interface %u not available, functions not registered",
                       static_cast<unsigned>(ScriptInterface::kInterfaceId));
            return true;
        }
        if (scripts->Register(RegisterFunctions))
            LogMessage("Register Succeeded");
    } catch (const std::exception& error) {
        LogCaughtError("SKSEPlugin_Load", error.what());
    } catch (...) {
        LogCaughtError("SKSEPlugin_Load", "unknown error");
    }
    return true;
}

bool RegisterFunctions(ScriptClassRegistry* registry)
{
    const RuntimeRoutines& runtime = ActiveRuntime();
    if (!IsComplete(runtime)) {
        LogMessage("routine table for runtime %08X is incomplete, functions not registered",
                   kSupportedRuntime);
        return true;
    }
    auto registerFunction =
        reinterpret_cast<RegisterFunctionRoutine>(registry->operations[kRegisterFunctionOperation]);
    for (const Registration& row : kRegistrationTable) {
        void* memory = runtime.heapAllocate(runtime.gameHeap, row.size, 0, false);
        if (!memory) {
            LogMessage("  No memory in the game heap for %s, not registered", row.name);
            continue;
        }
        // An error of the host's construction routine goes back to the host,
        // the memory already returned.
        auto* function = static_cast<NativeFunction*>(row.construct(memory, row.name));
        // Lets the script engine run each call at once on the thread of the
        // calling script. Without it every call is handed to the game's main
        // thread, served once a frame, and the script waits for that frame:
        // 30 lines a second read at 60 frames, and every block read or
        // written in the player's frame. Calls from several script threads at
        // once are safe: each call holds its file's lock (OpenFileTable.h).
        function->mayRunAtOnce = true;
        registerFunction(registry, function);
    }
    return true;
}
