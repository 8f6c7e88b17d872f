// The SMART window: a read-only text box of report lines and the button that reads them.
// A failed read leaves the box as it was.
#include "app/win32/InformationForm.h"

#include <string>
#include <vector>

#include "app/win32/WinUi.h"
#include "smart/SmartReport.h"

using namespace qx::win32;

namespace {
const wchar_t kClass[] = L"TInformationForm";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
}  // namespace

TInformationForm::TInformationForm(HWND owner) : owner_(owner) {
    RegisterFormClass(kClass, &FormWindowProc<TInformationForm>);
    hwnd_ = CreateWindowExW(kExStyle, kClass, L"SMART Info", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, Scaled(385),
                            Scaled(500), owner, nullptr, Instance(), this);
    const int dpi = LayoutDpi();
    const RECT memo = ScaledRect(8, 16, 361, 289, dpi);
    const RECT button = ScaledRect(136, 408, 91, 25, dpi);
    font_.reset(PixelFont(L"Tahoma", 11));
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    // Fixed places: the controls keep their place and size when the window is resized.
    SMARTMemo = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                                    ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL,
                                memo.left, memo.top, memo.right - memo.left, memo.bottom - memo.top, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SMARTMEMO)),
                                Instance(), nullptr);
    SendMessageW(SMARTMemo, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    SendMessageW(SMARTMemo, EM_SETLIMITTEXT, 0, 0);
    GetSmartInfoBn = CreateWindowExW(0, L"BUTTON", L"Get Smart Info", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                     button.left, button.top, button.right - button.left,
                                     button.bottom - button.top, hwnd_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_GETSMARTINFOBN)), Instance(),
                                     nullptr);
    SendMessageW(GetSmartInfoBn, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
}

TInformationForm::~TInformationForm() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void TInformationForm::showModal() {
    if (!hwnd_) return;
    KeepWithinWorkArea(hwnd_);
    done_ = false;
    SetFocus(SMARTMemo);
    RunModal(hwnd_, owner_, done_);
}

void TInformationForm::GetSmartInfoBnClick() {
    std::vector<std::string> lines;
    if (!qx::GetSMARTInfo(lines)) return;
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    SetWindowTextW(SMARTMemo, Widen(text).c_str());
}

LRESULT TInformationForm::handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_GETSMARTINFOBN) GetSmartInfoBnClick();
            else if (LOWORD(wParam) == IDCANCEL) done_ = true;
            return 0;
        case WM_CTLCOLORSTATIC:
            // The read-only text box on the button face.
            if (reinterpret_cast<HWND>(lParam) == SMARTMemo) {
                SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        default:
            break;
    }
    return ModalFormMessage(hwnd, msg, wParam, lParam, font_.get(), hwnd_, done_);
}
