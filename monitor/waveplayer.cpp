/*
 * The sound resource player: plays one embedded RIFF/WAVE resource
 * synchronously through waveform output, optionally at full volume and
 * forced to the loudspeaker.
 */
#include "monitor.h"

#include <mmsystem.h>

#include "waveplayer.h"

#define WAVE_RESOURCE_TYPE L"WAVE"
#define PLAYBACK_WAIT_MS 2000
#define SECONDARY_GAIN_CLASS 2
#define FULL_VOLUME 0x0000FFFF
#define CHUNK_HEADER_SIZE 8
#define RIFF_HEADER_SIZE 12


static HANDLE s_hPlaybackDone = NULL;

static DWORD ReadLe32(const BYTE *p)
{
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

static WORD ReadLe16(const BYTE *p)
{
    return (WORD)(p[0] | (p[1] << 8));
}

void ReleaseWaveInfo(WaveInfo *pInfo)
{
    if (pInfo->pView != NULL)
        UnmapViewOfFile(pInfo->pView);
    if (pInfo->hMapping != NULL)
        CloseHandle(pInfo->hMapping);
    if (pInfo->hFile != NULL)
        CloseHandle(pInfo->hFile);
    memset(pInfo, 0, sizeof(*pInfo));
}

/* Every chunk and its data must lie inside the image: a chunk that claims
   more than the image holds rejects the image, so nothing is ever read past
   its end.  Fewer bytes than a chunk header at the end (a RIFF pad byte
   after an odd-sized last chunk) are no chunk and end the walk. */
BOOL ParseWaveImage(WaveInfo *pInfo, const BYTE *pImage, DWORD dwSize)
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
        /* No pad byte after an odd size: the next chunk follows at once. */
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
        ReleaseWaveInfo(pInfo);
        return FALSE;
    }
    return TRUE;
}

void CALLBACK WaveOutDoneProc(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                              DWORD_PTR dwParam2)
{
    (void)hwo;
    (void)dwInstance;
    (void)dwParam1;
    (void)dwParam2;
    if (uMsg == WOM_DONE)
        SetEvent(s_hPlaybackDone);
}

static void FillWaveFormat(WAVEFORMATEX *pFormat, const WaveInfo *pInfo)
{
    const BYTE *f = pInfo->format;
    pFormat->wFormatTag = ReadLe16(f);
    pFormat->nChannels = ReadLe16(f + 2);
    pFormat->nSamplesPerSec = ReadLe32(f + 4);
    pFormat->nAvgBytesPerSec = ReadLe32(f + 8);
    pFormat->nBlockAlign = ReadLe16(f + 12);
    pFormat->wBitsPerSample = ReadLe16(f + 14);
    pFormat->cbSize = 0;
}

/* Writes the samples as one buffer and waits until the device has played
   them.  If the device does not report completion in time, playback is
   stopped first, so the buffer is never unprepared while still queued. */
static void PlayBuffer(HWAVEOUT hWaveOut, const WaveInfo *pInfo)
{
    WAVEHDR header;
    memset(&header, 0, sizeof(header));
    header.lpData = (LPSTR)pInfo->pData;
    header.dwBufferLength = pInfo->dwDataLength;
    if (waveOutPrepareHeader(hWaveOut, &header, sizeof(header)) != MMSYSERR_NOERROR)
        return;
    waveOutWrite(hWaveOut, &header, sizeof(header));
    if (WaitForSingleObject(s_hPlaybackDone, PLAYBACK_WAIT_MS) == WAIT_TIMEOUT)
        waveOutReset(hWaveOut);
    waveOutUnprepareHeader(hWaveOut, &header, sizeof(header));
}

static void PlayWaveInfo(const WaveInfo *pInfo, BOOL keepVolume, BOOL forceSpeaker)
{
    WAVEFORMATEX format;
    HWAVEOUT hWaveOut = NULL;

    memset(&format, 0, sizeof(format));
    FillWaveFormat(&format, pInfo);
    if (waveOutOpen(&hWaveOut, WAVE_MAPPER, &format, (DWORD_PTR)WaveOutDoneProc, 0, CALLBACK_FUNCTION) !=
        MMSYSERR_NOERROR)
        return;
    waveOutMessage(hWaveOut, MM_WOM_SETSECONDARYGAINCLASS, SECONDARY_GAIN_CLASS, 0);
    if (forceSpeaker)
        waveOutMessage(hWaveOut, MM_WOM_FORCESPEAKER, 1, 0);
    if (!keepVolume)
        waveOutSetVolume(hWaveOut, FULL_VOLUME);
    PlayBuffer(hWaveOut, pInfo);
    waveOutClose(hWaveOut);
}

void PlayWaveResource(HINSTANCE hInstance, UINT uId, BOOL keepVolume, BOOL forceSpeaker)
{
    WaveInfo info;
    HRSRC hResource;
    HGLOBAL hImage;

    memset(&info, 0, sizeof(info));
    hResource = FindResourceW(hInstance, MAKEINTRESOURCE(LOWORD(uId)), WAVE_RESOURCE_TYPE);
    if (hResource == NULL)
        return;
    hImage = LoadResource(hInstance, hResource);
    if (hImage == NULL)
        return;

    /* The event exists before the device opens and outlives its close, so
       the callback always finds it valid. */
    s_hPlaybackDone = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (s_hPlaybackDone != NULL &&
        LoadWaveInfo(&info, (const BYTE *)hImage, SizeofResource(hInstance, hResource)))
        PlayWaveInfo(&info, keepVolume, forceSpeaker);

    ReleaseWaveInfo(&info);
    if (s_hPlaybackDone != NULL) {
        CloseHandle(s_hPlaybackDone);
        s_hPlaybackDone = NULL;
    }
}
