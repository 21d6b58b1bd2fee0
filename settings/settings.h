/*
 * The settings store shared by CallTicker.exe and CallTickerCfg.exe: the
 * registry key wrapper, the settings object with its typed accessors, the
 * kinds of signal and the tables that turn a stored index into milliseconds.
 *
 * The key is opened for each single read or write and closed right after,
 * so every reader sees what the registry holds at that moment.
 */
#ifndef CALLTICKER_SETTINGS_H
#define CALLTICKER_SETTINGS_H

#include <windows.h>

/* One registry key below HKEY_LOCAL_MACHINE; Open and Close frame each
   single read or write and are no business of callers. */
class SettingsKey
{
public:
    SettingsKey();
    ~SettingsKey();

    void SetBasePath(LPCWSTR basePath);

    bool ReadShort(LPCWSTR name, short *value, LPCWSTR subPath);
    bool ReadRaw(LPCWSTR name, LPBYTE buffer, LPDWORD count, LPCWSTR subPath);
    bool WriteDword(LPCWSTR name, DWORD value, LPCWSTR subPath);
    bool WriteBinary(LPCWSTR name, const BYTE *data, DWORD count, LPCWSTR subPath);

private:
    /* Owns a string, a key handle and a buffer: not copyable. */
    SettingsKey(const SettingsKey &);
    SettingsKey &operator=(const SettingsKey &);

    bool Open(LPCWSTR subPath);
    LONG CreateKey(LPCWSTR fullPath);
    void Close();

    LPWSTR m_basePath;
    HKEY m_rootKey;
    HKEY m_openKey;
    DWORD m_valueBufferSize;
    LPBYTE m_valueBuffer;
};

/* The seven settings under HKEY_LOCAL_MACHINE\Software\Apps\CallTicker.
   Users see only the typed accessors; the key behind them is private. */
class AppSettings
{
public:
    AppSettings();

    bool GetEnabled();
    int GetOnSoundType();
    int GetOffSoundType();
    int GetRegularSoundType();
    int GetRegularSoundDelay();
    int GetRegularSoundBefore();
    int GetTurnOffScr();

    bool SetEnabled(int value);
    bool SetOnSoundType(int value);
    bool SetOffSoundType(int value);
    bool SetRegularSoundType(int value);
    bool SetRegularSoundDelay(int value);
    bool SetRegularSoundBefore(int value);
    bool SetTurnOffScr(int value);

private:
    int ReadIndex(LPCWSTR name, int fallback);
    bool WriteIndex(LPCWSTR name, int value);

    SettingsKey m_key;
};

/* What is given when a signal is due; readers act on Sound and Vibrate only.
   The enumerators carry the type's name so that they never clash with the
   monitor's Vibrate() or a platform None. */
enum SignalType
{
    SignalNone = 0,
    SignalSound = 1,
    SignalVibrate = 2
};

/* Stored index -> milliseconds; an index outside its table gives the default. */
int RegularSoundDelayMs(int index);
int RegularSoundBeforeMs(int index);
int RegularSoundBeforeCount();
int TurnOffScrMs(int index);

#endif
