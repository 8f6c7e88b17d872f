// TShutDownForm on the Win32 API: the prompt shown after a firmware update in which a
// drive passed. It tells the user to shut the computer down and offers to power it off at
// once. Created once at start, shown modally over the main window.
#pragma once

#include <windows.h>

#include "app/win32/WinUi.h"

enum ShutDownFormControl : int { IDC_SHUTDOWN = 300, IDC_SHUTDOWN_CLOSEBN, IDC_SHUTDOWN_LABEL1 };

class TShutDownForm {
public:
    // A window of the class "TShutDownForm" owned by `owner` (the main window), hidden.
    explicit TShutDownForm(HWND owner);
    ~TShutDownForm();
    TShutDownForm(const TShutDownForm&) = delete;
    TShutDownForm& operator=(const TShutDownForm&) = delete;

    // Centres the prompt on the main window and shows it modally; returns when it is closed.
    void showModal();
    HWND handle() const { return hwnd_; }

    void ShutDownClick();
    void CloseBnClick();

    HWND Label1 = nullptr;
    HWND ShutDown = nullptr;
    HWND CloseBn = nullptr;

    // Messages of the window (through qx::win32::FormWindowProc).
    LRESULT handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    HWND hwnd_ = nullptr;
    HWND owner_ = nullptr;
    qx::win32::UniqueFont formFont_;
    qx::win32::UniqueFont labelFont_;
    qx::win32::UniqueFont buttonFont_;
    bool done_ = true;
};
