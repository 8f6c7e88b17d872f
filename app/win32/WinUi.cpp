// Shared helpers of the Win32 windows.
#include "app/win32/WinUi.h"

#include <algorithm>
#include <vector>

namespace qx::win32 {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::wstring WindowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    if (n <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, buffer.data(), n + 1);
    return std::wstring(buffer.data(), static_cast<size_t>(got > 0 ? got : 0));
}

int LayoutDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

int ScaledAt(int value, int dpi) { return MulDiv(value, dpi, USER_DEFAULT_SCREEN_DPI); }

RECT ScaledRect(int x, int y, int width, int height, int dpi) {
    return RECT{ScaledAt(x, dpi), ScaledAt(y, dpi), ScaledAt(x + width, dpi), ScaledAt(y + height, dpi)};
}

HFONT PixelFont(const wchar_t* face, int pixels, bool bold) {
    LOGFONTW lf{};
    lf.lfHeight = -Scaled(pixels);  // character height, not cell height
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

std::string& ApplicationTitle() {
    static std::string title;
    return title;
}

void ShowErrorBox(const std::string& appTitle, const std::string& text) {
    MessageBoxW(nullptr, Widen(text).c_str(), Widen(appTitle).c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

bool WindowSubclass::install(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data) {
    reset();
    if (!hwnd || !SetWindowSubclass(hwnd, proc, id, data)) return false;
    hwnd_ = hwnd;
    proc_ = proc;
    id_ = id;
    return true;
}

void WindowSubclass::reset() {
    if (hwnd_ && IsWindow(hwnd_)) RemoveWindowSubclass(hwnd_, proc_, id_);
    hwnd_ = nullptr;
    proc_ = nullptr;
    id_ = 0;
}

LRESULT ModalFormMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, HFONT font, HWND& window, bool& done) {
    switch (msg) {
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(font);
        case WM_CLOSE:
            done = true;
            return 0;
        case WM_NCDESTROY:
            window = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::wstring OpenDialogFilter(const std::string& filter) {
    std::wstring out = Widen(filter);
    for (wchar_t& c : out)
        if (c == L'|') c = L'\0';
    out.push_back(L'\0');
    out.push_back(L'\0');
    return out;
}

void DispatchWithDialogKeys(MSG& msg) {
    // The top-level window the message belongs to handles Tab and the other dialog keys.
    HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (top && IsDialogMessageW(top, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

bool PumpWaitingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        DispatchWithDialogKeys(msg);
    }
    return true;
}

void RunModal(HWND window, HWND owner, const bool& done) {
    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (owner) EnableWindow(owner, FALSE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    MSG msg;
    while (!done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        DispatchWithDialogKeys(msg);
    }
    if (owner && ownerWasEnabled) EnableWindow(owner, TRUE);
    ShowWindow(window, SW_HIDE);
    if (owner && ownerWasEnabled) SetActiveWindow(owner);
}

void SetClientSize(HWND hwnd, int width, int height) {
    RECT r{0, 0, width, height};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT PlaceWithin(const RECT& over, SIZE size, const RECT& work) {
    LONG x = over.left + ((over.right - over.left) - size.cx) / 2;
    LONG y = over.top + ((over.bottom - over.top) - size.cy) / 2;
    x = std::max(work.left, std::min(x, work.right - size.cx));
    y = std::max(work.top, std::min(y, work.bottom - size.cy));
    return POINT{x, y};
}

namespace {

// The work area of the monitor that holds most of `hwnd` (or is nearest to it).
RECT workAreaOf(HWND hwnd) {
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    HMONITOR monitor = MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor && GetMonitorInfoW(monitor, &info)) work = info.rcWork;
    return work;
}

void placeWindow(HWND hwnd, const RECT* over, const RECT& work) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    const POINT at = PlaceWithin(over ? *over : work, SIZE{r.right - r.left, r.bottom - r.top}, work);
    SetWindowPos(hwnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void CentreWindow(HWND hwnd, HWND over) {
    // The monitor the window opens on: the one holding most of its owner, or of itself.
    const RECT work = workAreaOf(over ? over : hwnd);
    RECT area{};
    if (over) GetWindowRect(over, &area);
    placeWindow(hwnd, over ? &area : nullptr, work);
}

void KeepWithinWorkArea(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    placeWindow(hwnd, &r, workAreaOf(hwnd));
}

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

void RegisterFormClass(const wchar_t* name, WNDPROC proc, bool background) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(Instance(), name, &existing)) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpfnWndProc = proc;
    wc.hbrBackground = background ? GetSysColorBrush(COLOR_BTNFACE) : nullptr;
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

}  // namespace qx::win32
