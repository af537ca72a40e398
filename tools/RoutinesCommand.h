#pragma once

// linefold-routines: writes and checks a routine file away from the game,
// against the game's executable on disk.
//
//   linefold-routines check EXE FILE     every check the plugin makes at start
//   linefold-routines new EXE [-o FILE]  a routine file to start from
//
// check prints each problem with the plugin's own reason and exits 1, or
// says that the file would be taken and exits 0. new prints the file on
// standard output, or with -o makes FILE of it, never over a file that is
// there. A usage fault exits 2; an executable that cannot be read as a
// 32-bit PE image, or a FILE that cannot be made, exits 1 with one line
// saying why.

#include <ostream>
#include <string>
#include <vector>

// The arguments after the program's name.
int RoutinesCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
