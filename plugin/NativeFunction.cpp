#include "plugin/NativeFunction.h"

#include "common/IDebugLog.h"
#include "plugin/FailureCleanup.h"
#include "plugin/RuntimeRoutines.h"

#include <cmath>
#include <cstring>

#if defined(__i386__)
// The host reads these fields by offset. The classes are plain records that
// only look non-standard-layout to the compiler because they inherit.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(IFunction, table) == 0 && offsetof(IFunction, hostWord) == 4, "IFunction");
static_assert(offsetof(NativeFunctionBase, handle1) == 8 && offsetof(NativeFunctionBase, handle2) == 12 &&
                  offsetof(NativeFunctionBase, handle3) == 16 &&
                  offsetof(NativeFunctionBase, resultType) == 20 &&
                  offsetof(NativeFunctionBase, parameterTable) == 24 &&
                  offsetof(NativeFunctionBase, hostHalfWord) == 28 &&
                  offsetof(NativeFunctionBase, hostCount) == 30 &&
                  offsetof(NativeFunctionBase, hostFlagA) == 32 &&
                  offsetof(NativeFunctionBase, mayRunAtOnce) == 33 &&
                  offsetof(NativeFunctionBase, hostValue) == 36 &&
                  offsetof(NativeFunctionBase, handle4) == 40 && sizeof(NativeFunctionBase) == 44,
              "NativeFunctionBase");
static_assert(offsetof(NativeFunction, scriptFunction) == 44 && sizeof(NativeFunction) == 48,
              "NativeFunction");
using SomeBinding = NativeFunction1<StaticFunctionTag, bool, StringCache::Ref>;
static_assert(offsetof(SomeBinding, callForm) == 48 && sizeof(SomeBinding) == 52, "binding");
static_assert(sizeof(ParameterEntry) == 8 && offsetof(ParameterEntry, typeCode) == 4, "parameter entry");
#pragma GCC diagnostic pop
#endif

namespace {

NativeFunction* Object(IFunction* self) { return static_cast<NativeFunction*>(self); }

IFunction* LINEFOLD_THISCALL Destroy(IFunction* self, uint32_t flags)
{
    const RuntimeRoutines& runtime = ActiveRuntime();
    try {
        self->table = &NativeFunctionTable();
        runtime.nativeFunctionDestruct(Object(self));
    } catch (...) {
        LogMessage("  Error destroying a script function object");
    }
    self->table = &IFunctionTable();
    if (flags & 1)
        runtime.heapFree(runtime.gameHeap, self, false);
    return self;
}

StringCache::Ref* LINEFOLD_THISCALL Handle1(IFunction* self) { return &Object(self)->handle1; }
StringCache::Ref* LINEFOLD_THISCALL Handle2(IFunction* self) { return &Object(self)->handle2; }
StringCache::Ref* LINEFOLD_THISCALL Handle3(IFunction* self) { return &Object(self)->handle3; }
uint32_t LINEFOLD_THISCALL ResultType(IFunction* self) { return Object(self)->resultType; }
uint16_t LINEFOLD_THISCALL HostCount(IFunction* self) { return Object(self)->hostCount; }
bool LINEFOLD_THISCALL AlwaysTrue(IFunction*) { return true; }
uint8_t LINEFOLD_THISCALL HostFlagA(IFunction* self) { return Object(self)->hostFlagA; }
bool LINEFOLD_THISCALL AlwaysFalse(IFunction*) { return false; }
uint32_t LINEFOLD_THISCALL AlwaysZero(IFunction*) { return 0; }
uint32_t LINEFOLD_THISCALL HostValue(IFunction* self) { return Object(self)->hostValue; }
StringCache::Ref* LINEFOLD_THISCALL Handle4(IFunction* self) { return &Object(self)->handle4; }
void LINEFOLD_THISCALL IgnoreWord(IFunction*, uint32_t) {}

bool LINEFOLD_THISCALL ClearWord(IFunction*, uintptr_t, uint32_t* location)
{
    if (location)
        *location = 0;
    return false;
}

bool LINEFOLD_THISCALL MayRunAtOnce(IFunction* self) { return Object(self)->mayRunAtOnce; }
void LINEFOLD_THISCALL SetMayRunAtOnce(IFunction* self, bool value) { Object(self)->mayRunAtOnce = value; }

bool LINEFOLD_THISCALL HasScriptFunction(IFunction* self)
{
    return Object(self)->scriptFunction != nullptr;
}

// The destructor of the interface itself: the memory is the GameHeap's and
// is never released here.
IFunction* LINEFOLD_THISCALL DestroyInterface(IFunction* self, uint32_t) { return self; }

// An abstract operation, called while an object is only partly built or torn
// down: a host fault, answered with nothing rather than a jump to nowhere.
template <class Answer, class... Arguments>
Answer LINEFOLD_THISCALL Abstract(IFunction*, Arguments...)
{
    LogMessage("  Abstract operation of a script function object called");
    return Answer();
}

template <class... Arguments>
void LINEFOLD_THISCALL AbstractVoid(IFunction*, Arguments...)
{
    LogMessage("  Abstract operation of a script function object called");
}

// The four operations the runtime performs itself, whatever the object's type.
void SetRuntimeSlots(FunctionTable& table)
{
    const RuntimeRoutines& runtime = ActiveRuntime();
    table.runtimeSlot6 = runtime.functionSlot6;
    table.runtimeSlot15 = runtime.functionSlot15;
    table.runtimeSlot16 = runtime.functionSlot16;
    table.runtimeSlot18 = runtime.functionSlot18;
}

FunctionTable MakeNativeFunctionTable()
{
    FunctionTable table;
    table.destroy = Destroy;
    table.handle1 = Handle1;
    table.handle2 = Handle2;
    table.handle3 = Handle3;
    table.resultType = ResultType;
    table.hostCount = HostCount;
    table.hostCountAgain = HostCount;
    table.alwaysTrue = AlwaysTrue;
    table.hostFlagA = HostFlagA;
    table.alwaysFalse = AlwaysFalse;
    table.alwaysZero = AlwaysZero;
    table.hostValue = HostValue;
    table.handle4 = Handle4;
    table.ignoreWord = IgnoreWord;
    table.clearWord = ClearWord;
    table.mayRunAtOnce = MayRunAtOnce;
    table.setMayRunAtOnce = SetMayRunAtOnce;
    table.hasScriptFunction = HasScriptFunction;
    table.invoke = Abstract<bool>;
    SetRuntimeSlots(table);
    return table;
}

FunctionTable MakeInterfaceTable()
{
    FunctionTable table;
    table.destroy = DestroyInterface;
    table.handle1 = table.handle2 = table.handle3 = table.handle4 = Abstract<StringCache::Ref*>;
    table.resultType = table.alwaysZero = table.hostValue = Abstract<uint32_t>;
    table.hostCount = table.hostCountAgain = Abstract<uint16_t>;
    table.alwaysTrue = table.alwaysFalse = table.mayRunAtOnce = table.hasScriptFunction = Abstract<bool>;
    table.hostFlagA = Abstract<uint8_t>;
    table.ignoreWord = AbstractVoid<uint32_t>;
    table.clearWord = Abstract<bool, uintptr_t, uint32_t*>;
    table.setMayRunAtOnce = AbstractVoid<bool>;
    table.invoke = Abstract<bool, uintptr_t, uintptr_t, uintptr_t, ScriptValue*, ScriptCallFrame*>;
    SetRuntimeSlots(table);
    return table;
}

}  // namespace

const FunctionTable& IFunctionTable()
{
    static const FunctionTable table = MakeInterfaceTable();
    return table;
}

const FunctionTable& NativeFunctionTable()
{
    static const FunctionTable table = MakeNativeFunctionTable();
    return table;
}

FunctionTable BindingTable(InvokeOperation invoke)
{
    FunctionTable table = NativeFunctionTable();
    table.invoke = invoke;
    return table;
}

void ConstructHostPart(NativeFunction* object, const char* name, const char* className,
                       uint32_t parameterCount)
{
    const RuntimeRoutines& runtime = ActiveRuntime();
    object->handle1 = object->handle2 = object->handle3 = object->handle4 = StringCache::Ref{nullptr};
    object->table = &NativeFunctionTable();
    RunWithCleanup(
        [&] { runtime.nativeFunctionConstruct(object, name, className, 1, parameterCount); },
        [&] {
            object->table = &IFunctionTable();
            runtime.heapFree(runtime.gameHeap, object, false);
        });
}

void WriteTypeCodes(NativeFunction* object, const uint32_t* parameterTypes,
                    uint32_t parameterCount, uint32_t resultType)
{
    for (uint32_t i = 0; i < parameterCount; ++i)
        object->parameterTable[i].typeCode = parameterTypes[i];
    object->resultType = resultType;
}

namespace invocation {

namespace {
// The first byte of a bool value, exactly as the host stored it.
uint8_t BoolByte(const ScriptValue* value)
{
    uint8_t byte;
    std::memcpy(&byte, &value->data, 1);
    return byte;
}
}  // namespace

bool ScriptType<bool>::From(const ScriptValue* value)
{
    switch (value->type) {
    case ScriptValue::kInteger:
        return value->data.integer != 0;
    case ScriptValue::kFloat:
        return !(value->data.number == 0.0f);  // a NaN counts as true
    case ScriptValue::kBool:
        return BoolByte(value) != 0;
    default:
        return false;
    }
}

void ScriptType<bool>::Store(ScriptValue* result, bool answer)
{
    ActiveRuntime().valueReset(result);
    result->type = ScriptValue::kBool;
    result->data.boolean = answer;
}

OwnedHandle ScriptType<StringCache::Ref>::From(const ScriptValue* value)
{
    OwnedHandle handle;
    const char* text = value->type == ScriptValue::kString ? value->data.string.data : nullptr;
    ActiveRuntime().handleSet(handle.Target(), text);
    return handle;
}

void ScriptType<StringCache::Ref>::Store(ScriptValue* result, StringCache::Ref answer)
{
    const RuntimeRoutines& runtime = ActiveRuntime();
    runtime.valueReset(result);
    result->type = ScriptValue::kString;
    runtime.handleSet(&result->data.string, answer.data);
}

uint32_t ScriptType<uint32_t>::From(const ScriptValue* value)
{
    switch (value->type) {
    case ScriptValue::kInteger:
        return static_cast<uint32_t>(value->data.integer);
    case ScriptValue::kFloat: {
        double number = value->data.number;
        if (std::isnan(number) || number <= -1.0 || number >= 4294967296.0)
            return 0xFFFFFFFFu;
        if (number < 0.0)
            return 0;
        return static_cast<uint32_t>(number);
    }
    case ScriptValue::kBool:
        return BoolByte(value);
    default:
        return 0;
    }
}

Arguments::Arguments(ScriptCallFrame* frame)
    : frame(frame), base(ActiveRuntime().argumentBase(frame->stack, frame))
{
}

const ScriptValue* Arguments::Fetch()
{
    return ActiveRuntime().argumentValue(frame->stack, frame, index++, base);
}

void ReportFailedCall(const char* what) { LogMessage("  Error in script call: %s", what); }

}  // namespace invocation
