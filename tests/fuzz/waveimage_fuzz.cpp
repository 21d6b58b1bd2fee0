// libFuzzer target: the monitor's wave parser on arbitrary bytes.  Whatever
// it accepts must describe samples that lie inside the image.
#include <cstdlib>

#include "waveplayer.h"

// The parser releases file handles and views only when a file was mapped,
// which never happens here.
extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID) { std::abort(); }
extern "C" BOOL WINAPI CloseHandle(HANDLE) { std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WaveInfo info;
    if (LoadWaveInfo(&info, data, static_cast<DWORD>(size))) {
        const uint8_t* end = data + size;
        if (info.pData < data || info.pData > end || info.dwDataLength > static_cast<size_t>(end - info.pData) ||
            info.dwImageSize != size)
            std::abort();
        ReleaseWaveInfo(&info);
    }
    return 0;
}
