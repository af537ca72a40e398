// The routine table as data: its entries by name, as the routine file gives
// them.
#include "plugin/RuntimeRoutines.h"

#include <cstring>

bool IsComplete(const RuntimeRoutines& routines)
{
    for (const RoutineField& field : kRoutineFields) {
        if (FieldAddress(routines, field) == 0)
            return false;
    }
    return true;
}

// Every field is one pointer-sized word, so its bytes are copied as one.
uintptr_t FieldAddress(const RuntimeRoutines& routines, const RoutineField& field)
{
    uintptr_t address;
    std::memcpy(&address, reinterpret_cast<const char*>(&routines) + field.offset, sizeof address);
    return address;
}

void SetFieldAddress(RuntimeRoutines& routines, const RoutineField& field, uintptr_t address)
{
    std::memcpy(reinterpret_cast<char*>(&routines) + field.offset, &address, sizeof address);
}
