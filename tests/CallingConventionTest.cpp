// The conventions the game calls the plugin with, and calls the game with,
// checked apart from the declarations the plugin and the stand-in share: a
// wrong convention in a shared declaration would otherwise be tested against
// itself and pass. They only mean something on 32-bit x86 (Windows, and
// Linux, where GCC gives thiscall the same meaning), where thiscall and cdecl
// differ; on 64-bit targets there is one convention.
#include "support/TestSupport.h"

#if defined(__i386__)

#include "functions/ScriptFunctions.h"
#include "plugin/NativeFunction.h"
#include "plugin/PluginMain.h"
#include "plugin/RuntimeRoutines.h"
#include "standin/StandInHost.h"

#include <cstddef>
#include <type_traits>

// Written out here on purpose, not taken from the plugin's headers.
#define GAME_THISCALL __attribute__((thiscall))
#define GAME_CDECL __attribute__((cdecl))

namespace {

template <class Actual, class Expected>
constexpr bool kSame = std::is_same<Actual, Expected>::value;

// The checks below are worth something only if the compiler tells the two apart.
static_assert(!kSame<void(GAME_THISCALL*)(int*), void(GAME_CDECL*)(int*)>, "conventions differ");

// The function objects' table, slot by slot, as the game's VM calls it.
#define SLOT(field, slot, type)                                                              \
    static_assert(kSame<decltype(FunctionTable::field), type>, "slot " #slot " (" #field ")"); \
    static_assert(offsetof(FunctionTable, field) == (slot) * 4, "slot " #slot " position")
using Opaque = void (*)();
SLOT(destroy, 0, IFunction*(GAME_THISCALL*)(IFunction*, uint32_t));
SLOT(handle1, 1, StringCache::Ref*(GAME_THISCALL*)(IFunction*));
SLOT(handle2, 2, StringCache::Ref*(GAME_THISCALL*)(IFunction*));
SLOT(handle3, 3, StringCache::Ref*(GAME_THISCALL*)(IFunction*));
SLOT(resultType, 4, uint32_t(GAME_THISCALL*)(IFunction*));
SLOT(hostCount, 5, uint16_t(GAME_THISCALL*)(IFunction*));
SLOT(runtimeSlot6, 6, Opaque);
SLOT(hostCountAgain, 7, uint16_t(GAME_THISCALL*)(IFunction*));
SLOT(alwaysTrue, 8, bool(GAME_THISCALL*)(IFunction*));
SLOT(hostFlagA, 9, uint8_t(GAME_THISCALL*)(IFunction*));
SLOT(alwaysFalse, 10, bool(GAME_THISCALL*)(IFunction*));
SLOT(alwaysZero, 11, uint32_t(GAME_THISCALL*)(IFunction*));
SLOT(hostValue, 12, uint32_t(GAME_THISCALL*)(IFunction*));
SLOT(handle4, 13, StringCache::Ref*(GAME_THISCALL*)(IFunction*));
SLOT(ignoreWord, 14, void(GAME_THISCALL*)(IFunction*, uint32_t));
SLOT(runtimeSlot15, 15, Opaque);
SLOT(runtimeSlot16, 16, Opaque);
SLOT(clearWord, 17, bool(GAME_THISCALL*)(IFunction*, uint32_t, uint32_t*));
SLOT(runtimeSlot18, 18, Opaque);
SLOT(mayRunAtOnce, 19, bool(GAME_THISCALL*)(IFunction*));
SLOT(setMayRunAtOnce, 20, void(GAME_THISCALL*)(IFunction*, bool));
SLOT(hasScriptFunction, 21, bool(GAME_THISCALL*)(IFunction*));
SLOT(invoke, 22, bool(GAME_THISCALL*)(IFunction*, uint32_t, uint32_t, uint32_t, ScriptValue*,
                                       ScriptCallFrame*));
#undef SLOT

// The game runtime's routines: member functions there, so thiscall.
#define ROUTINE(field, type) \
    static_assert(kSame<decltype(RuntimeRoutines::field), type>, "routine " #field)
ROUTINE(gameHeap, GameHeap*);
ROUTINE(heapAllocate, void*(GAME_THISCALL*)(GameHeap*, uint32_t, uint32_t, bool));
ROUTINE(heapFree, void(GAME_THISCALL*)(GameHeap*, void*, bool));
ROUTINE(nativeFunctionConstruct,
        void(GAME_THISCALL*)(NativeFunctionBase*, const char*, const char*, uint32_t, uint32_t));
ROUTINE(nativeFunctionDestruct, void(GAME_THISCALL*)(NativeFunctionBase*));
ROUTINE(functionSlot6, Opaque);
ROUTINE(functionSlot15, Opaque);
ROUTINE(functionSlot16, Opaque);
ROUTINE(functionSlot18, Opaque);
ROUTINE(handleConstruct, StringCache::Ref*(GAME_THISCALL*)(StringCache::Ref*, const char*));
ROUTINE(handleSet, StringCache::Ref*(GAME_THISCALL*)(StringCache::Ref*, const char*));
ROUTINE(handleRelease, void(GAME_THISCALL*)(StringCache::Ref*));
ROUTINE(argumentBase, uint32_t(GAME_THISCALL*)(ScriptStack*, ScriptCallFrame*));
ROUTINE(argumentValue, ScriptValue*(GAME_THISCALL*)(ScriptStack*, ScriptCallFrame*, uint32_t, uint32_t));
ROUTINE(valueReset, void(GAME_THISCALL*)(ScriptValue*));
#undef ROUTINE

// The registry's operation is a member function too; the extender's own
// records and the entry points use the C convention.
static_assert(kSame<RegisterFunctionRoutine, void(GAME_THISCALL*)(ScriptClassRegistry*, IFunction*)>,
              "register-function operation");
static_assert(kSame<decltype(HostLoadInterface::QueryInterface), void*(GAME_CDECL*)(uint32_t)>,
              "query-interface operation");
static_assert(kSame<decltype(HostLoadInterface::HostQuery), uint32_t(GAME_CDECL*)()>, "sixth operation");
static_assert(kSame<RegisterCallback, bool(GAME_CDECL*)(ScriptClassRegistry*)>, "registration callback");
static_assert(kSame<decltype(ScriptInterface::Register), bool(GAME_CDECL*)(bool(GAME_CDECL*)(ScriptClassRegistry*))>,
              "register operation");
static_assert(kSame<decltype(&SKSEPlugin_Query), bool(GAME_CDECL*)(const HostLoadInterface*, PluginInfoRecord*)>,
              "query entry point");
static_assert(kSame<decltype(&SKSEPlugin_Load), bool(GAME_CDECL*)(const HostLoadInterface*)>,
              "load entry point");

struct RawAnswer {
    uint32_t eax;
    int32_t stackLeft;  // bytes the callee left on (positive) or took off the stack
};

// Calls a slot at a raw address as the game's VM does: the words pushed
// right to left, the object in ECX, the callee pops them. Answers EAX and how
// far the stack pointer moved.
template <size_t Count>
RawAnswer RawCall(const void* routine, IFunction* self, const uint32_t (&words)[Count])
{
    uint32_t before, after, eax;
    IFunction* object = self;
    uint32_t left = Count;
    __asm__ volatile(
        "movl %%esp, %[before]\n\t"
        "1:\n\t"
        "pushl -4(%[words],%[left],4)\n\t"
        "decl %[left]\n\t"
        "jnz 1b\n\t"
        "call *%[routine]\n\t"
        "movl %%esp, %[after]\n\t"
        "movl %[before], %%esp\n\t"
        : [before] "=&D"(before), [after] "=&S"(after), "=a"(eax), "+c"(object), [left] "+d"(left)
        : [words] "b"(words), [routine] "a"(routine)
        : "memory", "cc");
    return RawAnswer{eax, static_cast<int32_t>(before - after)};
}

const void* SlotAddress(IFunction* object, size_t slot)
{
    return reinterpret_cast<const void* const*>(object->table)[slot];
}

}  // namespace

TEST(CallingConventionTest, InvokeAndTheDestructorCalledAtRawAddressesLeaveTheStackBalanced)
{
    standin::Host host;
    PluginInfoRecord info{};
    ASSERT_TRUE(host.Query(info));
    ASSERT_TRUE(host.Load());
    ASSERT_TRUE(host.Register());
    ASSERT_EQ(host.Registered().size(), 11u);

    for (IFunction* object : host.Registered()) {
        SCOPED_TRACE(standin::Host::NameOf(object));
        standin::CallFrame frame({standin::StringValue("no such file.txt"), standin::StringValue("line"),
                                  standin::BoolValue(true), standin::IntValue(1)});
        standin::Value result;
        // baseObject, hostValueA, hostValueB, result, frame
        const uint32_t words[5] = {0, 0, 0, reinterpret_cast<uint32_t>(result.Raw()),
                                   reinterpret_cast<uint32_t>(frame.Frame())};
        RawAnswer answer = RawCall(SlotAddress(object, kInvokeSlot), object, words);
        EXPECT_EQ(answer.stackLeft, 0);
        EXPECT_EQ(answer.eax & 0xFF, 1u) << "Invoke answers true";
        EXPECT_TRUE(result.type == ScriptValue::kBool || result.type == ScriptValue::kString);
    }

    // The game destroys an object through slot 0 with bit 0 set.
    using PathQuery = NativeFunction1<StaticFunctionTag, bool, StringCache::Ref>;
    const RuntimeRoutines& runtime = ActiveRuntime();
    size_t live = standin::Heap().live;
    void* memory = runtime.heapAllocate(runtime.gameHeap, sizeof(PathQuery), 0, false);
    IFunction* object = ConstructBinding<PathQuery>(memory, "IsLoaded", "Linefold", IsLoaded);
    const uint32_t flags[1] = {1};
    RawAnswer answer = RawCall(SlotAddress(object, 0), object, flags);
    EXPECT_EQ(answer.stackLeft, 0);
    EXPECT_EQ(answer.eax, reinterpret_cast<uint32_t>(object));
    EXPECT_EQ(standin::Heap().live, live);
}

#endif
