#pragma once

#include "linefile/TextStream.h"

#include <vector>

// The plugin's own files: the routine file beside its binary, whose addresses
// the plugin calls at the next start, and its debug log. Scripts may read
// them, but no script may write, empty or delete them by any path, link or
// other spelling: a mod of scripts alone, which players take for harmless,
// must not be able to choose native code that the game runs.
//
// The entry point names them once it has opened the log and found the
// routine file; until then there are none.

// Takes these files as the own files, in place of any named before: each
// file there now by its identity, and each path by its folder's identity and
// its last name, for the file that is not there yet.
void SetOwnFiles(const std::vector<NativePathString>& paths);

// Whether the file with this identity is one of them.
bool IsOwnFile(const FileIdentity& identity);

// Whether path names one of them by its folder and name, so that a file
// made there would be one (a path rule for a file not there yet, which has
// no identity to compare).
bool NamesOwnFile(const FilePath& path);
