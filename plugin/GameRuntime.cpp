// The shipped plugin runs on the game's own routines.
#include "plugin/RuntimeRoutines.h"

const RuntimeRoutines& ActiveRuntime() { return GameRuntime_09200000(); }
