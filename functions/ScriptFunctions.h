#pragma once

// The eleven script functions of the class "Linefold", as the plugin's own
// calls. Each takes the host's tag for global functions first (always null,
// never read) and its texts as string handles; an empty handle counts as the
// empty text. None throws. They may be called from several threads at once:
// OpenFileTable.h says which locks they take.
//
// A path that is not loaded, a call in the wrong mode, or a file that is no
// longer good gives false (NextLine: the empty text) and changes nothing.

#include "plugin/HostInterface.h"

#include <cstdint>

bool ExistsFile(StaticFunctionTag* base, StringCache::Ref path);
bool LoadFile(StaticFunctionTag* base, StringCache::Ref path, bool readOnly, bool append,
              uint32_t bufferSize);
bool CloseFile(StaticFunctionTag* base, StringCache::Ref path);
bool DeleteAnyFile(StaticFunctionTag* base, StringCache::Ref path);
bool IsLoaded(StaticFunctionTag* base, StringCache::Ref path);
bool IsGood(StaticFunctionTag* base, StringCache::Ref path);
bool IsReadOnly(StaticFunctionTag* base, StringCache::Ref path);
bool IsWriteOnly(StaticFunctionTag* base, StringCache::Ref path);
bool HasNextLine(StaticFunctionTag* base, StringCache::Ref path);
StringCache::Ref NextLine(StaticFunctionTag* base, StringCache::Ref path);
bool WriteLine(StaticFunctionTag* base, StringCache::Ref path, StringCache::Ref line);
