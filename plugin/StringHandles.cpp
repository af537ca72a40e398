// The string handles of RuntimeRoutines.h, made and given back through the
// active runtime.
#include "plugin/RuntimeRoutines.h"

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
