// libFuzzer target: the monitor's wave parser on arbitrary bytes.  Whatever
// it accepts must describe samples that lie inside the image.
#include <cstdlib>

#include "waveplayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WaveInfo info;
    if (LoadWaveInfo(&info, data, static_cast<DWORD>(size))) {
        const uint8_t* end = data + size;
        if (info.pData < data || info.pData > end || info.dwDataLength > static_cast<size_t>(end - info.pData) ||
            info.dwImageSize != size)
            std::abort();
    }
    return 0;
}
