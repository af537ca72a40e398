#include "support/TestSupport.h"

#include "functions/OpenFileTable.h"
#include "functions/ScriptFunctions.h"
#include "plugin/NativeFunction.h"
#include "standin/StandInHost.h"

#include <cmath>
#include <cstring>

using lftest::H;
using lftest::LogCapture;
using Lines = std::vector<std::string>;
using namespace standin;

namespace {

using PathQuery = NativeFunction1<StaticFunctionTag, bool, StringCache::Ref>;
using LineQuery = NativeFunction1<StaticFunctionTag, StringCache::Ref, StringCache::Ref>;
using LineWrite = NativeFunction2<StaticFunctionTag, bool, StringCache::Ref, StringCache::Ref>;
using FileLoad = NativeFunction4<StaticFunctionTag, bool, StringCache::Ref, bool, bool, uint32_t>;

template <class Binding>
Binding* Build(typename Binding::Function function, const char* name = "Name")
{
    const RuntimeRoutines& runtime = ActiveRuntime();
    void* memory = runtime.heapAllocate(runtime.gameHeap, sizeof(Binding), 0, false);
    return ConstructBinding<Binding>(memory, name, "Linefold", function);
}

void Release(IFunction* object) { object->table->destroy(object, 1); }

const HostRoutine* Slots(const FunctionTable& table) { return reinterpret_cast<const HostRoutine*>(&table); }

// Every slot but Invoke behaves the same in every binding.
template <class Binding>
void ExpectCommonSlots(typename Binding::Function function)
{
    SCOPED_TRACE(Binding::kParameterCount);
    Binding* object = Build<Binding>(function);
    const FunctionTable& table = *object->table;
    EXPECT_EQ(&table, &TableOf<Binding>());
    object->hostCount = 0x1234;
    object->hostFlagA = 0x5A;
    object->hostValue = 0xCAFE;

    EXPECT_EQ(table.handle1(object), &object->handle1);
    EXPECT_EQ(table.handle2(object), &object->handle2);
    EXPECT_EQ(table.handle3(object), &object->handle3);
    EXPECT_EQ(table.resultType(object), object->resultType);
    EXPECT_EQ(table.hostCount(object), 0x1234);
    EXPECT_EQ(table.hostCountAgain(object), 0x1234);
    EXPECT_TRUE(table.alwaysTrue(object));
    EXPECT_EQ(table.hostFlagA(object), 0x5A);
    EXPECT_FALSE(table.alwaysFalse(object));
    EXPECT_EQ(table.alwaysZero(object), 0u);
    EXPECT_EQ(table.hostValue(object), 0xCAFEu);
    EXPECT_EQ(table.handle4(object), &object->handle4);
    table.ignoreWord(object, 77);
    uint32_t location = 99;
    EXPECT_FALSE(table.clearWord(object, 5, &location));
    EXPECT_EQ(location, 0u);
    table.setMayRunAtOnce(object, true);
    EXPECT_TRUE(table.mayRunAtOnce(object));
    table.setMayRunAtOnce(object, false);
    EXPECT_FALSE(table.mayRunAtOnce(object));
    EXPECT_TRUE(table.hasScriptFunction(object));
    object->scriptFunction = nullptr;
    EXPECT_FALSE(table.hasScriptFunction(object));

    // The four runtime routines are in the table as they are.
    const RuntimeRoutines& runtime = ActiveRuntime();
    const HostRoutine* slots = Slots(table);
    EXPECT_EQ(slots[6], runtime.functionSlot6);
    EXPECT_EQ(slots[15], runtime.functionSlot15);
    EXPECT_EQ(slots[16], runtime.functionSlot16);
    EXPECT_EQ(slots[18], runtime.functionSlot18);
    for (int slot : {6, 15, 16, 18}) {
        size_t before = SlotCalls(slot);
        EXPECT_EQ(CallSlot(object, slot), static_cast<uint32_t>(slot));
        EXPECT_EQ(SlotCalls(slot), before + 1);
    }
    EXPECT_EQ(table.invoke, &Binding::Invoke);
    Release(object);
}

}  // namespace

TEST(FunctionObjectTest, EverySlotOfEveryBindingHoldsItsOperation)
{
    ExpectCommonSlots<PathQuery>(IsLoaded);
    ExpectCommonSlots<LineQuery>(NextLine);
    ExpectCommonSlots<LineWrite>(WriteLine);
    ExpectCommonSlots<FileLoad>(LoadFile);
    // Each binding has a table of its own that differs only in Invoke.
    const HostRoutine* first = Slots(TableOf<PathQuery>());
    const HostRoutine* second = Slots(TableOf<FileLoad>());
    for (size_t slot = 0; slot < kFunctionSlots; ++slot)
        EXPECT_EQ(first[slot] == second[slot], slot != kInvokeSlot) << "slot " << slot;
}

TEST(FunctionObjectTest, ConstructionFillsTheHostPartThenTheBindingsTypes)
{
    HeapCounts heap = Heap();
    FileLoad* load = Build<FileLoad>(LoadFile, "LoadFile");
    EXPECT_EQ(Heap().allocations, heap.allocations + 1);
    EXPECT_EQ(load->hostWord, kHostWord);
    EXPECT_EQ(std::string(TextOf(load->handle1)), "LoadFile");
    EXPECT_EQ(std::string(TextOf(load->handle2)), "Linefold");
    EXPECT_EQ(load->handle4.data, nullptr);
    EXPECT_EQ(load->hostCount, 4);
    EXPECT_EQ(load->hostFlagA, 1);  // static
    EXPECT_FALSE(load->callForm);
    EXPECT_EQ(load->resultType, ScriptValue::kBool);
    uint32_t expected[] = {2, 5, 5, 3};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(load->parameterTable[i].typeCode, expected[i]) << i;
    EXPECT_EQ(load->scriptFunction, reinterpret_cast<ScriptFunctionPointer>(LoadFile));

    LineQuery* next = Build<LineQuery>(NextLine, "NextLine");
    EXPECT_EQ(next->resultType, ScriptValue::kString);
    EXPECT_EQ(next->parameterTable[0].typeCode, ScriptValue::kString);
    Release(load);
    Release(next);
}

TEST(FunctionObjectTest, FailedHostConstructionReturnsTheMemoryAndPassesTheErrorOn)
{
    HeapCounts heap = Heap();
    FailNextConstruction();
    EXPECT_THROW(Build<PathQuery>(IsGood), std::runtime_error);
    EXPECT_EQ(Heap().live, heap.live);
    EXPECT_EQ(Heap().frees, heap.frees + 1);
}

#if defined(_WIN32) && defined(__i386__)
// Only the 32-bit game raises its C++ exceptions where this compiler's catch
// cannot see them: as structured exceptions.
#include <windows.h>

namespace {

constexpr DWORD kMicrosoftCppException = 0xE06D7363;

// As code built by Microsoft's compiler throws: its magic number, the
// object, its type information.
void RaiseAsTheGameDoes()
{
    ULONG_PTR arguments[3] = {0x19930520, 0, 0};
    RaiseException(kMicrosoftCppException, EXCEPTION_NONCONTINUABLE, 3, arguments);
}

EXCEPTION_REGISTRATION_RECORD*& ChainHead()
{
    NT_TIB* block;
    __asm__("movl %%fs:0x18, %0" : "=r"(block));
    return block->ExceptionList;
}

// Takes a structured exception as a catch of the game would: a record in the
// chain whose handler, found in the search phase, unwinds every frame below
// it (running their handlers) and resumes the test.
struct Taker {
    EXCEPTION_REGISTRATION_RECORD link;
    void* resume[5];
    DWORD code;
    size_t heapLiveWhenFound;
};

EXCEPTION_DISPOSITION NTAPI Take(EXCEPTION_RECORD* exception, void* establisher, CONTEXT*, void*)
{
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    Taker* taker = static_cast<Taker*>(establisher);
    taker->code = exception->ExceptionCode;
    taker->heapLiveWhenFound = Heap().live;
    RtlUnwind(&taker->link, nullptr, exception, nullptr);
    __builtin_longjmp(taker->resume, 1);
}

// The code of the structured exception that left body, or 0.
DWORD StructuredExceptionFrom(void (*body)(), size_t* heapLiveWhenFound = nullptr)
{
    Taker taker{};
    taker.link.Next = ChainHead();
    taker.link.Handler = Take;
    if (__builtin_setjmp(taker.resume) == 0) {
        ChainHead() = &taker.link;
        body();
    }
    ChainHead() = taker.link.Next;
    if (heapLiveWhenFound)
        *heapLiveWhenFound = taker.heapLiveWhenFound;
    return taker.code;
}

}  // namespace

TEST(FunctionObjectTest, HostConstructionRaisedAsTheGameDoesIsCleanedUpOnItsWayOut)
{
    HeapCounts heap = Heap();
    EXCEPTION_REGISTRATION_RECORD* head = ChainHead();
    size_t liveWhenFound = 0;
    CallInNextConstruction(RaiseAsTheGameDoes);
    EXPECT_EQ(StructuredExceptionFrom([] { Build<PathQuery>(IsGood); }, &liveWhenFound),
              kMicrosoftCppException);
    // The memory goes back while the stack is unwound, not while a taker is
    // searched for.
    EXPECT_EQ(liveWhenFound, heap.live + 1);
    EXPECT_EQ(Heap().live, heap.live);
    EXPECT_EQ(Heap().frees, heap.frees + 1);
    EXPECT_EQ(ChainHead(), head);

    // An exception the routine takes itself is no failure of the construction.
    CallInNextConstruction(
        [] { EXPECT_EQ(StructuredExceptionFrom(RaiseAsTheGameDoes), kMicrosoftCppException); });
    PathQuery* object = Build<PathQuery>(IsGood);
    EXPECT_EQ(object->table, &TableOf<PathQuery>());
    EXPECT_EQ(Heap().live, heap.live + 1);
    EXPECT_EQ(ChainHead(), head);
    Release(object);
}
#endif

TEST(FunctionObjectTest, DestructorReturnsMemoryOnlyWhenAskedTo)
{
    PathQuery* object = Build<PathQuery>(IsGood);
    HeapCounts heap = Heap();
    FunctionCounts functions = Functions();
    EXPECT_EQ(object->table->destroy(object, 0), object);
    EXPECT_EQ(object->table, &IFunctionTable());
    EXPECT_EQ(Functions().destroyed, functions.destroyed + 1);
    EXPECT_EQ(Heap().live, heap.live);
    // Its table is now the interface's, whose destructor frees nothing.
    EXPECT_EQ(object->table->destroy(object, 1), object);
    EXPECT_EQ(Heap().live, heap.live);

    PathQuery* other = Build<PathQuery>(IsGood);
    heap = Heap();
    EXPECT_EQ(other->table->destroy(other, 1), other);
    EXPECT_EQ(Heap().live, heap.live - 1);
    EXPECT_EQ(Heap().foreignFrees, heap.foreignFrees);
    ActiveRuntime().heapFree(ActiveRuntime().gameHeap, object, false);
}

TEST(FunctionObjectTest, CountArgumentsConvertWithSaturation)
{
    using Count = invocation::ScriptType<uint32_t>;
    struct Case {
        Value value;
        uint32_t expected;
    } cases[] = {
        {IntValue(7), 7},
        {IntValue(-1), 4294967295u},
        {FloatValue(3.9f), 3},
        {FloatValue(-0.5f), 0},
        {FloatValue(-1.0f), 4294967295u},
        {FloatValue(-2.0f), 4294967295u},
        {FloatValue(4294967296.0f), 4294967295u},
        {FloatValue(2147483648.0f), 2147483648u},
        {FloatValue(NAN), 4294967295u},
        {FloatValue(INFINITY), 4294967295u},
        {BoolValue(true), 1},
        {StringValue("12"), 0},
        {NoneValue(), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Count::From(c.value.Raw()), c.expected) << "type " << c.value.type;
    Value byte = NoneValue();
    byte.type = ScriptValue::kBool;
    std::memset(&byte.data, 0, sizeof byte.data);
    reinterpret_cast<unsigned char*>(&byte.data)[0] = 2;
    EXPECT_EQ(Count::From(byte.Raw()), 2u);  // the bool byte, zero-extended
    EXPECT_TRUE(invocation::ScriptType<bool>::From(byte.Raw()));
}

TEST(FunctionObjectTest, BoolArgumentsConvertFromIntegersFloatsAndBools)
{
    using Flag = invocation::ScriptType<bool>;
    struct Case {
        Value value;
        bool expected;
    } cases[] = {
        {IntValue(7), true},      {IntValue(0), false},    {FloatValue(0.0f), false},
        {FloatValue(-0.0f), false}, {FloatValue(0.1f), true}, {FloatValue(NAN), true},
        {BoolValue(true), true},  {BoolValue(false), false}, {StringValue("true"), false},
        {NoneValue(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Flag::From(c.value.Raw()), c.expected) << "type " << c.value.type;
}

class InvokeTest : public lftest::ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        PluginInfoRecord info{};
        ASSERT_TRUE(host.Query(info));
        host.Load();
        host.Register();
    }
    Host host;
};

TEST_F(InvokeTest, ArgumentsReachTheScriptFunctionsConverted)
{
    Value loaded = host.Call("LoadFile", {StringValue("w.txt"), IntValue(0), FloatValue(0.0f), FloatValue(3.9f)});
    EXPECT_EQ(loaded.type, ScriptValue::kBool);
    EXPECT_TRUE(loaded.data.boolean);
    std::shared_ptr<ScriptFile> entry = TheOpenFileTable().Find("w.txt");
    ASSERT_NE(entry, nullptr);
    LineFile* file = &entry->file;
    EXPECT_EQ(file->bufferSize, 3);
    EXPECT_FALSE(file->readOnly);
    EXPECT_FALSE(file->append);

    LogCapture log;
    EXPECT_FALSE(host.Call("LoadFile", {StringValue("x.txt"), IntValue(7), BoolValue(false), FloatValue(-2.0f)}).data.boolean);
    EXPECT_FALSE(host.Call("LoadFile", {StringValue("y.txt"), BoolValue(false), NoneValue(), IntValue(-1)}).data.boolean);
    EXPECT_TRUE(host.Call("LoadFile", {StringValue("z.txt"), FloatValue(0.0f), IntValue(1), BoolValue(true)}).data.boolean);
    EXPECT_EQ(TheOpenFileTable().Find("z.txt")->file.bufferSize, 1);
    EXPECT_TRUE(TheOpenFileTable().Find("z.txt")->file.append);
    EXPECT_EQ(log.Lines(), (Lines{"Loading file 'x.txt'...", "  File does not exist! Aborting load.",
                                  "Loading file 'y.txt'...", "  Illegal buffer size '-1'!",
                                  "Loading file 'z.txt'...", "  File successfully loaded."}));
}

TEST_F(InvokeTest, NonStringPathsAndLinesArriveAsTheEmptyText)
{
    LogCapture log;
    EXPECT_FALSE(host.Call("LoadFile", {IntValue(5), BoolValue(false), BoolValue(false), IntValue(1)}).data.boolean);
    EXPECT_EQ(log.Lines()[0], "Loading file ''...");
    ASSERT_TRUE(host.Call("LoadFile", {StringValue("w.txt"), BoolValue(false), BoolValue(false), IntValue(4)}).data.boolean);
    EXPECT_TRUE(host.Call("WriteLine", {StringValue("w.txt"), FloatValue(1.5f)}).data.boolean);
    EXPECT_TRUE(host.Call("WriteLine", {StringValue("w.txt"), NoneValue()}).data.boolean);
    EXPECT_TRUE(host.Call("CloseFile", {StringValue("w.txt")}).data.boolean);
    EXPECT_EQ(lftest::ReadBytes("w.txt"), "\r\n\r\n");
}

TEST_F(InvokeTest, ResultsAreStoredAsScriptValuesAndEveryCallAnswersTrue)
{
    lftest::WriteBytes("r.txt", "first\r\n");
    ASSERT_TRUE(host.Call("LoadFile", {StringValue("r.txt"), BoolValue(true), BoolValue(false), IntValue(2)}).data.boolean);
    size_t resets = ValueResets();
    size_t bases = ArgumentBaseCalls();
    bool answered = false;
    Value line = host.Call(host.Find("NextLine"), {StringValue("r.txt")}, &answered);
    EXPECT_TRUE(answered);
    EXPECT_EQ(line.type, ScriptValue::kString);
    EXPECT_STREQ(TextOf(line.data.string), "first");
    EXPECT_EQ(ValueResets(), resets + 1);
    EXPECT_EQ(ArgumentBaseCalls(), bases + 1);

    Value past = host.Call("NextLine", {StringValue("r.txt")});
    EXPECT_EQ(past.type, ScriptValue::kString);
    EXPECT_STREQ(TextOf(past.data.string), "");

    for (IFunction* function : host.Registered()) {
        std::vector<Value> arguments(Host::ParameterCountOf(function), StringValue("none.txt"));
        Value result = host.Call(function, arguments, &answered);
        EXPECT_TRUE(answered) << Host::NameOf(function);
        EXPECT_EQ(result.type, Host::NameOf(function) == "NextLine" ? ScriptValue::kString : ScriptValue::kBool);
    }
    // The arguments are not counted: a missing one is no value at all.
    EXPECT_FALSE(host.Call("IsLoaded", {}).data.boolean);
}

TEST_F(InvokeTest, AnErrorInsideACallBecomesTheFailureAnswerAndOneLogLine)
{
    ASSERT_TRUE(host.Call("LoadFile", {StringValue("w.txt"), BoolValue(false), BoolValue(false), IntValue(4)}).data.boolean);
    LogCapture log;
    FailHandles(1);  // the path argument cannot be had
    bool answered = false;
    Value result = host.Call(host.Find("WriteLine"), {StringValue("w.txt"), StringValue("x")}, &answered);
    EXPECT_TRUE(answered);
    EXPECT_EQ(result.type, ScriptValue::kBool);
    EXPECT_FALSE(result.data.boolean);

    lftest::WriteBytes("r.txt", "line\r\n");
    ASSERT_TRUE(host.Call("LoadFile", {StringValue("r.txt"), BoolValue(true), BoolValue(false), IntValue(2)}).data.boolean);
    FailHandles(1);
    Value text = host.Call("NextLine", {StringValue("r.txt")});
    EXPECT_EQ(text.type, ScriptValue::kString);
    EXPECT_STREQ(TextOf(text.data.string), "");
    EXPECT_EQ(log.Lines(), (Lines{"  Error in script call: std::bad_alloc", "Loading file 'r.txt'...",
                                  "  File successfully loaded.", "  Error in script call: std::bad_alloc"}));
    // Nothing was taken from the file by the failed call.
    EXPECT_STREQ(TextOf(host.Call("NextLine", {StringValue("r.txt")}).data.string), "line");
}

TEST_F(InvokeTest, AFailureAtAnyHandleOfACallGivesBackTheOnesMadeBeforeIt)
{
    lftest::WriteBytes("r.txt", "");
    ASSERT_TRUE(host.Call("LoadFile", {StringValue("r.txt"), BoolValue(true), BoolValue(false), IntValue(2)}).data.boolean);
    ASSERT_TRUE(host.Call("LoadFile", {StringValue("w.txt"), BoolValue(false), BoolValue(false), IntValue(2)}).data.boolean);
    StringCounts strings = Strings();
    // NextLine: the path, the answer, the result; WriteLine: the path, the line.
    for (int after = 0; after < 3; ++after) {
        FailHandles(1, after);
        EXPECT_STREQ(TextOf(host.Call("NextLine", {StringValue("r.txt")}).data.string), "");
        FailHandles(1, after);
        host.Call("WriteLine", {StringValue("w.txt"), StringValue("y")});
        FailHandles(0);
        EXPECT_EQ(Strings(), strings) << after;
    }
}

// A session of thousands of lines through Invoke: once the VM lets go of its
// frames and results, the cache holds what it held before, so no handle the
// plugin made was kept (or given back twice, which aborts).
TEST_F(InvokeTest, ASessionLeavesTheStringCacheAsItFoundIt)
{
    StringCounts before = Strings();
    auto line = [](int i) { return "Line " + std::to_string(i) + std::string(i % 50, 'x'); };
    const int kLines = 3000;
    ASSERT_TRUE(host.Call("LoadFile", {StringValue("w.txt"), BoolValue(false), BoolValue(false), IntValue(100)}).data.boolean);
    for (int i = 0; i < kLines; ++i)
        ASSERT_TRUE(host.Call("WriteLine", {StringValue("w.txt"), StringValue(line(i))}).data.boolean);
    EXPECT_TRUE(host.Call("CloseFile", {StringValue("w.txt")}).data.boolean);

    ASSERT_TRUE(host.Call("LoadFile", {StringValue("w.txt"), BoolValue(true), BoolValue(false), IntValue(100)}).data.boolean);
    int read = 0;
    for (; host.Call("HasNextLine", {StringValue("w.txt")}).data.boolean; ++read) {
        Value result = host.Call("NextLine", {StringValue("w.txt")});
        ASSERT_EQ(TextOf(result.data.string), line(read));
        ASSERT_EQ(ReferencesOf(line(read)), 1u);  // the result's own, no other
    }
    EXPECT_EQ(read, kLines);
    EXPECT_STREQ(TextOf(host.Call("NextLine", {StringValue("w.txt")}).data.string), "");
    EXPECT_TRUE(host.Call("DeleteAnyFile", {StringValue("w.txt")}).data.boolean);
    for (IFunction* function : host.Registered())
        host.Call(function, std::vector<Value>(Host::ParameterCountOf(function), StringValue("gone.txt")));
    EXPECT_EQ(Strings(), before);
}
