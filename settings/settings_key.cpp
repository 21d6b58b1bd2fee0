/*
 * SettingsKey: one registry key below HKEY_LOCAL_MACHINE, opened for the
 * span of a single query or set and closed right after.
 */
#include "settings.h"

SettingsKey::SettingsKey()
    : m_basePath(NULL),
      m_rootKey(HKEY_LOCAL_MACHINE),
      m_openKey(NULL),
      m_valueBufferSize(0),
      m_valueBuffer(NULL)
{
}

SettingsKey::~SettingsKey()
{
    free(m_basePath);
    m_basePath = NULL;
    Close();
}

/*
 * If the copy cannot be made the object is left without a base path, and
 * every later operation fails rather than work on a key nobody asked for.
 */
void SettingsKey::SetBasePath(LPCWSTR basePath)
{
    free(m_basePath);
    m_basePath = NULL;
    if (basePath != NULL) {
        m_basePath = _wcsdup(basePath);
    }
}

LONG SettingsKey::CreateKey(LPCWSTR fullPath)
{
    DWORD disposition;
    return RegCreateKeyExW(m_rootKey, fullPath, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                           &m_openKey, &disposition);
}

/*
 * Refuses a path that does not fit in MAX_PATH instead of writing past the
 * local buffer.
 */
static bool BuildFullPath(LPWSTR fullPath, LPCWSTR basePath, LPCWSTR subPath)
{
    size_t length = wcslen(basePath);
    bool needSeparator = false;
    if (subPath != NULL) {
        needSeparator = (subPath[0] != L'\\');
        length += (needSeparator ? 1 : 0) + wcslen(subPath);
    }
    if (length + 1 > MAX_PATH) {
        return false;
    }
    wcscpy(fullPath, basePath);
    if (subPath != NULL) {
        if (needSeparator) {
            wcscat(fullPath, L"\\");
        }
        wcscat(fullPath, subPath);
    }
    return true;
}

bool SettingsKey::Open(LPCWSTR subPath)
{
    WCHAR fullPath[MAX_PATH];
    DWORD maxValueLength = 0;
    LONG opened;

    /* An earlier Open that was never closed must not leak its handle. */
    Close();
    if (m_basePath == NULL || !BuildFullPath(fullPath, m_basePath, subPath)) {
        return false;
    }

    /* A read creates a missing key just as a write does: the settings
       program relies on it, since on a fresh device merely opening its
       dialog is what puts the (empty) key in place.  So a missing key is
       never a failure.  Any other failure (a registry held by another
       process) is one: the caller takes its default at once rather than
       wait for a write that could not succeed either. */
    opened = RegOpenKeyExW(m_rootKey, fullPath, 0, 0, &m_openKey);
    if (opened != ERROR_SUCCESS) {
        m_openKey = NULL;
        if (opened != ERROR_FILE_NOT_FOUND || CreateKey(fullPath) != ERROR_SUCCESS) {
            return false;
        }
    }

    if (RegQueryInfoKeyW(m_openKey, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
                         &maxValueLength, NULL, NULL) != ERROR_SUCCESS) {
        Close();
        return false;
    }

    if (maxValueLength != 0) {
        m_valueBuffer = (LPBYTE)LocalAlloc(LPTR, maxValueLength);
        if (m_valueBuffer == NULL) {
            Close();
            return false;
        }
        m_valueBufferSize = maxValueLength;
    }
    return true;
}

void SettingsKey::Close()
{
    if (m_valueBuffer != NULL) {
        LocalFree(m_valueBuffer);
        m_valueBuffer = NULL;
        m_valueBufferSize = 0;
    }
    if (m_openKey != NULL) {
        RegCloseKey(m_openKey);
        m_openKey = NULL;
    }
}

/*
 * The buffer was sized when the key was opened; another process may have
 * written the value since.  Without a buffer, or with fewer bytes than a
 * short, only what was really read is used.
 */
bool SettingsKey::ReadShort(LPCWSTR name, short *value, LPCWSTR subPath)
{
    DWORD type = 0;
    DWORD count;
    bool ok;

    if (!Open(subPath)) {
        return false;
    }
    count = m_valueBufferSize;
    ok = m_valueBuffer != NULL &&
         RegQueryValueExW(m_openKey, name, NULL, &type, m_valueBuffer, &count) == ERROR_SUCCESS &&
         type == REG_DWORD && count >= 1 && count <= m_valueBufferSize;
    if (ok) {
        WORD low = m_valueBuffer[0];
        if (count >= 2) {
            low |= (WORD)(m_valueBuffer[1] << 8);
        }
        *value = (short)low;
    }
    Close();
    return ok;
}

bool SettingsKey::ReadRaw(LPCWSTR name, LPBYTE buffer, LPDWORD count, LPCWSTR subPath)
{
    DWORD type;
    bool ok;

    if (!Open(subPath)) {
        return false;
    }
    ok = RegQueryValueExW(m_openKey, name, NULL, &type, buffer, count) == ERROR_SUCCESS;
    Close();
    return ok;
}

bool SettingsKey::WriteDword(LPCWSTR name, DWORD value, LPCWSTR subPath)
{
    bool ok;

    if (!Open(subPath)) {
        return false;
    }
    ok = RegSetValueExW(m_openKey, name, 0, REG_DWORD, (const BYTE *)&value,
                        sizeof(value)) == ERROR_SUCCESS;
    Close();
    return ok;
}

bool SettingsKey::WriteBinary(LPCWSTR name, const BYTE *data, DWORD count, LPCWSTR subPath)
{
    bool ok;

    if (!Open(subPath)) {
        return false;
    }
    ok = RegSetValueExW(m_openKey, name, 0, REG_BINARY, data, count) == ERROR_SUCCESS;
    Close();
    return ok;
}
