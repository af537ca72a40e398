#pragma once

// A stand-in for the game runtime: our own implementation of every routine
// of the runtime's routine table, for the tests and the reference host. The
// plugin reaches it through the same table it would use in the game.

#include "plugin/NativeFunction.h"
#include "plugin/RuntimeRoutines.h"

#include <cstddef>
#include <string>
#include <vector>

namespace standin {

const RuntimeRoutines& Routines();

// The GameHeap: counts what it hands out and takes back.
struct HeapCounts {
    size_t allocations = 0;
    size_t frees = 0;
    size_t live = 0;
    size_t foreignFrees = 0;  // pointers it never handed out
};
HeapCounts Heap();
// The next count allocations yield no memory.
void FailAllocations(int count);

// The host part of native functions.
struct FunctionCounts {
    size_t constructed = 0;
    size_t destroyed = 0;
};
FunctionCounts Functions();
// The next construction raises std::runtime_error instead.
void FailNextConstruction();
// The next construction first calls this routine (a test's own way of
// raising, the game's for one), and goes on if it returns.
void CallInNextConstruction(void (*routine)());
// What the stand-in's construction routine puts in the host-only fields.
constexpr uint32_t kHostWord = 0x51A7D0C5;
constexpr uint32_t kHostValue = 0x0000BEEF;

// How often the runtime's slot routine for slot 6, 15, 16 or 18 was called.
size_t SlotCalls(int slot);
// Calls that routine through an object's table, as the host would.
uint32_t CallSlot(IFunction* object, int slot);

// The string cache: equal texts give equal handles.
StringCache::Ref Intern(const std::string& text);
size_t InternedCount();
// The next count handle constructions or settings raise std::bad_alloc.
void FailHandles(int count);
// Drops every interned text, as the game drops unreferenced ones; every
// earlier handle becomes invalid.
void ForgetStrings();

// How often a value was reset and an argument base was asked for.
size_t ValueResets();
size_t ArgumentBaseCalls();

// One script call's frame and stack, holding the given argument values.
class CallFrame {
public:
    explicit CallFrame(std::vector<ScriptValue> arguments);
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;
    ScriptCallFrame* Frame() { return &frame; }

    // What the stand-in's ScriptStack routines see behind ScriptStack*.
    struct Stack {
        std::vector<ScriptValue> values;
        uint32_t base;  // a different number in every frame, checked on each fetch
    };

private:
    Stack stack;
    ScriptCallFrame frame;
};

ScriptValue StringValue(const std::string& text);
ScriptValue IntValue(int32_t value);
ScriptValue FloatValue(float value);
ScriptValue BoolValue(bool value);
ScriptValue NoneValue();

}  // namespace standin
