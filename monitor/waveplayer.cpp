/*
 * The sound resource player: plays one embedded RIFF/WAVE resource
 * synchronously through waveform output, optionally at full volume and
 * forced to the loudspeaker.  The signals given during a call need those
 * driver requests, which PlaySoundW cannot make (see PlayOnOffSound).
 */
#include "monitor.h"

#include <mmsystem.h>

#include "waveplayer.h"

#define WAVE_RESOURCE_TYPE L"WAVE"
#define PLAYBACK_WAIT_MS 2000
#define SECONDARY_GAIN_CLASS 2
#define FULL_VOLUME 0x0000FFFF

/* Runs on a thread of the audio system; dwInstance carries the event of
   the playback that opened the device. */
static void CALLBACK WaveOutDoneProc(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2)
{
    (void)hwo;
    (void)dwParam1;
    (void)dwParam2;
    if (uMsg == WOM_DONE)
        SetEvent((HANDLE)dwInstance);
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
static void PlayBuffer(HWAVEOUT hWaveOut, const WaveInfo *pInfo, HANDLE hPlaybackDone)
{
    WAVEHDR header;
    memset(&header, 0, sizeof(header));
    header.lpData = (LPSTR)pInfo->pData;
    header.dwBufferLength = pInfo->dwDataLength;
    if (waveOutPrepareHeader(hWaveOut, &header, sizeof(header)) != MMSYSERR_NOERROR)
        return;
    waveOutWrite(hWaveOut, &header, sizeof(header));
    if (WaitForSingleObject(hPlaybackDone, PLAYBACK_WAIT_MS) == WAIT_TIMEOUT)
        waveOutReset(hWaveOut);
    waveOutUnprepareHeader(hWaveOut, &header, sizeof(header));
}

static void PlayWaveInfo(const WaveInfo *pInfo, HANDLE hPlaybackDone, BOOL keepVolume, BOOL forceSpeaker)
{
    WAVEFORMATEX format;
    HWAVEOUT hWaveOut = NULL;

    memset(&format, 0, sizeof(format));
    FillWaveFormat(&format, pInfo);
    if (waveOutOpen(&hWaveOut, WAVE_MAPPER, &format, (DWORD_PTR)WaveOutDoneProc, (DWORD_PTR)hPlaybackDone,
                    CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
        return;
    waveOutMessage(hWaveOut, MM_WOM_SETSECONDARYGAINCLASS, SECONDARY_GAIN_CLASS, 0);
    if (forceSpeaker)
        waveOutMessage(hWaveOut, MM_WOM_FORCESPEAKER, 1, 0);
    if (!keepVolume)
        waveOutSetVolume(hWaveOut, FULL_VOLUME);
    PlayBuffer(hWaveOut, pInfo, hPlaybackDone);
    waveOutClose(hWaveOut);
}

void PlayWaveResource(HINSTANCE hInstance, UINT uId, BOOL keepVolume, BOOL forceSpeaker)
{
    WaveInfo info;
    HRSRC hResource;
    HGLOBAL hImage;
    HANDLE hPlaybackDone;

    hResource = FindResourceW(hInstance, MAKEINTRESOURCE(LOWORD(uId)), WAVE_RESOURCE_TYPE);
    if (hResource == NULL)
        return;
    hImage = LoadResource(hInstance, hResource);
    if (hImage == NULL)
        return;

    /* The event exists before the device opens and outlives its close, so
       the callback always finds it valid. */
    hPlaybackDone = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (hPlaybackDone == NULL)
        return;
    if (LoadWaveInfo(&info, (const BYTE *)hImage, SizeofResource(hInstance, hResource)))
        PlayWaveInfo(&info, hPlaybackDone, keepVolume, forceSpeaker);
    CloseHandle(hPlaybackDone);
}
