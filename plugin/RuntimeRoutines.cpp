#include "plugin/RuntimeRoutines.h"

bool IsComplete(const RuntimeRoutines& routines)
{
    return routines.gameHeap && routines.heapAllocate && routines.heapFree &&
           routines.nativeFunctionConstruct && routines.nativeFunctionDestruct &&
           routines.functionSlot6 && routines.functionSlot15 && routines.functionSlot16 &&
           routines.functionSlot18 && routines.handleConstruct && routines.handleSet &&
           routines.handleRelease &&
           routines.argumentBase && routines.argumentValue && routines.valueReset;
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
