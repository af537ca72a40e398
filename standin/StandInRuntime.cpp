#include "standin/StandInRuntime.h"

#include <algorithm>
#include <cstdio>
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
constexpr uint64_t kEveryByte = 0x0101010101010101ull;

uint64_t Mix(uint64_t hash, uint64_t word) { return (hash ^ word) * kMultiplier; }

// The eight bytes of a word with every ASCII capital made small, all at
// once: a byte gets 0x20 added when it lies in 'A'..'Z' (bytes from 0x80 on
// stay as they are).
uint64_t Folded(uint64_t word)
{
    uint64_t low = word & (0x7F * kEveryByte);
    uint64_t fromA = low + (0x80 - 'A') * kEveryByte;     // top bit: at least 'A'
    uint64_t pastZ = low + (0x80 - 'Z' - 1) * kEveryByte;  // top bit: beyond 'Z'
    uint64_t capitals = fromA & ~pastZ & ~word & (0x80 * kEveryByte);
    return word | (capitals >> 2);
}

uint64_t WordAt(const char* bytes)
{
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    return word;
}

// Up to seven last bytes, in a word padded with zeros.
uint64_t TailWord(const char* bytes, size_t count)
{
    uint64_t word = 0;
    std::memcpy(&word, bytes, count);
    return word;
}

// The hash of a text as the cache compares it, case folded: eight
// independent lanes over its 8-byte words, so that a long line hashes
// several times faster than with the standard byte-string hash, which takes
// its words one after another.
size_t HashOf(std::string_view bytes)
{
    constexpr int kLanes = 8;
    uint64_t lanes[kLanes] = {1, 2, 3, 4, 5, 6, 7, 8};
    const char* next = bytes.data();
    size_t left = bytes.size();
    for (; left >= 8 * kLanes; next += 8 * kLanes, left -= 8 * kLanes) {
        for (int i = 0; i < kLanes; ++i)
            lanes[i] = Mix(lanes[i], Folded(WordAt(next + 8 * i)));
    }
    // The rest: up to seven whole words, then the last bytes in the last lane.
    for (int i = 0; left >= 8; ++i, next += 8, left -= 8)
        lanes[i] = Mix(lanes[i], Folded(WordAt(next)));
    if (left > 0)
        lanes[kLanes - 1] = Mix(lanes[kLanes - 1], Folded(TailWord(next, left)));
    uint64_t hash = bytes.size();
    for (uint64_t lane : lanes)
        hash = Mix(hash, lane ^ (lane >> 29));
    // The index takes the low bits: fold the high ones in.
    hash = (hash ^ (hash >> 32)) * kMultiplier;
    return static_cast<size_t>(hash ^ (hash >> 29));
}

// Whether two texts of count bytes are equal but for the case of ASCII letters.
bool SameFolded(const char* first, const char* second, size_t count)
{
    for (; count >= 8; first += 8, second += 8, count -= 8) {
        uint64_t a = WordAt(first), b = WordAt(second);
        if (a != b && Folded(a) != Folded(b))
            return false;
    }
    return count == 0 || Folded(TailWord(first, count)) == Folded(TailWord(second, count));
}

// One interned text: its reference count and what the index needs, with the
// text itself (NUL-terminated) right behind. A handle points at the text.
struct Entry {
    size_t references;
    size_t length;
    size_t hash;
    char* Text() { return reinterpret_cast<char*>(this + 1); }
};

Entry* EntryOf(const char* text) { return reinterpret_cast<Entry*>(const_cast<char*>(text)) - 1; }

// One place of the index; free while entry is null. The hash is kept here
// too, so that probing reads no entry but a likely match.
struct Slot {
    Entry* entry = nullptr;
    size_t hash = 0;
};

// The index finds an entry by its folded text: open addressing over a
// power-of-two number of slots, at most half of them used, tried one after
// another from the text's hash. An entry leaves it with backward-shift
// deletion (the entries after it that may move closer to their home move
// up), so no tombstones pile up in a cache where every line read comes and
// goes. Entries are allocated one by one; a gone entry is kept dead for a
// while before its memory is freed, so that a release of it, one too many,
// still finds it and aborts rather than reading freed memory.
struct StringState {
    std::mutex mutex;
    std::vector<Slot> slots = std::vector<Slot>(1024);
    StringCounts counts;
    // The texts handed out last. The host sets handles mostly from texts it
    // was just given (the path it passes, the line NextLine answered): those
    // are known by their address, without reading them. Live entries only.
    const char* recent[4] = {};
    size_t nextRecent = 0;
    Entry* dead[64] = {};
    size_t nextDead = 0;
};

StringState& Cache()
{
    static StringState* state = new StringState;
    return *state;
}

[[noreturn]] void Fault(const char* what, const char* text)
{
    std::fprintf(stderr, "stand-in string cache: %s: \"%.60s\"\n", what, text);
    std::abort();
}

// The slot of the entry equal to bytes (folded), or the free one where it belongs.
size_t SlotFor(const std::vector<Slot>& slots, size_t hash, std::string_view bytes)
{
    size_t mask = slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots[i];
        if (!slot.entry || (slot.hash == hash && slot.entry->length == bytes.size() &&
                            SameFolded(slot.entry->Text(), bytes.data(), bytes.size())))
            return i;
    }
}

void GrowIndex(StringState& strings)
{
    std::vector<Slot> slots(strings.slots.size() * 2);
    size_t mask = slots.size() - 1;
    for (const Slot& slot : strings.slots) {
        if (!slot.entry)
            continue;
        size_t i = slot.hash & mask;
        while (slots[i].entry)
            i = (i + 1) & mask;
        slots[i] = slot;
    }
    strings.slots.swap(slots);
}

void RemoveFromIndex(std::vector<Slot>& slots, Entry* entry)
{
    size_t mask = slots.size() - 1;
    size_t hole = entry->hash & mask;
    while (slots[hole].entry != entry)
        hole = (hole + 1) & mask;
    for (size_t next = (hole + 1) & mask; slots[next].entry; next = (next + 1) & mask) {
        // An entry may fill the hole unless its home lies after the hole,
        // up to where it stands.
        size_t home = slots[next].hash & mask;
        bool homeAfterHole = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (!homeAfterHole) {
            slots[hole] = slots[next];
            hole = next;
        }
    }
    slots[hole] = Slot{};
}

void NoteRecent(StringState& strings, const char* text)
{
    strings.recent[strings.nextRecent] = text;
    strings.nextRecent = (strings.nextRecent + 1) % std::size(strings.recent);
}

// One more reference to the entry of bytes, made if there is none yet.
const char* Acquire(StringState& strings, std::string_view bytes)
{
    if (2 * (strings.counts.entries + 1) > strings.slots.size())
        GrowIndex(strings);
    size_t hash = HashOf(bytes);
    Slot& slot = strings.slots[SlotFor(strings.slots, hash, bytes)];
    if (!slot.entry) {
        Entry* entry = static_cast<Entry*>(::operator new(sizeof(Entry) + bytes.size() + 1));
        new (entry) Entry{0, bytes.size(), hash};
        std::memcpy(entry->Text(), bytes.data(), bytes.size());
        entry->Text()[bytes.size()] = '\0';
        slot = Slot{entry, hash};
        ++strings.counts.entries;
        strings.counts.bytes += bytes.size() + 1;
    }
    ++slot.entry->references;
    ++strings.counts.references;
    NoteRecent(strings, slot.entry->Text());
    return slot.entry->Text();
}

const char* AcquireCString(StringState& strings, const char* text)
{
    for (const char* recent : strings.recent) {
        if (recent == text) {
            ++EntryOf(text)->references;
            ++strings.counts.references;
            return text;
        }
    }
    return Acquire(strings, text);
}

void Retain(StringState& strings, const char* text)
{
    Entry* entry = EntryOf(text);
    if (entry->references == 0)
        Fault("a reference taken to a text that is gone", text);
    ++entry->references;
    ++strings.counts.references;
}

void GiveBack(StringState& strings, const char* text)
{
    Entry* entry = EntryOf(text);
    if (entry->references == 0)
        Fault("a reference given back that was never held", text);
    --strings.counts.references;
    if (--entry->references > 0)
        return;
    RemoveFromIndex(strings.slots, entry);
    --strings.counts.entries;
    strings.counts.bytes -= entry->length + 1;
    for (const char*& recent : strings.recent) {
        if (recent == text)
            recent = nullptr;
    }
    Entry*& oldest = strings.dead[strings.nextDead];
    ::operator delete(oldest);
    oldest = entry;
    strings.nextDead = (strings.nextDead + 1) % std::size(strings.dead);
}

StringCache::Ref AcquireHandle(const char* text)
{
    if (!text)
        return StringCache::Ref{nullptr};
    StringState& strings = Cache();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return StringCache::Ref{AcquireCString(strings, text)};
}

std::atomic<size_t> constructed{0};
std::atomic<size_t> destroyed{0};
std::atomic<bool> failConstruction{false};
std::atomic<void (*)()> constructionCall{nullptr};
std::atomic<size_t> slotCalls[4];
std::atomic<int> handleFailures{0};
std::atomic<int> handleSuccesses{0};
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
    self->mayRunAtOnce = false;
    self->hostValue = kHostValue;
    ++constructed;
}

void LINEFOLD_THISCALL Destruct(NativeFunctionBase* self)
{
    for (StringCache::Ref* handle : {&self->handle1, &self->handle2, &self->handle3}) {
        Release(*handle);
        handle->data = nullptr;
    }
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

void FailIfAsked()
{
    if (handleFailures > 0 && handleSuccesses > 0 && handleSuccesses-- > 0)
        return;
    if (handleFailures > 0 && handleFailures-- > 0)
        throw std::bad_alloc();
}

StringCache::Ref* LINEFOLD_THISCALL HandleConstruct(StringCache::Ref* self, const char* text)
{
    FailIfAsked();
    *self = AcquireHandle(text);
    return self;
}

StringCache::Ref* LINEFOLD_THISCALL HandleSet(StringCache::Ref* self, const char* text)
{
    FailIfAsked();
    // The new reference first: text may be the handle's own.
    StringCache::Ref handle = AcquireHandle(text);
    Release(*self);
    *self = handle;
    return self;
}

void LINEFOLD_THISCALL HandleRelease(StringCache::Ref* self)
{
    Release(*self);
    self->data = nullptr;
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
    return frameStack->values[index].Raw();
}

void LINEFOLD_THISCALL ValueReset(ScriptValue* self)
{
    ++valueResets;
    if (self->type == ScriptValue::kString)
        Release(self->data.string);
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
        HandleConstruct,
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

StringCache::Ref Intern(const std::string& text)
{
    StringState& strings = Cache();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return StringCache::Ref{Acquire(strings, text)};
}

void Release(StringCache::Ref handle)
{
    if (!handle.data)
        return;
    StringState& strings = Cache();
    std::lock_guard<std::mutex> guard(strings.mutex);
    GiveBack(strings, handle.data);
}

size_t ReferencesOf(const std::string& text)
{
    StringState& strings = Cache();
    std::lock_guard<std::mutex> guard(strings.mutex);
    const Slot& slot = strings.slots[SlotFor(strings.slots, HashOf(text), text)];
    return slot.entry ? slot.entry->references : 0;
}

StringCounts Strings()
{
    StringState& strings = Cache();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return strings.counts;
}

void FailHandles(int count, int after)
{
    handleSuccesses = after;
    handleFailures = count;
}

size_t ValueResets() { return valueResets; }
size_t ArgumentBaseCalls() { return argumentBaseCalls; }

Value Value::Adopt(const ScriptValue& raw)
{
    Value value;
    static_cast<ScriptValue&>(value) = raw;
    return value;
}

Value::Value(const Value& other) : ScriptValue(other)
{
    if (type == kString && data.string.data) {
        StringState& strings = Cache();
        std::lock_guard<std::mutex> guard(strings.mutex);
        Retain(strings, data.string.data);
    }
}

Value::Value(Value&& other) noexcept : ScriptValue(other)
{
    other.type = kNone;
    other.data = Data{};
}

Value& Value::operator=(Value other) noexcept
{
    std::swap(static_cast<ScriptValue&>(*this), static_cast<ScriptValue&>(other));
    return *this;
}

Value::~Value()
{
    if (type == kString)
        Release(data.string);
}

CallFrame::CallFrame(std::vector<Value> arguments)
    : stack{std::move(arguments), nextBase++}, frame{reinterpret_cast<ScriptStack*>(&stack)}
{
}

Value StringValue(const std::string& text)
{
    ScriptValue value{ScriptValue::kString, {}};
    value.data.string = Intern(text);
    return Value::Adopt(value);
}

Value IntValue(int32_t number)
{
    ScriptValue value{ScriptValue::kInteger, {}};
    value.data.integer = number;
    return Value::Adopt(value);
}

Value FloatValue(float number)
{
    ScriptValue value{ScriptValue::kFloat, {}};
    value.data.number = number;
    return Value::Adopt(value);
}

Value BoolValue(bool flag)
{
    ScriptValue value{ScriptValue::kBool, {}};
    value.data.boolean = flag;
    return Value::Adopt(value);
}

Value NoneValue() { return Value(); }

}  // namespace standin

// The tests and the reference host run the plugin on this runtime; it is
// complete, so nothing is read from a file.
const RuntimeRoutines& ActiveRuntime() { return standin::Routines(); }

RuntimeReadiness PrepareActiveRuntime()
{
    RuntimeReadiness readiness;
    readiness.ready = IsComplete(standin::Routines());
    return readiness;
}
