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

// The string cache, kept as the game keeps it. Texts are compared without
// regard to the case of ASCII letters (other bytes as they are), and an
// entry keeps the spelling it was first interned with for as long as it
// lives. Every handle holds one reference to its entry: construction and
// setting take one (setting gives back the one the handle held), release
// gives one back, and an entry with no reference left is gone, so a later
// text may bring another spelling. A release below zero aborts the process.
//
// A handle to text that holds a new reference, the caller's to give back.
StringCache::Ref Intern(const std::string& text);
// Gives back the reference a handle holds; the empty handle holds none.
void Release(StringCache::Ref handle);
// The references to the entry equal to text; 0 when there is none.
size_t ReferencesOf(const std::string& text);
// What the cache holds: live entries, their texts' bytes (each with its
// terminating NUL) and the references to them all.
struct StringCounts {
    size_t entries = 0;
    size_t bytes = 0;
    size_t references = 0;
    bool operator==(const StringCounts& other) const
    {
        return entries == other.entries && bytes == other.bytes && references == other.references;
    }
};
StringCounts Strings();
// After the next `after` handle constructions or settings, the next count
// of them raise std::bad_alloc.
void FailHandles(int count, int after = 0);

// How often a value was reset and an argument base was asked for.
size_t ValueResets();
size_t ArgumentBaseCalls();

// A value of the stand-in script VM. A string value holds one reference to
// its text, given back when the value ends; a copy holds one of its own. It
// reads like a ScriptValue (type, data) but never converts to one, so that
// no uncounted copy of its handle can slip out.
class Value : private ScriptValue {
public:
    Value() : ScriptValue{kNone, {}} {}
    // Takes over the reference that raw's string (if any) holds.
    static Value Adopt(const ScriptValue& raw);
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(Value other) noexcept;
    ~Value();

    using ScriptValue::data;
    using ScriptValue::type;
    // The value itself, as the host's routines hand it to the plugin.
    ScriptValue* Raw() { return this; }
    const ScriptValue* Raw() const { return this; }
};

// One script call's frame and stack, holding the given argument values until
// the frame ends.
class CallFrame {
public:
    explicit CallFrame(std::vector<Value> arguments);
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;
    ScriptCallFrame* Frame() { return &frame; }

    // What the stand-in's ScriptStack routines see behind ScriptStack*.
    struct Stack {
        std::vector<Value> values;
        uint32_t base;  // a different number in every frame, checked on each fetch
    };

private:
    Stack stack;
    ScriptCallFrame frame;
};

Value StringValue(const std::string& text);
Value IntValue(int32_t value);
Value FloatValue(float value);
Value BoolValue(bool value);
Value NoneValue();

}  // namespace standin
