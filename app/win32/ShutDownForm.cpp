// The shutdown prompt: "Shut down now" asks once more and then requests the power-off
// through the platform; every failure there is silent and leaves the prompt open.
#include "app/win32/ShutDownForm.h"

#include "app/win32/WinUi.h"
#include "platform/Platform.h"

using namespace qx::win32;

namespace {
const wchar_t kClass[] = L"TShutDownForm";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
}  // namespace

TShutDownForm::TShutDownForm(HWND owner) : owner_(owner) {
    RegisterFormClass(kClass, &FormWindowProc<TShutDownForm>);
    RECT outer{0, 0, Scaled(457), Scaled(90)};
    AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
    hwnd_ = CreateWindowExW(kExStyle, kClass, L"Warning", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            outer.right - outer.left, outer.bottom - outer.top, owner, nullptr, Instance(), this);
    formFont_.reset(PixelFont(L"MS Sans Serif", 11));
    labelFont_.reset(PixelFont(L"MS Sans Serif", 16));
    buttonFont_.reset(PixelFont(L"MS Sans Serif", 13));
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.get()), FALSE);

    const wchar_t* text = L"Updated successfully, please shut down your system.";
    // The label takes the size of its text (auto size).
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, labelFont_.get());
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    Label1 = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, Scaled(56), Scaled(8), extent.cx,
                             extent.cy, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SHUTDOWN_LABEL1)),
                             Instance(), nullptr);
    SendMessageW(Label1, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont_.get()), FALSE);
    auto button = [&](const wchar_t* caption, int left, int id) {
        const RECT r = ScaledRect(left, 47, 100, 20, LayoutDpi());
        HWND b = CreateWindowExW(0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
        return b;
    };
    ShutDown = button(L"Shut down now", 115, IDC_SHUTDOWN);  // tab order 0
    CloseBn = button(L"Exit", 232, IDC_SHUTDOWN_CLOSEBN);    // tab order 1
}

TShutDownForm::~TShutDownForm() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void TShutDownForm::showModal() {
    if (!hwnd_) return;
    CentreWindow(hwnd_, owner_);
    done_ = false;
    SetFocus(ShutDown);
    RunModal(hwnd_, owner_, done_);
}

void TShutDownForm::ShutDownClick() {
    if (MessageBoxW(nullptr, L"Are you sure shut down your PC", L"Warning",
                    MB_OKCANCEL | MB_ICONWARNING | MB_TASKMODAL) != IDOK)
        return;
    // The result is not shown: when the power-off does not happen, the prompt stays open.
    if (qx::Kernel* kernel = qx::platform().kernel) kernel->shutDownComputer();
}

void TShutDownForm::CloseBnClick() { done_ = true; }

LRESULT TShutDownForm::handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                if (LOWORD(wParam) == IDC_SHUTDOWN) ShutDownClick();
                else if (LOWORD(wParam) == IDC_SHUTDOWN_CLOSEBN || LOWORD(wParam) == IDCANCEL) CloseBnClick();
            }
            return 0;
        default:
            break;
    }
    return ModalFormMessage(hwnd, msg, wParam, lParam, formFont_.get(), hwnd_, done_);
}
