// Resource identifiers of CallTicker.exe.
#ifndef CALLTICKER_MONITOR_RESOURCE_H
#define CALLTICKER_MONITOR_RESOURCE_H

// The periodic signal.
#define IDR_WAVE_REGULAR 100
// The start and end of a call, and the monitor's start-up and quit signal.
#define IDR_WAVE_ONOFF 101

#endif
