#pragma once

#include "pex/Declarations.h"
#include "pex/PexFile.h"

#include <cstdint>
#include <string>

namespace pex {

// Texts of ours in the header's user and machine fields, the same on every
// machine.
extern const char* const kUserName;
extern const char* const kMachineName;

// The compiled script of a parsed script whose source file is sourceName
// (a name, without folders), compiled at the given time: what the game's
// compiler makes of such declarations, the members every script gets included.
File Compile(const papyrus::Script& script, const std::string& sourceName, uint64_t time);

}  // namespace pex
