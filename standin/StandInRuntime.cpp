#include "standin/StandInRuntime.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace standin {

namespace {

struct HeapState {
    std::mutex mutex;
    std::unordered_map<void*, size_t> blocks;
    HeapCounts counts;
    int failures = 0;
};

HeapState& HeapData()
{
    static HeapState* state = new HeapState;
    return *state;
}

struct StringState {
    std::mutex mutex;
    std::unordered_set<std::string> texts;
};

StringState& Strings()
{
    static StringState* state = new StringState;
    return *state;
}

std::atomic<size_t> constructed{0};
std::atomic<size_t> destroyed{0};
std::atomic<bool> failConstruction{false};
std::atomic<size_t> slotCalls[4];
std::atomic<int> handleFailures{0};
std::atomic<size_t> valueResets{0};
std::atomic<size_t> argumentBaseCalls{0};
std::atomic<uint32_t> nextBase{100};
ScriptValue noArgument{ScriptValue::kNone, {}};

// The GameHeap object itself: only its address matters.
struct StandInHeap {
    int unused;
} gameHeap;

int SlotIndex(int slot)
{
    switch (slot) {
    case 6: return 0;
    case 15: return 1;
    case 16: return 2;
    case 18: return 3;
    default: return -1;
    }
}

void* LINEFOLD_THISCALL HeapAllocate(GameHeap*, size_t size, size_t, bool)
{
    HeapState& heap = HeapData();
    std::lock_guard<std::mutex> guard(heap.mutex);
    if (heap.failures > 0) {
        --heap.failures;
        return nullptr;
    }
    void* memory = std::calloc(1, size);
    if (memory) {
        heap.blocks.emplace(memory, size);
        ++heap.counts.allocations;
        ++heap.counts.live;
    }
    return memory;
}

void LINEFOLD_THISCALL HeapFree(GameHeap*, void* memory, bool)
{
    HeapState& heap = HeapData();
    std::lock_guard<std::mutex> guard(heap.mutex);
    if (heap.blocks.erase(memory) == 0) {
        ++heap.counts.foreignFrees;
        return;
    }
    std::free(memory);
    ++heap.counts.frees;
    --heap.counts.live;
}

void LINEFOLD_THISCALL Construct(NativeFunctionBase* self, const char* name, const char* className,
                                 uint32_t isStatic, uint32_t parameterCount)
{
    if (failConstruction.exchange(false))
        throw std::runtime_error("stand-in runtime refused to construct " + std::string(name));
    self->hostWord = kHostWord;
    self->handle1 = Intern(name);
    self->handle2 = Intern(className);
    self->handle3 = Intern(std::string(className) + "." + name);
    self->resultType = ScriptValue::kNone;
    self->parameterTable = new ParameterEntry[parameterCount];
    for (uint32_t i = 0; i < parameterCount; ++i)
        self->parameterTable[i] = ParameterEntry{i, ScriptValue::kNone};
    self->hostHalfWord = 0;
    self->hostCount = static_cast<uint16_t>(parameterCount);
    self->hostFlagA = static_cast<uint8_t>(isStatic);
    self->hostFlagB = false;
    self->hostValue = kHostValue;
    ++constructed;
}

void LINEFOLD_THISCALL Destruct(NativeFunctionBase* self)
{
    delete[] self->parameterTable;
    self->parameterTable = nullptr;
    ++destroyed;
}

template <int Slot>
uint32_t LINEFOLD_THISCALL SlotRoutine(IFunction*)
{
    ++slotCalls[SlotIndex(Slot)];
    return Slot;
}

StringCache::Ref* LINEFOLD_THISCALL HandleSet(StringCache::Ref* self, const char* text)
{
    if (handleFailures > 0 && handleFailures-- > 0)
        throw std::bad_alloc();
    *self = text ? Intern(text) : StringCache::Ref{nullptr};
    return self;
}

uint32_t LINEFOLD_THISCALL ArgumentBase(ScriptStack* stack, ScriptCallFrame*)
{
    ++argumentBaseCalls;
    return reinterpret_cast<CallFrame::Stack*>(stack)->base;
}

ScriptValue* LINEFOLD_THISCALL ArgumentValue(ScriptStack* stack, ScriptCallFrame*, uint32_t index,
                                             uint32_t base)
{
    CallFrame::Stack* frameStack = reinterpret_cast<CallFrame::Stack*>(stack);
    // The plugin does not check the argument count; neither may a missing
    // argument crash the stand-in.
    if (base != frameStack->base || index >= frameStack->values.size())
        return &noArgument;
    return &frameStack->values[index];
}

void LINEFOLD_THISCALL ValueReset(ScriptValue* self)
{
    ++valueResets;
    self->type = ScriptValue::kNone;
    self->data = ScriptValue::Data{};
}

HostRoutine AsRoutine(uint32_t(LINEFOLD_THISCALL* routine)(IFunction*))
{
    return reinterpret_cast<HostRoutine>(routine);
}

}  // namespace

const RuntimeRoutines& Routines()
{
    static const RuntimeRoutines table = {
        reinterpret_cast<GameHeap*>(&gameHeap),
        HeapAllocate,
        HeapFree,
        Construct,
        Destruct,
        AsRoutine(SlotRoutine<6>),
        AsRoutine(SlotRoutine<15>),
        AsRoutine(SlotRoutine<16>),
        AsRoutine(SlotRoutine<18>),
        HandleSet,
        HandleSet,
        ArgumentBase,
        ArgumentValue,
        ValueReset,
    };
    return table;
}

HeapCounts Heap()
{
    HeapState& heap = HeapData();
    std::lock_guard<std::mutex> guard(heap.mutex);
    return heap.counts;
}

void FailAllocations(int count)
{
    HeapState& heap = HeapData();
    std::lock_guard<std::mutex> guard(heap.mutex);
    heap.failures = count;
}

FunctionCounts Functions() { return FunctionCounts{constructed, destroyed}; }

void FailNextConstruction() { failConstruction = true; }

size_t SlotCalls(int slot) { return slotCalls[SlotIndex(slot)]; }

uint32_t CallSlot(IFunction* object, int slot)
{
    const HostRoutine* slots = reinterpret_cast<const HostRoutine*>(object->table);
    auto routine = reinterpret_cast<uint32_t(LINEFOLD_THISCALL*)(IFunction*)>(slots[slot]);
    return routine(object);
}

StringCache::Ref Intern(const std::string& text)
{
    StringState& strings = Strings();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return StringCache::Ref{strings.texts.insert(text).first->c_str()};
}

void FailHandles(int count) { handleFailures = count; }

size_t InternedCount()
{
    StringState& strings = Strings();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return strings.texts.size();
}

void ForgetStrings()
{
    StringState& strings = Strings();
    std::lock_guard<std::mutex> guard(strings.mutex);
    strings.texts.clear();
}

size_t ValueResets() { return valueResets; }
size_t ArgumentBaseCalls() { return argumentBaseCalls; }

CallFrame::CallFrame(std::vector<ScriptValue> arguments)
    : stack{std::move(arguments), nextBase++}, frame{reinterpret_cast<ScriptStack*>(&stack)}
{
}

ScriptValue StringValue(const std::string& text)
{
    ScriptValue value{ScriptValue::kString, {}};
    value.data.string = Intern(text);
    return value;
}

ScriptValue IntValue(int32_t number)
{
    ScriptValue value{ScriptValue::kInteger, {}};
    value.data.integer = number;
    return value;
}

ScriptValue FloatValue(float number)
{
    ScriptValue value{ScriptValue::kFloat, {}};
    value.data.number = number;
    return value;
}

ScriptValue BoolValue(bool flag)
{
    ScriptValue value{ScriptValue::kBool, {}};
    value.data.boolean = flag;
    return value;
}

ScriptValue NoneValue() { return ScriptValue{ScriptValue::kNone, {}}; }

}  // namespace standin

// The tests and the reference host run the plugin on this runtime.
const RuntimeRoutines& ActiveRuntime() { return standin::Routines(); }
