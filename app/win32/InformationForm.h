// TInformationForm on the Win32 API: the SMART window. Created once at start, shown
// modally by "Smart Info"; "Get Smart Info" reads the chosen drive and lists its report.
#pragma once

#include <windows.h>

#include "app/win32/WinUi.h"

enum InformationFormControl : int { IDC_SMARTMEMO = 400, IDC_GETSMARTINFOBN };

class TInformationForm {
public:
    // A window of the class "TInformationForm" owned by `owner`, hidden, 385 x 500 outside,
    // where the system places a new window.
    explicit TInformationForm(HWND owner);
    ~TInformationForm();
    TInformationForm(const TInformationForm&) = delete;
    TInformationForm& operator=(const TInformationForm&) = delete;

    // Shows the window modally; returns when it is closed.
    void showModal();
    HWND handle() const { return hwnd_; }

    void GetSmartInfoBnClick();

    HWND SMARTMemo = nullptr;
    HWND GetSmartInfoBn = nullptr;

    // Messages of the window (through qx::win32::FormWindowProc).
    LRESULT handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    HWND hwnd_ = nullptr;
    HWND owner_ = nullptr;
    qx::win32::UniqueFont font_;
    bool done_ = true;
};
