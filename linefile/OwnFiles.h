#pragma once

#include "linefile/TextStream.h"

#include <vector>

// The plugin's own files: the routine file beside its binary, whose addresses
// the plugin calls at the next start, and its debug log with the five names
// it falls back to. Scripts may read them, but no script may write, create,
// empty or delete them by any path, link or other spelling, for the whole
// session: a mod of scripts alone, which players take for harmless, must not
// be able to choose native code that the game runs.
//
// What protects them, in this order:
// 1. The system. Each own file in use (the routine file, the log the plugin
//    writes) that exists when it is named is held open for the session. On Windows the hold admits readers only, so no open for
//    writing and no delete, rename or replacement of the file succeeds by any
//    name, drive letter or link, whatever our own checks make of it (the log
//    in use is held so by its own stream). Elsewhere there are no such share
//    modes, but the hold keeps the file's number from going to another file.
// 2. Its name. A path whose folder (by identity) and last name, once the
//    system's own reading of `.`, `..` and the drive is applied to its text,
//    are those of an own file names it, whether or not the file is there: a
//    routine file not there yet cannot be made by a script either.
// 3. Its identity, taken anew at each check: the file a load or delete
//    reached is an own file when it is a held one, or the one at an own
//    file's path now, so a file that another program put in the own file's
//    place is protected too.
// Windows has all three; the Linux build, 2 and 3.

// Takes the files at these paths as the own files, in place of any named
// before (whose holds are let go): those in use, each held if it is there,
// and names that are the plugin's without being in use (the log's unused
// fallbacks), protected by rules 2 and 3 alone.
void SetOwnFiles(const std::vector<NativePathString>& inUse, const std::vector<NativePathString>& notInUse = {});

// Whether path names one of them by rule 2, whether or not a file is there.
bool NamesOwnFile(const FilePath& path);

// Whether the file with this identity is one of them by rule 3. Both are
// made just before the act they guard.
bool IsOwnFile(const FileIdentity& identity);
