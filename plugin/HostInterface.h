#pragma once

// The records and objects the plugin receives from its host, the script
// extender, or reaches in the game runtime. Their layouts are the host's:
// fields in this order, each 32 bits wide on the 32-bit game.

#include <cstddef>
#include <cstdint>

// Routines of the game runtime are member functions there, called with the
// thiscall convention of 32-bit x86 (the object in ECX, the callee pops the
// arguments). GCC gives i386 Linux the same convention, so the 32-bit Linux
// build runs these tables as the game calls them; on 64-bit targets there is
// one convention and the attribute is left out.
#if defined(__i386__)
#define LINEFOLD_THISCALL __attribute__((thiscall))
#else
#define LINEFOLD_THISCALL
#endif

// A routine whose arguments only the host knows; stored and passed on as it is.
using HostRoutine = void (*)();

// The game's interned string handle: one word pointing to the interned text.
namespace StringCache {
struct Ref {
    const char* data;  // null: the empty handle, no text at all
};
}  // namespace StringCache

// The text of a handle; the empty handle counts as the empty text.
inline const char* TextOf(StringCache::Ref handle) { return handle.data ? handle.data : ""; }

// The base-object type of global script functions; always passed as null.
struct StaticFunctionTag;

struct IFunction;
struct NativeFunctionBase;
struct ScriptClassRegistry;
struct ScriptStack;  // the host's, opaque here
struct GameHeap;     // the host's, opaque here

struct HostLoadInterface {
    uint32_t hostVersion;  // not read
    uint32_t runtimeVersion;
    uint32_t editorVersion;  // not read
    uint32_t isEditor;       // non-zero in the editor
    void* (*QueryInterface)(uint32_t id);
    uint32_t (*HostQuery)();  // called once at query time; its answer is not used
};

struct PluginInfoRecord {
    uint32_t infoVersion;
    const char* name;
    uint32_t version;
};

using RegisterCallback = bool (*)(ScriptClassRegistry* registry);

// The record the host answers for interface id 2.
struct ScriptInterface {
    enum : uint32_t { kInterfaceId = 2 };
    uint32_t interfaceVersion;  // not read
    bool (*Register)(RegisterCallback callback);
};

// The host's class registry: only its 24th virtual operation is used.
struct ScriptClassRegistry {
    const HostRoutine* operations;
};
constexpr size_t kRegisterFunctionOperation = 23;
using RegisterFunctionRoutine = void(LINEFOLD_THISCALL*)(ScriptClassRegistry* self,
                                                          IFunction* function);

// A value of the script virtual machine.
struct ScriptValue {
    enum Type : uint32_t { kNone = 0, kString = 2, kInteger = 3, kFloat = 4, kBool = 5 };
    uint32_t type;
    union Data {
        StringCache::Ref string;
        int32_t integer;
        float number;
        bool boolean;  // the first byte
    } data;
};

// One script call's frame: only its first word, the stack, is read.
struct ScriptCallFrame {
    ScriptStack* stack;
};

#if defined(__i386__)
static_assert(sizeof(StringCache::Ref) == 4, "a handle is one word");
static_assert(sizeof(ScriptValue) == 8, "type code and 32 bits of data");
static_assert(offsetof(ScriptValue, data) == 4, "data follows the type code");
static_assert(sizeof(HostLoadInterface) == 24 && offsetof(HostLoadInterface, runtimeVersion) == 4 &&
                  offsetof(HostLoadInterface, isEditor) == 12 &&
                  offsetof(HostLoadInterface, QueryInterface) == 16 &&
                  offsetof(HostLoadInterface, HostQuery) == 20,
              "host load record layout");
static_assert(sizeof(PluginInfoRecord) == 12 && offsetof(PluginInfoRecord, name) == 4 &&
                  offsetof(PluginInfoRecord, version) == 8,
              "plugin information layout");
static_assert(sizeof(ScriptInterface) == 8 && offsetof(ScriptInterface, Register) == 4,
              "script interface layout");
static_assert(sizeof(ScriptCallFrame) == 4, "the frame's first word is the stack");
#endif
