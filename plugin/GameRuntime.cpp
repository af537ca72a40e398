// The shipped plugin runs on the game's own routines: the compiled-in table
// when it is complete, otherwise the routine file beside the plugin, and that
// only once every entry of it has passed its checks.
#include "plugin/PluginMain.h"
#include "plugin/RoutineFile.h"
#include "plugin/RuntimeRoutines.h"

namespace {
RuntimeRoutines fromFile{};
bool useFile = false;
}  // namespace

const RuntimeRoutines& ActiveRuntime() { return useFile ? fromFile : GameRuntime_09200000(); }

RuntimeReadiness PrepareActiveRuntime()
{
    RuntimeReadiness readiness;
    useFile = false;
    if (IsComplete(GameRuntime_09200000())) {
        readiness.ready = true;
        return readiness;
    }
    readiness = ReadRoutineFileBesidePlugin(kSupportedRuntime, fromFile);
    useFile = readiness.ready;
    return readiness;
}
