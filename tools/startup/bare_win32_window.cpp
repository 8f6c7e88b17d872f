// A bare Win32 window of the main window's size: the baseline of the timed start runs. With
// QXUPDATER_STARTUP_TIMES=PATH it appends "first-paint <ms of the Unix epoch>" to PATH when
// it has been painted for the first time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
bool painted = false;

void record() {
    const char* path = std::getenv("QXUPDATER_STARTUP_TIMES");
    if (!path || !*path) return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "first-paint %.1f\n", static_cast<double>(ticks - 116444736000000000ull) / 10000.0);
        std::fclose(f);
    }
}

LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            EndPaint(hwnd, &ps);
            if (!painted) {
                painted = true;
                GdiFlush();
                record();
            }
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = L"BareWindow";
    RegisterClassW(&wc);
    RECT r{0, 0, 800, 600};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    AdjustWindowRect(&r, style, FALSE);
    HWND hwnd = CreateWindowW(L"BareWindow", L"bare", style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                              r.bottom - r.top, nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
