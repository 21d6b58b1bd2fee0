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

static HANDLE s_hPlaybackDone = NULL;

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
