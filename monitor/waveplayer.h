/* The parsed description of a RIFF/WAVE image, and its parser. */
#ifndef CALLTICKER_WAVEPLAYER_H
#define CALLTICKER_WAVEPLAYER_H

#include <windows.h>
#include <mmsystem.h>

/* Points into the image it was parsed from and owns nothing. */
typedef struct WaveInfo {
    DWORD dwImageSize;   /* set only when parsing succeeds */
    BYTE formType[4];    /* "WAVE" after a successful parse */
    BYTE format[16];     /* the first 16 bytes of the "fmt " chunk, little-endian */
    DWORD dwDataOffset;  /* offset of the first sample byte in the image */
    DWORD dwDataLength;  /* number of sample bytes */
    const BYTE *pData;   /* first sample byte inside the image; NULL when none */
} WaveInfo;

DWORD ReadLe32(const BYTE *p);
WORD ReadLe16(const BYTE *p);
/* Clears the record, then fills it from the image; a failed parse leaves it
   cleared. */
BOOL LoadWaveInfo(WaveInfo *pInfo, const BYTE *pImage, DWORD dwSize);

#endif
