#pragma once

// Every routine of the game runtime the plugin calls, reached through one
// typed table: the only place that knows where they are. The game's table
// (for runtime 0x09200000) holds fixed addresses; the stand-in runtime that
// the tests and the reference host link instead holds routines of its own.

#include "plugin/HostInterface.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

struct RuntimeRoutines {
    // The game's one heap object, and its routines. Function objects live in
    // this heap, never in the library's own.
    GameHeap* gameHeap;
    void*(LINEFOLD_THISCALL* heapAllocate)(GameHeap* self, size_t size, size_t alignment,
                                           bool aligned);
    void(LINEFOLD_THISCALL* heapFree)(GameHeap* self, void* memory, bool aligned);

    // The host part of a native function object.
    void(LINEFOLD_THISCALL* nativeFunctionConstruct)(NativeFunctionBase* self, const char* name,
                                                     const char* className, uint32_t isStatic,
                                                     uint32_t parameterCount);
    void(LINEFOLD_THISCALL* nativeFunctionDestruct)(NativeFunctionBase* self);

    // Four operations of a native function object that the runtime performs
    // itself (slots 6, 15, 16 and 18); they go into the object's table as
    // they are, so the plugin never needs their arguments.
    HostRoutine functionSlot6;
    HostRoutine functionSlot15;
    HostRoutine functionSlot16;
    HostRoutine functionSlot18;

    // String handles: construction on fresh storage, setting an existing
    // handle (from a null text too), and giving a handle's reference back.
    // The game counts references to its interned texts: a handle that is
    // never released keeps its text in the game's memory until the game ends.
    StringCache::Ref*(LINEFOLD_THISCALL* handleConstruct)(StringCache::Ref* self, const char* text);
    StringCache::Ref*(LINEFOLD_THISCALL* handleSet)(StringCache::Ref* self, const char* text);
    void(LINEFOLD_THISCALL* handleRelease)(StringCache::Ref* self);

    // Arguments of a script call.
    uint32_t(LINEFOLD_THISCALL* argumentBase)(ScriptStack* self, ScriptCallFrame* frame);
    ScriptValue*(LINEFOLD_THISCALL* argumentValue)(ScriptStack* self, ScriptCallFrame* frame,
                                                   uint32_t index, uint32_t base);

    // Empties a value before a result is stored in it.
    void(LINEFOLD_THISCALL* valueReset)(ScriptValue* self);
};

// Every entry of the table by its name, the name the routine file uses for
// it. A field added to RuntimeRoutines is one more line here (the assertion
// below fails until it is).
struct RoutineField {
    const char* name;
    size_t offset;
    bool isObject;  // the heap object, which lies in data; every other entry is code
    const char* what;  // what it is, for a person looking for it in the executable
};
inline constexpr RoutineField kRoutineFields[] = {
    {"gameHeap", offsetof(RuntimeRoutines, gameHeap), true,
     "the game's one heap object, in which the function objects live"},
    {"heapAllocate", offsetof(RuntimeRoutines, heapAllocate), false,
     "the heap's routine that allocates memory (size, alignment, flag)"},
    {"heapFree", offsetof(RuntimeRoutines, heapFree), false,
     "the heap's routine that releases it (pointer, flag)"},
    {"nativeFunctionConstruct", offsetof(RuntimeRoutines, nativeFunctionConstruct), false,
     "the native-function construction routine: fills the host part of a function object from its name, "
     "class name, static flag and parameter count"},
    {"nativeFunctionDestruct", offsetof(RuntimeRoutines, nativeFunctionDestruct), false,
     "the native-function destruction routine: tears that part down"},
    {"functionSlot6", offsetof(RuntimeRoutines, functionSlot6), false,
     "the runtime's own routine behind slot 6 of a function object's table"},
    {"functionSlot15", offsetof(RuntimeRoutines, functionSlot15), false,
     "the runtime's own routine behind slot 15 of a function object's table"},
    {"functionSlot16", offsetof(RuntimeRoutines, functionSlot16), false,
     "the runtime's own routine behind slot 16 of a function object's table"},
    {"functionSlot18", offsetof(RuntimeRoutines, functionSlot18), false,
     "the runtime's own routine behind slot 18 of a function object's table"},
    {"handleConstruct", offsetof(RuntimeRoutines, handleConstruct), false,
     "string handle construction from a text, on fresh storage"},
    {"handleSet", offsetof(RuntimeRoutines, handleSet), false,
     "setting an existing string handle from a text (possibly none)"},
    {"handleRelease", offsetof(RuntimeRoutines, handleRelease), false,
     "giving a string handle's reference back"},
    {"argumentBase", offsetof(RuntimeRoutines, argumentBase), false,
     "the script stack's routine that answers the argument base of a call frame"},
    {"argumentValue", offsetof(RuntimeRoutines, argumentValue), false,
     "the script stack's routine that answers one argument's value (frame, index, base)"},
    {"valueReset", offsetof(RuntimeRoutines, valueReset), false,
     "the routine that empties a script value before a result is stored in it"},
};
static_assert(sizeof(HostRoutine) == sizeof(void*), "a routine's address is one word");
static_assert(sizeof(RuntimeRoutines) == std::size(kRoutineFields) * sizeof(void*),
              "every field of RuntimeRoutines is listed in kRoutineFields");

// An entry's address as a number, and an entry set from one.
uintptr_t FieldAddress(const RuntimeRoutines& routines, const RoutineField& field);
void SetFieldAddress(RuntimeRoutines& routines, const RoutineField& field, uintptr_t address);

// The table this build of the plugin uses: the game's in the shipped DLL, the
// stand-in's in the tests and the reference host.
const RuntimeRoutines& ActiveRuntime();

// Makes ActiveRuntime() usable, at query time, before any call through it.
// The shipped plugin takes the compiled-in table when it is complete and
// otherwise reads and checks the routine file beside the plugin.
struct RuntimeReadiness {
    bool ready = false;
    std::string source;   // the routine file the table came from, if any
    std::string problem;  // why it is not ready, if more is known than "incomplete"
};
RuntimeReadiness PrepareActiveRuntime();

// The table for game runtime 0x09200000.
const RuntimeRoutines& GameRuntime_09200000();

// True when every entry is known; a call through a missing entry would jump
// to nowhere, so the plugin refuses a game whose table is incomplete.
bool IsComplete(const RuntimeRoutines& routines);

// A new handle made from a text with the runtime's handle construction. It
// holds a reference: whoever ends up with it gives it back.
StringCache::Ref MakeHandle(const char* text);

// A handle the plugin made, holding one reference to its text, given back
// exactly once: when the owner ends, whatever path it ends on.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(StringCache::Ref handle) : handle(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle(other.handle) { other.handle.data = nullptr; }
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) {
            Release();
            handle = other.handle;
            other.handle.data = nullptr;
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { Release(); }

    StringCache::Ref Get() const { return handle; }
    // Where the runtime's setting routine writes; it gives back what was held.
    StringCache::Ref* Target() { return &handle; }

private:
    void Release() noexcept;
    StringCache::Ref handle{nullptr};
};
