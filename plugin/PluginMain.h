#pragma once

// The plugin's two exported entry points, by these exact names, undecorated,
// with the C calling convention, and the registration callback it hands the
// host.

#include "plugin/HostInterface.h"

#if defined(_WIN32)
#define LINEFOLD_EXPORT __declspec(dllexport)
#else
#define LINEFOLD_EXPORT __attribute__((visibility("default")))
#endif

// The one game runtime the plugin accepts: Skyrim 1.9.32.0.
constexpr uint32_t kSupportedRuntime = 0x09200000;

extern "C" {
// Opens the debug log, describes the plugin in info, and accepts the game
// only outside the editor, for the supported runtime, and only while every
// routine of that runtime is known.
LINEFOLD_EXPORT bool SKSEPlugin_Query(const HostLoadInterface* host, PluginInfoRecord* info);

// Hands RegisterFunctions to the host's script interface.
LINEFOLD_EXPORT bool SKSEPlugin_Load(const HostLoadInterface* host);
}

// Builds the eleven function objects in the game's heap and registers them
// with the host's registry under the class "Linefold".
bool RegisterFunctions(ScriptClassRegistry* registry);
