#include "linefile/FilePath.h"

#if defined(_WIN32)
#include "linefile/Windows/FilePath.inc"
#else
#include "linefile/Unix/FilePath.inc"
#endif
