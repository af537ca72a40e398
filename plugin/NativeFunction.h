#pragma once

// The function objects through which the host's script virtual machine calls
// the script functions. Their layout and their table of operations are the
// host's: the host reads fields by offset and calls operations by slot, with
// the Microsoft conventions of 32-bit Windows (thiscall, one destructor slot
// that takes a flags word). The tables are built by hand, one per class, so
// that their layout does not depend on how this compiler lays out virtual
// functions; the classes themselves have no virtual functions.

#include "plugin/HostInterface.h"
#include "plugin/RuntimeRoutines.h"

#include <exception>
#include <new>

struct FunctionTable;

// The interface the host knows: every operation but the destructor abstract.
struct IFunction {
    const FunctionTable* table;  // the object's dynamic type
    uint32_t hostWord;
};

// One entry of the host-built parameter table.
struct ParameterEntry {
    uint32_t hostWord;
    uint32_t typeCode;
};

// The host-defined part of a native function. The host's construction routine
// fills it; the plugin writes only the handles (emptied before that routine),
// the result type and the parameters' type codes.
struct NativeFunctionBase : IFunction {
    StringCache::Ref handle1;
    StringCache::Ref handle2;
    StringCache::Ref handle3;
    uint32_t resultType;
    ParameterEntry* parameterTable;
    uint16_t hostHalfWord;
    uint16_t hostCount;
    uint8_t hostFlagA;
    // The engine's permission to run a call at once on the calling script's
    // thread; without it the call waits for the game's main thread.
    bool mayRunAtOnce;
    uint32_t hostValue;
    StringCache::Ref handle4;
};

// Any script function, as stored; each binding calls it with its real type.
using ScriptFunctionPointer = void (*)();

struct NativeFunction : NativeFunctionBase {
    ScriptFunctionPointer scriptFunction;
};

// The operations, slot by slot (slot 0 first).
struct FunctionTable {
    IFunction*(LINEFOLD_THISCALL* destroy)(IFunction* self, uint32_t flags);  // 0
    StringCache::Ref*(LINEFOLD_THISCALL* handle1)(IFunction* self);           // 1
    StringCache::Ref*(LINEFOLD_THISCALL* handle2)(IFunction* self);           // 2
    StringCache::Ref*(LINEFOLD_THISCALL* handle3)(IFunction* self);           // 3
    uint32_t(LINEFOLD_THISCALL* resultType)(IFunction* self);                 // 4
    uint16_t(LINEFOLD_THISCALL* hostCount)(IFunction* self);                  // 5
    HostRoutine runtimeSlot6;                                                 // 6
    uint16_t(LINEFOLD_THISCALL* hostCountAgain)(IFunction* self);             // 7
    bool(LINEFOLD_THISCALL* alwaysTrue)(IFunction* self);                     // 8
    uint8_t(LINEFOLD_THISCALL* hostFlagA)(IFunction* self);                   // 9
    bool(LINEFOLD_THISCALL* alwaysFalse)(IFunction* self);                    // 10
    uint32_t(LINEFOLD_THISCALL* alwaysZero)(IFunction* self);                 // 11
    uint32_t(LINEFOLD_THISCALL* hostValue)(IFunction* self);                  // 12
    StringCache::Ref*(LINEFOLD_THISCALL* handle4)(IFunction* self);           // 13
    void(LINEFOLD_THISCALL* ignoreWord)(IFunction* self, uint32_t word);      // 14
    HostRoutine runtimeSlot15;                                                // 15
    HostRoutine runtimeSlot16;                                                // 16
    bool(LINEFOLD_THISCALL* clearWord)(IFunction* self, uintptr_t first, uint32_t* location);  // 17
    HostRoutine runtimeSlot18;                                                // 18
    bool(LINEFOLD_THISCALL* mayRunAtOnce)(IFunction* self);                   // 19
    void(LINEFOLD_THISCALL* setMayRunAtOnce)(IFunction* self, bool value);    // 20
    bool(LINEFOLD_THISCALL* hasScriptFunction)(IFunction* self);              // 21
    bool(LINEFOLD_THISCALL* invoke)(IFunction* self, uintptr_t baseObject, uintptr_t hostValueA,
                                    uintptr_t hostValueB, ScriptValue* result,
                                    ScriptCallFrame* frame);                  // 22
};
constexpr size_t kFunctionSlots = 23;
constexpr size_t kInvokeSlot = 22;
static_assert(sizeof(FunctionTable) == kFunctionSlots * sizeof(HostRoutine), "one word per slot");

using InvokeOperation = decltype(FunctionTable::invoke);

// The tables of the two abstract classes, in place while the host's own
// routines construct or destroy an object.
const FunctionTable& IFunctionTable();
const FunctionTable& NativeFunctionTable();

// A table with NativeFunction's operations and the binding's own Invoke.
FunctionTable BindingTable(InvokeOperation invoke);

// Constructs the NativeFunction part of an object in memory from the GameHeap
// (handles emptied, then the host's construction routine run with the
// object's type set to NativeFunction). If that routine raises, the memory
// goes back to the GameHeap and the error passes on.
void ConstructHostPart(NativeFunction* object, const char* name, const char* className,
                       uint32_t parameterCount);

// Writes the parameters' type codes, in order, then the result's.
void WriteTypeCodes(NativeFunction* object, const uint32_t* parameterTypes,
                    uint32_t parameterCount, uint32_t resultType);

// What Invoke does around the script function call: fetching and converting
// the arguments, storing the result, and keeping every error from the host.
namespace invocation {

template <class T> struct ScriptType;

template <> struct ScriptType<bool> {
    static constexpr uint32_t kCode = ScriptValue::kBool;
    static bool From(const ScriptValue* value);
    static void Store(ScriptValue* result, bool answer);
    static bool Failure() { return false; }
    static bool Hold(bool answer) { return answer; }
};

template <> struct ScriptType<StringCache::Ref> {
    static constexpr uint32_t kCode = ScriptValue::kString;
    // A local handle of the argument's text, held until the call is over.
    static OwnedHandle From(const ScriptValue* value);
    // The result value takes a reference of its own.
    static void Store(ScriptValue* result, StringCache::Ref answer);
    // Only the text of the answer is read when it is stored.
    static StringCache::Ref Failure() { return StringCache::Ref{""}; }
    // The script function's answer, given back once it is stored (or not).
    static OwnedHandle Hold(StringCache::Ref answer) { return OwnedHandle(answer); }
};

// The unsigned 32-bit count (the game's unsigned long); an integer to scripts.
template <> struct ScriptType<uint32_t> {
    static constexpr uint32_t kCode = ScriptValue::kInteger;
    static uint32_t From(const ScriptValue* value);
};

// What a script function is given of an argument or answer as it is held.
template <class T> T Pass(T value) { return value; }
inline StringCache::Ref Pass(const OwnedHandle& handle) { return handle.Get(); }

// The arguments of one call, fetched one by one in parameter order.
class Arguments {
public:
    explicit Arguments(ScriptCallFrame* frame);
    template <class T> auto Next() { return ScriptType<T>::From(Fetch()); }

private:
    const ScriptValue* Fetch();
    ScriptCallFrame* frame;
    uint32_t base;
    uint32_t index = 0;
};

// Stores the failure answer after an error escaped the call, and logs it.
void ReportFailedCall(const char* what);

// Runs one call: converts, calls, stores; true in every case.
template <class Result, class Call>
bool Run(ScriptValue* result, ScriptCallFrame* frame, Call call)
{
    try {
        Arguments arguments(frame);
        auto answer = ScriptType<Result>::Hold(call(arguments));
        ScriptType<Result>::Store(result, Pass(answer));
        return true;
    } catch (const std::exception& error) {
        ReportFailedCall(error.what());
    } catch (...) {
        ReportFailedCall("unknown error");
    }
    try {
        ScriptType<Result>::Store(result, ScriptType<Result>::Failure());
    } catch (...) {
        // Not even the failure answer could be stored; the host keeps its value.
    }
    return true;
}

}  // namespace invocation

// The binding templates: the base-object type, the result type, the
// parameter types. Each has its own table and its own Invoke.
template <class Base, class Result, class P1>
struct NativeFunction1 : NativeFunction {
    using ResultType = Result;
    using Function = Result (*)(Base*, P1);
    static constexpr uint32_t kParameterCount = 1;
    static constexpr uint32_t kParameterTypes[] = {invocation::ScriptType<P1>::kCode};

    bool callForm;

    static bool LINEFOLD_THISCALL Invoke(IFunction* self, uintptr_t, uintptr_t, uintptr_t,
                                         ScriptValue* result, ScriptCallFrame* frame)
    {
        auto function = reinterpret_cast<Function>(static_cast<NativeFunction1*>(self)->scriptFunction);
        return invocation::Run<Result>(result, frame, [&](invocation::Arguments& arguments) {
            auto first = arguments.Next<P1>();
            return function(nullptr, invocation::Pass(first));
        });
    }
};

template <class Base, class Result, class P1, class P2>
struct NativeFunction2 : NativeFunction {
    using ResultType = Result;
    using Function = Result (*)(Base*, P1, P2);
    static constexpr uint32_t kParameterCount = 2;
    static constexpr uint32_t kParameterTypes[] = {invocation::ScriptType<P1>::kCode,
                                                   invocation::ScriptType<P2>::kCode};

    bool callForm;

    static bool LINEFOLD_THISCALL Invoke(IFunction* self, uintptr_t, uintptr_t, uintptr_t,
                                         ScriptValue* result, ScriptCallFrame* frame)
    {
        auto function = reinterpret_cast<Function>(static_cast<NativeFunction2*>(self)->scriptFunction);
        return invocation::Run<Result>(result, frame, [&](invocation::Arguments& arguments) {
            auto first = arguments.Next<P1>();
            auto second = arguments.Next<P2>();
            return function(nullptr, invocation::Pass(first), invocation::Pass(second));
        });
    }
};

template <class Base, class Result, class P1, class P2, class P3, class P4>
struct NativeFunction4 : NativeFunction {
    using ResultType = Result;
    using Function = Result (*)(Base*, P1, P2, P3, P4);
    static constexpr uint32_t kParameterCount = 4;
    static constexpr uint32_t kParameterTypes[] = {
        invocation::ScriptType<P1>::kCode, invocation::ScriptType<P2>::kCode,
        invocation::ScriptType<P3>::kCode, invocation::ScriptType<P4>::kCode};

    bool callForm;

    static bool LINEFOLD_THISCALL Invoke(IFunction* self, uintptr_t, uintptr_t, uintptr_t,
                                         ScriptValue* result, ScriptCallFrame* frame)
    {
        auto function = reinterpret_cast<Function>(static_cast<NativeFunction4*>(self)->scriptFunction);
        return invocation::Run<Result>(result, frame, [&](invocation::Arguments& arguments) {
            auto first = arguments.Next<P1>();
            auto second = arguments.Next<P2>();
            auto third = arguments.Next<P3>();
            auto fourth = arguments.Next<P4>();
            return function(nullptr, invocation::Pass(first), invocation::Pass(second),
                            invocation::Pass(third), invocation::Pass(fourth));
        });
    }
};

// The binding's own table.
template <class Binding>
const FunctionTable& TableOf()
{
    static const FunctionTable table = BindingTable(&Binding::Invoke);
    return table;
}

// Builds a binding object in memory obtained from the GameHeap, following the
// host's order: host part first, then the binding's type, its script
// function, the call form and the type codes.
template <class Binding>
Binding* ConstructBinding(void* memory, const char* name, const char* className,
                          typename Binding::Function function)
{
    Binding* object = new (memory) Binding;
    ConstructHostPart(object, name, className, Binding::kParameterCount);
    object->table = &TableOf<Binding>();
    object->scriptFunction = reinterpret_cast<ScriptFunctionPointer>(function);
    object->callForm = false;
    WriteTypeCodes(object, Binding::kParameterTypes, Binding::kParameterCount,
                   invocation::ScriptType<typename Binding::ResultType>::kCode);
    return object;
}
