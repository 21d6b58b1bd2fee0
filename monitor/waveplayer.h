/* The parsed description of a RIFF/WAVE image, and its parser. */
#ifndef CALLTICKER_WAVEPLAYER_H
#define CALLTICKER_WAVEPLAYER_H

#include <windows.h>
#include <mmsystem.h>

typedef struct WaveInfo {
    HANDLE hFile;        /* for an image read from a file; never set for a resource */
    DWORD dwImageSize;   /* set only when parsing succeeds */
    HANDLE hMapping;     /* for an image mapped from a file */
    LPVOID pView;        /* for an image mapped from a file */
    BYTE formType[4];    /* "WAVE" after a successful parse */
    BYTE format[16];     /* the first 16 bytes of the "fmt " chunk, little-endian */
    DWORD dwDataOffset;  /* offset of the first sample byte in the image */
    DWORD dwDataLength;  /* number of sample bytes */
    const BYTE *pData;   /* first sample byte inside the image; NULL when none */
} WaveInfo;

DWORD ReadLe32(const BYTE *p);
WORD ReadLe16(const BYTE *p);
BOOL LoadWaveInfo(WaveInfo *pInfo, const BYTE *pImage, DWORD dwSize);
BOOL ParseWaveImage(WaveInfo *pInfo, const BYTE *pImage, DWORD dwSize);
void ReleaseWaveInfo(WaveInfo *pInfo);
void CALLBACK WaveOutDoneProc(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                              DWORD_PTR dwParam2);

#endif
