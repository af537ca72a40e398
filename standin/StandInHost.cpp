#include "standin/StandInHost.h"

#include "plugin/PluginMain.h"

#include <stdexcept>

namespace standin {

namespace {

// The records' operations carry no context: one host at a time.
Host* current = nullptr;

constexpr size_t kRegistryOperations = 32;

void LINEFOLD_THISCALL UnusedOperation(ScriptClassRegistry*) {}

template <class Routine>
Routine SlotOf(IFunction* function, size_t slot)
{
    return reinterpret_cast<Routine>(reinterpret_cast<const HostRoutine*>(function->table)[slot]);
}

}  // namespace

PluginEntryPoints LinkedPlugin() { return PluginEntryPoints{SKSEPlugin_Query, SKSEPlugin_Load}; }

Host::Host(PluginEntryPoints plugin)
    : plugin(plugin),
      loadInterface{0x01070000, kSupportedRuntime, 0, 0, QueryInterface, HostQuery},
      scriptInterface{1, StoreCallback},
      registry{nullptr},
      registryOperations(kRegistryOperations,
                         reinterpret_cast<HostRoutine>(&UnusedOperation))
{
    registryOperations[kRegisterFunctionOperation] = reinterpret_cast<HostRoutine>(&RegisterFunction);
    registry.operations = registryOperations.data();
    current = this;
}

Host::~Host()
{
    using Destroy = decltype(FunctionTable::destroy);
    for (IFunction* function : registered)
        SlotOf<Destroy>(function, 0)(function, 1);
    if (current == this)
        current = nullptr;
}

bool Host::Query(PluginInfoRecord& info) { return plugin.query(&loadInterface, &info); }

bool Host::Load() { return plugin.load(&loadInterface); }

bool Host::Register() { return callback && callback(&registry); }

void* Host::QueryInterface(uint32_t id)
{
    current->queriedInterfaces.push_back(id);
    if (id == ScriptInterface::kInterfaceId && current->offerScriptInterface)
        return &current->scriptInterface;
    return nullptr;
}

uint32_t Host::HostQuery()
{
    ++current->hostQueryCalls;
    return 1;
}

bool Host::StoreCallback(RegisterCallback callback)
{
    current->callback = callback;
    return current->registerAnswer;
}

void LINEFOLD_THISCALL Host::RegisterFunction(ScriptClassRegistry*, IFunction* function)
{
    current->registered.push_back(function);
}

IFunction* Host::Find(const std::string& name) const
{
    for (IFunction* function : registered) {
        if (NameOf(function) == name)
            return function;
    }
    return nullptr;
}

std::string Host::NameOf(IFunction* function)
{
    using Handle = decltype(FunctionTable::handle1);
    return TextOf(*SlotOf<Handle>(function, 1)(function));
}

uint16_t Host::ParameterCountOf(IFunction* function)
{
    using Count = decltype(FunctionTable::hostCount);
    return SlotOf<Count>(function, 5)(function);
}

bool Host::RunsAtOnce(IFunction* function)
{
    using Flag = decltype(FunctionTable::mayRunAtOnce);
    return SlotOf<Flag>(function, 19)(function);
}

void Host::KeepOnMainThread()
{
    using SetFlag = decltype(FunctionTable::setMayRunAtOnce);
    for (IFunction* function : registered)
        SlotOf<SetFlag>(function, 20)(function, false);
}

Value Host::Call(IFunction* function, std::vector<Value> arguments, bool* answered)
{
    CallFrame frame(std::move(arguments));
    Value result;
    bool answer = false;
    auto invoke = [&] {
        answer = SlotOf<InvokeOperation>(function, kInvokeSlot)(function, 0, 0, 0, result.Raw(), frame.Frame());
    };
    if (mainThread && !RunsAtOnce(function))
        mainThread->Run(invoke);
    else
        invoke();
    if (answered)
        *answered = answer;
    return result;
}

Value Host::Call(const std::string& name, std::vector<Value> arguments)
{
    IFunction* function = Find(name);
    if (!function)
        throw std::invalid_argument("no function " + name + " is registered");
    return Call(function, std::move(arguments));
}

}  // namespace standin
