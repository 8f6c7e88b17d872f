// Small pieces the Win32 windows share: text conversion, pixel-height fonts, owners of GDI
// objects, icons and subclasses, the standard error box, the file chooser's filter form, the
// modal run of an owned window, and the message pump that a responsive wait uses.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>

namespace qx::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
std::wstring WindowText(HWND hwnd);

// The windows are laid out in the pixels of a 96-DPI screen. The program is system-DPI
// aware: every rectangle and font height of a layout is scaled by the system DPI / 96 with
// one rounding rule (MulDiv: to the nearest, halves away from zero), and a rectangle is
// scaled by its edges, so that controls side by side keep their gaps.
int LayoutDpi();
int ScaledAt(int value, int dpi);
inline int Scaled(int value) { return ScaledAt(value, LayoutDpi()); }
// The 96-DPI rectangle (x, y, width, height) scaled to `dpi`, as left, top, right, bottom.
RECT ScaledRect(int x, int y, int width, int height, int dpi);

// A font of `face` whose characters are `pixels` high at 96 DPI (a negative LOGFONT height,
// scaled to the system DPI), ANSI character set. The caller owns it (DeleteObject).
HFONT PixelFont(const wchar_t* face, int pixels, bool bold = false);

// Owners of the windows' fonts, bitmaps and icons: each is released exactly once, when its
// owner goes or takes another, on every path (a constructor that fails half-way included).
struct GdiObjectRelease {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct IconRelease {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
template <typename Handle, typename Release>
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<Handle>, Release>;
using UniqueFont = UniqueHandle<HFONT, GdiObjectRelease>;
using UniqueBitmap = UniqueHandle<HBITMAP, GdiObjectRelease>;
using UniqueIcon = UniqueHandle<HICON, IconRelease>;

// A subclass of a window (SetWindowSubclass) that is removed again when its holder is reset
// or goes, as long as the window exists. The window that owns the subclassed control resets
// it on its WM_DESTROY, which comes before its child windows are destroyed.
class WindowSubclass {
public:
    WindowSubclass() = default;
    ~WindowSubclass() { reset(); }
    WindowSubclass(const WindowSubclass&) = delete;
    WindowSubclass& operator=(const WindowSubclass&) = delete;

    // Installs `proc` under `id` with `data` on `hwnd` (a subclass held before is removed
    // first). False when the system refuses.
    bool install(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data);
    void reset();
    bool installed() const { return hwnd_ != nullptr; }

private:
    HWND hwnd_ = nullptr;
    SUBCLASSPROC proc_ = nullptr;
    UINT_PTR id_ = 0;
};

// The standard error box: error icon, OK, the application title as caption, modal to
// the application.
void ShowErrorBox(const std::string& appTitle, const std::string& text);

// "Description|pattern|Description|pattern" as the open dialog takes it: the parts separated
// by NULs, ending with two NULs.
std::wstring OpenDialogFilter(const std::string& filter);

// Handles the dialog keys (Tab, arrows, Enter, Escape) of the window the message is for,
// then translates and dispatches it.
void DispatchWithDialogKeys(MSG& msg);

// Dispatches every message waiting in the thread's queue. False when WM_QUIT was seen
// (it is posted again for the outer loop).
bool PumpWaitingMessages();

// Shows `window` modally over `owner`: the owner is disabled, the window runs its own
// message loop until `done` becomes true (or WM_QUIT arrives), then the owner is enabled
// again before the window is hidden, so activation returns to it.
void RunModal(HWND window, HWND owner, const bool& done);

// Puts a window's client area at `width` x `height` (screen pixels) for its style.
void SetClientSize(HWND hwnd, int width, int height);
// Centres a window over `over`, or without it on the work area of the monitor it opens on,
// then moves it as little as needed to lie within that monitor's work area (its title bar
// never out of reach; a window larger than the area keeps its top left corner inside).
void CentreWindow(HWND hwnd, HWND over = nullptr);
// Moves a window as little as needed to lie within the work area of its monitor.
void KeepWithinWorkArea(HWND hwnd);
// Where CentreWindow puts a window of `size` centred on `over` within `work`.
POINT PlaceWithin(const RECT& over, SIZE size, const RECT& work);

// Runs a handler body; an error escaping it is shown in the standard error box with
// `appTitle` (errors never cross the system's window procedures).
template <typename Body>
void Guarded(const std::string& appTitle, Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        ShowErrorBox(appTitle, e.what());
    } catch (...) {
        ShowErrorBox(appTitle, std::string());
    }
}

// The answers every modal window of the program gives alike, after its own: WM_GETFONT gives
// `font` (the window's default font); WM_CLOSE only sets `done` (the window is hidden by its
// modal run and never destroyed before the program ends); WM_NCDESTROY forgets `window`;
// everything else goes to DefWindowProc.
LRESULT ModalFormMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, HFONT font, HWND& window, bool& done);

// Registers a window class of this module once: arrow cursor, button-face background.
void RegisterFormClass(const wchar_t* name, WNDPROC proc, bool background = true);

// The window procedure of a form class T: the object comes with WM_NCCREATE (the creation
// parameter), every message goes to T::handle(hwnd, msg, wParam, lParam), and an error
// escaping it ends in the standard error box.
template <typename T>
LRESULT CALLBACK FormWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The application title (task-bar button, captions of the simple message boxes and of the
// error box), set by the main window.
std::string& ApplicationTitle();

// The module the windows and their resources belong to.
HINSTANCE Instance();

template <typename T>
LRESULT CALLBACK FormWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* form = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcW(hwnd, msg, wParam, lParam);
    LRESULT result = 0;
    Guarded(ApplicationTitle(), [&] { result = form->handle(hwnd, msg, wParam, lParam); });
    return result;
}

}  // namespace qx::win32
