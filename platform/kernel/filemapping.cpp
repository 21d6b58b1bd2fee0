// File mappings: the device programs never map files, so no view exists and
// unmapping any address fails as Windows does for an address that is not
// the base of a mapped view.
#include <windows.h>

extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID)
{
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
}
