/*
 * The desktop SDK's multimedia header, and the wave driver messages only
 * the device has: the secondary gain class of a stream and the loudspeaker.
 * For the Windows compile check only.
 */
#ifndef CALLTICKER_CHECK_MMSYSTEM_H
#define CALLTICKER_CHECK_MMSYSTEM_H

#include_next <mmsystem.h>

#define MM_WOM_SETSECONDARYGAINCLASS (WM_USER)
#define MM_WOM_FORCESPEAKER (WM_USER + 2)

#endif
