/*
 * AppSettings: the seven values under HKEY_LOCAL_MACHINE\Software\Apps\CallTicker,
 * and the tables that turn their stored indexes into milliseconds.
 */
#include "settings.h"

static const int g_regularSoundDelayMs[] = {
    30000, 60000, 90000, 120000, 180000, 240000, 300000,
    420000, /* "7 min." means seven minutes */
    600000
};
static const int g_regularSoundBeforeMs[] = {
    0, 1000, 2000, 3000, 4000, 5000, 7000, 10000, 15000, 20000
};
static const int g_turnOffScrMs[] = {
    -1, /* never switch the backlight off */
    5000, 10000, 15000, 20000, 25000
};

static int Lookup(const int *table, int count, int index, int fallback)
{
    if (index < 0 || index >= count) {
        return fallback;
    }
    return table[index];
}

int RegularSoundDelayMs(int index)
{
    return Lookup(g_regularSoundDelayMs, ARRAYSIZE(g_regularSoundDelayMs), index, 60000);
}

int RegularSoundBeforeMs(int index)
{
    return Lookup(g_regularSoundBeforeMs, ARRAYSIZE(g_regularSoundBeforeMs), index, 5000);
}

int RegularSoundBeforeCount()
{
    return ARRAYSIZE(g_regularSoundBeforeMs);
}

int TurnOffScrMs(int index)
{
    return Lookup(g_turnOffScrMs, ARRAYSIZE(g_turnOffScrMs), index, 5000);
}

AppSettings::AppSettings()
{
    m_key.SetBasePath(L"Software\\Apps\\CallTicker");
}

int AppSettings::ReadIndex(LPCWSTR name, int fallback)
{
    short value;
    if (!m_key.ReadShort(name, &value, NULL)) {
        return fallback;
    }
    return value;
}

bool AppSettings::WriteIndex(LPCWSTR name, int value)
{
    return m_key.WriteDword(name, (DWORD)value, NULL);
}

bool AppSettings::GetEnabled()
{
    return ReadIndex(L"Enabled", 1) != 0;
}

int AppSettings::GetOnSoundType() { return ReadIndex(L"OnSoundType", SignalSound); }
int AppSettings::GetOffSoundType() { return ReadIndex(L"OffSoundType", SignalSound); }
int AppSettings::GetRegularSoundType() { return ReadIndex(L"RegularSoundType", SignalSound); }
int AppSettings::GetRegularSoundDelay() { return ReadIndex(L"RegularSoundDelay", 1); }
int AppSettings::GetRegularSoundBefore() { return ReadIndex(L"RegularSoundBefore", 5); }
int AppSettings::GetTurnOffScr() { return ReadIndex(L"TurnOffScr", 1); }

bool AppSettings::SetEnabled(int value) { return WriteIndex(L"Enabled", value); }
bool AppSettings::SetOnSoundType(int value) { return WriteIndex(L"OnSoundType", value); }
bool AppSettings::SetOffSoundType(int value) { return WriteIndex(L"OffSoundType", value); }
bool AppSettings::SetRegularSoundType(int value) { return WriteIndex(L"RegularSoundType", value); }
bool AppSettings::SetRegularSoundDelay(int value) { return WriteIndex(L"RegularSoundDelay", value); }
bool AppSettings::SetRegularSoundBefore(int value) { return WriteIndex(L"RegularSoundBefore", value); }
bool AppSettings::SetTurnOffScr(int value) { return WriteIndex(L"TurnOffScr", value); }
