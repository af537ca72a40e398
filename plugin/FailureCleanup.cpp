#include "plugin/FailureCleanup.h"

#if defined(_WIN32) && defined(__i386__)
#include "plugin/Windows/FailureCleanup_i686.inc"
#else
// Everywhere else the game's exceptions, if any, are this compiler's own.
void RunWithCleanup(void (*work)(void*), void (*cleanup)(void*), void* context)
{
    try {
        work(context);
    } catch (...) {
        cleanup(context);
        throw;
    }
}
#endif
