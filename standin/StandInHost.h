#pragma once

// A stand-in for the script extender and the game's script virtual machine:
// it starts the plugin the way the host does and calls its functions the way
// the VM does, through the objects' own tables, by slot.

#include "standin/MainThread.h"
#include "standin/StandInRuntime.h"

#include <string>
#include <vector>

namespace standin {

// The plugin's two entry points as the host finds them.
struct PluginEntryPoints {
    bool (*query)(const HostLoadInterface* host, PluginInfoRecord* info);
    bool (*load)(const HostLoadInterface* host);
};

// Those of the plugin code linked into this program.
PluginEntryPoints LinkedPlugin();

class Host {
public:
    // Starts the plugin through these entry points: the linked code's, or
    // those a loaded plugin library exports.
    explicit Host(PluginEntryPoints plugin = LinkedPlugin());
    // Destroys every registered object through its destructor slot, which
    // returns its memory to the GameHeap.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // What the host tells the plugin and how it answers it.
    void SetRuntimeVersion(uint32_t version) { loadInterface.runtimeVersion = version; }
    void SetEditor(bool editor) { loadInterface.isEditor = editor ? 1 : 0; }
    void OfferScriptInterface(bool offer) { offerScriptInterface = offer; }
    void SetRegisterAnswer(bool answer) { registerAnswer = answer; }

    // The host's start of a plugin: query, load, then the callback it was
    // handed, with the registry. Registration answers false when the plugin
    // handed over no callback.
    bool Query(PluginInfoRecord& info);
    bool Load();
    bool Register();

    int HostQueryCalls() const { return hostQueryCalls; }
    // The interfaces the plugin asked for, in order.
    const std::vector<uint32_t>& QueriedInterfaces() const { return queriedInterfaces; }
    bool HasCallback() const { return callback != nullptr; }

    // The registered objects, in registration order.
    const std::vector<IFunction*>& Registered() const { return registered; }
    IFunction* Find(const std::string& name) const;
    static std::string NameOf(IFunction* function);
    static uint16_t ParameterCountOf(IFunction* function);

    // Whether the engine may run the function's calls at once on the
    // calling script's thread (slot 19); without it, with a main thread
    // modelled, its calls wait for a frame.
    static bool RunsAtOnce(IFunction* function);
    // What the engine's registry does for a function it must keep on the
    // main thread: clears that permission (slot 20) of every registered one.
    void KeepOnMainThread();
    // Models the game's main thread from now on (null: none, every call made
    // at once, on the caller's thread).
    void UseMainThread(MainThread* main) { mainThread = main; }

    // Calls a registered function as the VM does: a frame holding the
    // arguments (and their references) for the call, slot 22 of the object's
    // table, the result value read back. The result holds its string's
    // reference until the caller is done with it. With a main thread
    // modelled, a function that may not run at once is called there, and
    // this waits for it.
    Value Call(IFunction* function, std::vector<Value> arguments, bool* answered = nullptr);
    Value Call(const std::string& name, std::vector<Value> arguments);

private:
    static void* QueryInterface(uint32_t id);
    static uint32_t HostQuery();
    static bool StoreCallback(RegisterCallback callback);
    static void LINEFOLD_THISCALL RegisterFunction(ScriptClassRegistry* registry, IFunction* function);

    PluginEntryPoints plugin;
    HostLoadInterface loadInterface;
    ScriptInterface scriptInterface;
    ScriptClassRegistry registry;
    std::vector<HostRoutine> registryOperations;
    RegisterCallback callback = nullptr;
    bool offerScriptInterface = true;
    bool registerAnswer = true;
    int hostQueryCalls = 0;
    std::vector<uint32_t> queriedInterfaces;
    std::vector<IFunction*> registered;
    MainThread* mainThread = nullptr;
};

}  // namespace standin
