#include "common/Lock.h"

#if defined(_WIN32)
#include "common/Windows/Lock.inc"
#else
#include "common/Unix/Lock.inc"
#endif
