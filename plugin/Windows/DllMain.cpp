// The library's own load and unload notification: nothing to do but accept.
// (Static data, the table of open files among it, is set up and torn down by
// the C runtime around this call.)
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
