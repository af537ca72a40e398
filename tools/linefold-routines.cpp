// linefold-routines: writes and checks a routine file away from the game
// (tools/RoutinesCommand.h).
#include "tools/RoutinesCommand.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return RoutinesCommand(arguments, std::cout, std::cerr);
}
