/*
 * WindowProbe.exe: a device program for the window manager's end-to-end
 * tests, shaped like the monitor: a hidden pop-up window on the main thread
 * and a thread message loop.  The Return key on the hidden window opens a
 * message box; the thread message WM_APP + 1 ends the program with wParam
 * as its exit code.
 */
#include <windows.h>

#define WM_PROBE_EXIT (WM_APP + 1)

static LRESULT CALLBACK ProbeWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_KEYDOWN && wParam == VK_RETURN) {
        MessageBoxW(NULL, L"Return reached the hidden window", L"Probe", MB_OKCANCEL);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    WNDCLASSW wc;
    HWND hwnd;
    MSG msg;
    BOOL got;

    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = ProbeWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = L"ProbeWndClass";
    if (!RegisterClassW(&wc))
        return 90;
    hwnd = CreateWindowExW(0, L"ProbeWndClass", L"", WS_POPUP | WS_TABSTOP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    if (hwnd == NULL)
        return 91;
    for (;;) {
        got = GetMessageW(&msg, NULL, 0, 0);
        if (got == -1)
            return 92;
        if (got == 0)
            continue;
        if (msg.message == WM_PROBE_EXIT)
            break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(hwnd);
    return (int)msg.wParam;
}
