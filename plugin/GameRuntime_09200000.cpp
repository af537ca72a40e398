// The routine table for Skyrim runtime 0x09200000 (1.9.32.0).
//
// Each entry is the fixed address of that routine (or, for the heap, of the
// object) in the game's executable. The addresses have to be read off that
// executable, which is not available where this plugin is built; an entry is
// left null until it has been, and never guessed. While any entry is null the
// plugin refuses the game at query time (see SKSEPlugin_Query), so that no
// script call can jump to a missing routine.
#include "plugin/RuntimeRoutines.h"

const RuntimeRoutines& GameRuntime_09200000()
{
    static const RuntimeRoutines table = {
        /* gameHeap */ nullptr,
        /* heapAllocate */ nullptr,
        /* heapFree */ nullptr,
        /* nativeFunctionConstruct */ nullptr,
        /* nativeFunctionDestruct */ nullptr,
        /* functionSlot6 */ nullptr,
        /* functionSlot15 */ nullptr,
        /* functionSlot16 */ nullptr,
        /* functionSlot18 */ nullptr,
        /* handleConstruct */ nullptr,
        /* handleSet */ nullptr,
        /* handleRelease */ nullptr,
        /* argumentBase */ nullptr,
        /* argumentValue */ nullptr,
        /* valueReset */ nullptr,
    };
    return table;
}
