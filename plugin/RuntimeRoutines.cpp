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

StringCache::Ref MakeHandle(const char* text)
{
    StringCache::Ref handle{nullptr};
    ActiveRuntime().handleConstruct(&handle, text);
    return handle;
}

void OwnedHandle::Release() noexcept
{
    // The empty handle holds no reference.
    if (handle.data)
        ActiveRuntime().handleRelease(&handle);
    handle.data = nullptr;
}
