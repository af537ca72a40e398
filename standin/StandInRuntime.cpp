#include "standin/StandInRuntime.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

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

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

uint64_t Mix(uint64_t hash, uint64_t word) { return (hash ^ word) * kMultiplier; }

// The hash of a text for the string cache: eight independent lanes over its
// 8-byte words, so that a long line hashes several times faster than with the
// standard byte-string hash, which takes its words one after another.
size_t HashOf(std::string_view bytes)
{
    constexpr int kLanes = 8;
    uint64_t lanes[kLanes] = {1, 2, 3, 4, 5, 6, 7, 8};
    const char* next = bytes.data();
    size_t left = bytes.size();
    for (; left >= 8 * kLanes; next += 8 * kLanes, left -= 8 * kLanes) {
        for (int i = 0; i < kLanes; ++i) {
            uint64_t word;
            std::memcpy(&word, next + 8 * i, 8);
            lanes[i] = Mix(lanes[i], word);
        }
    }
    // The rest: up to seven whole words, then the last bytes in the last lane.
    for (int i = 0; left >= 8; ++i, next += 8, left -= 8) {
        uint64_t word;
        std::memcpy(&word, next, 8);
        lanes[i] = Mix(lanes[i], word);
    }
    if (left > 0) {
        uint64_t word = 0;
        std::memcpy(&word, next, left);
        lanes[kLanes - 1] = Mix(lanes[kLanes - 1], word);
    }
    uint64_t hash = bytes.size();
    for (uint64_t lane : lanes)
        hash = Mix(hash, lane ^ (lane >> 29));
    // The index takes the low bits: fold the high ones in.
    hash = (hash ^ (hash >> 32)) * kMultiplier;
    return static_cast<size_t>(hash ^ (hash >> 29));
}

// One place of the index; free while text is null.
struct Slot {
    const char* text = nullptr;
    size_t length = 0;
    size_t hash = 0;
};

// Interned texts are copied once into blocks that never move, so a handle
// stays valid until ForgetStrings. The index finds a text by its bytes: open
// addressing over a power-of-two number of slots, at most half of them used,
// tried one after another from the text's hash. Texts leave it only all at
// once, so no slot is ever freed alone. ForgetStrings keeps the blocks and
// the slots for the texts to come: a host that drops strings all the time
// does not allocate all the time.
struct StringState {
    static constexpr size_t kBlockSize = 64 * 1024;
    std::mutex mutex;
    std::vector<Slot> slots = std::vector<Slot>(1024);
    size_t slotsUsed = 0;
    std::vector<std::unique_ptr<char[]>> blocks;  // kBlockSize bytes each
    size_t blocksUsed = 0;
    char* free = nullptr;  // the unused end of the last block used
    size_t freeSize = 0;
    std::vector<std::unique_ptr<char[]>> largeTexts;  // one each, longer than a block
    // The texts handed out last. The host sets handles mostly from texts it
    // was just given (the path it passes, the line NextLine answered): those
    // are known by their address, without reading them.
    const char* recent[4] = {};
    size_t nextRecent = 0;
};

StringState& Strings()
{
    static StringState* state = new StringState;
    return *state;
}

char* NewBlock(std::vector<std::unique_ptr<char[]>>& blocks, size_t size)
{
    std::unique_ptr<char[]> block(new char[size]);
    blocks.push_back(std::move(block));
    return blocks.back().get();
}

// A NUL-terminated copy of text in the blocks.
const char* Keep(StringState& strings, std::string_view text)
{
    size_t size = text.size() + 1;
    char* copy;
    if (size > StringState::kBlockSize) {
        copy = NewBlock(strings.largeTexts, size);
    } else {
        if (size > strings.freeSize) {
            if (strings.blocksUsed == strings.blocks.size())
                NewBlock(strings.blocks, StringState::kBlockSize);
            strings.free = strings.blocks[strings.blocksUsed++].get();
            strings.freeSize = StringState::kBlockSize;
        }
        copy = strings.free;
        strings.free += size;
        strings.freeSize -= size;
    }
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// The slot for a text of this hash and these bytes: its own, or the free
// one where it belongs.
Slot& SlotFor(std::vector<Slot>& slots, size_t hash, std::string_view bytes)
{
    size_t mask = slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = slots[i];
        if (!slot.text || (slot.hash == hash && slot.length == bytes.size() &&
                           std::memcmp(slot.text, bytes.data(), bytes.size()) == 0))
            return slot;
    }
}

void GrowIndex(StringState& strings)
{
    std::vector<Slot> slots(strings.slots.size() * 2);
    for (const Slot& slot : strings.slots) {
        if (slot.text)
            SlotFor(slots, slot.hash, std::string_view(slot.text, slot.length)) = slot;
    }
    strings.slots.swap(slots);
}

// The interned copy of text, made if there is none yet.
const char* Interned(StringState& strings, std::string_view bytes)
{
    if (2 * (strings.slotsUsed + 1) > strings.slots.size())
        GrowIndex(strings);
    size_t hash = HashOf(bytes);
    Slot& slot = SlotFor(strings.slots, hash, bytes);
    if (!slot.text) {
        slot = Slot{Keep(strings, bytes), bytes.size(), hash};
        ++strings.slotsUsed;
    }
    strings.recent[strings.nextRecent] = slot.text;
    strings.nextRecent = (strings.nextRecent + 1) % std::size(strings.recent);
    return slot.text;
}

StringCache::Ref InternText(std::string_view text)
{
    StringState& strings = Strings();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return StringCache::Ref{Interned(strings, text)};
}

StringCache::Ref InternCString(const char* text)
{
    StringState& strings = Strings();
    std::lock_guard<std::mutex> guard(strings.mutex);
    for (const char* recent : strings.recent) {
        if (recent == text)
            return StringCache::Ref{text};
    }
    return StringCache::Ref{Interned(strings, text)};
}

std::atomic<size_t> constructed{0};
std::atomic<size_t> destroyed{0};
std::atomic<bool> failConstruction{false};
std::atomic<void (*)()> constructionCall{nullptr};
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
    if (void (*routine)() = constructionCall.exchange(nullptr))
        routine();
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
    *self = text ? InternCString(text) : StringCache::Ref{nullptr};
    return self;
}

// The cache keeps every text for now: giving a reference back changes nothing.
void LINEFOLD_THISCALL HandleRelease(StringCache::Ref*) {}

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
        HandleRelease,
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

void CallInNextConstruction(void (*routine)()) { constructionCall = routine; }

size_t SlotCalls(int slot) { return slotCalls[SlotIndex(slot)]; }

uint32_t CallSlot(IFunction* object, int slot)
{
    const HostRoutine* slots = reinterpret_cast<const HostRoutine*>(object->table);
    auto routine = reinterpret_cast<uint32_t(LINEFOLD_THISCALL*)(IFunction*)>(slots[slot]);
    return routine(object);
}

StringCache::Ref Intern(const std::string& text) { return InternText(text); }

void FailHandles(int count) { handleFailures = count; }

size_t InternedCount()
{
    StringState& strings = Strings();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return strings.slotsUsed;
}

void ForgetStrings()
{
    StringState& strings = Strings();
    std::lock_guard<std::mutex> guard(strings.mutex);
    std::fill(strings.slots.begin(), strings.slots.end(), Slot{});
    strings.slotsUsed = 0;
    strings.blocksUsed = 0;
    strings.free = nullptr;
    strings.freeSize = 0;
    strings.largeTexts.clear();
    std::fill(std::begin(strings.recent), std::end(strings.recent), nullptr);
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
