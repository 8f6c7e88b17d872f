// TMainForm on the Win32 API: the utility's one main window with the drive list, the log
// box and the row of buttons. It runs the first-show work and the scan, and answers the
// procedures through the user seam (message boxes, input box, file dialog, list rows,
// pauses that keep the window's messages flowing).
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "app/core/DriveListRules.h"
#include "app/core/MainState.h"
#include "app/core/UserSeam.h"
#include "app/win32/WinUi.h"

class TShutDownForm;
class TInformationForm;

// Posted to the main window once its first showing has been painted: the scan follows.
constexpr UINT WM_QX_SCAN_AFTER_PAINT = WM_APP + 1;

// Control identifiers (from 100, clear of IDOK and IDCANCEL, which the dialog keys send).
enum MainFormControl : int {
    IDC_LISTVIEW1 = 100,
    IDC_MEMO1,
    IDC_SECUREERASEBTN,
    IDC_SMARTINFOBTN,
    IDC_SCANBN,
    IDC_DOWNLOADCODEBTN,
    IDC_CLOSEBN,
    IDC_DEVICELIST,
    IDC_IMAGE2,
};

class TMainForm : public qx::UserSeam {
public:
    // Runs the creation steps and creates the window (hidden) with its controls. Throws
    // std::runtime_error with the text to show when it cannot be created ("Unable to write
    // to %s").
    TMainForm();
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    void setModalForms(TShutDownForm* shutDown, TInformationForm* information);

    HWND handle() const { return hwnd_; }
    // The hidden window that owns the main window and carries the application title on
    // the task bar.
    HWND applicationWindow() const { return appWindow_; }
    qx::MainState& state() { return state_; }
    const std::string& appTitle() const { return state_.appTitle; }
    // Shows the window: first-show work, then (after the window is painted) the scan.
    void show();
    // True from the showing until the scan that follows the first paint has run.
    bool scanPending() const { return scanPending_; }
    // The program's own main window: its closing ends the message loop (WM_QUIT).
    void setCloseEndsLoop(bool on) { closeEndsLoop_ = on; }
    // Told "first-paint" when the first showing has been painted and "list-filled" when
    // the scan that follows it has filled the list (start-up timing).
    std::function<void(const char* milestone)> onMilestone;

    // Handlers.
    void FormShow();
    void ScanBnClick();
    void DownloadCodeBtnClick();
    void SecureEraseBtnClick();
    void SmartInfoBtnClick();
    void CloseBnClick();
    void SpecialTipShapeMouseDown(bool ctrlDown);
    void ListView1ItemChecked(int row);
    void ListView1Click();

    // qx::UserSeam
    bool confirm(const std::string& caption, const std::string& text, qx::BoxIcon icon) override;
    void notice(const std::string& caption, const std::string& text, qx::BoxIcon icon) override;
    std::string askText(const std::string& caption, const std::string& prompt,
                        const std::string& def) override;
    std::string chooseFile(const std::string& filter, const std::string& defaultExt,
                           std::string& initialDir) override;
    void appendLog(const std::string& line) override;
    void clearLog() override;
    int rowCount() override;
    bool rowChecked(int row) override;
    void setRowStatus(int row, const std::string& text) override;
    void clearRows() override;
    void addRow(const qx::DriveRow& row) override;
    void enableScanAndExit(bool on) override;
    void enableActions(bool on) override;
    void pause(uint32_t ms) override;
    void showShutdownPrompt() override;
    void showSmartWindow() override;

    // Text of a list cell (column 0 is the row caption); empty for a missing cell.
    std::string cellText(int row, int column) const;
    // Whether the row has its Status cell (written by an action).
    bool hasStatus(int row) const;

    // Controls, named as the window's designer named them. Shape1 is a mouse-sensitive
    // rectangle of the window itself (it has no window of its own and draws nothing).
    HWND Image2 = nullptr;
    RECT Shape1{2, 529, 2 + 15, 529 + 15};  // scaled to the system DPI with the layout
    HWND DeviceList = nullptr;
    HWND ListView1 = nullptr;
    HWND Memo1 = nullptr;
    HWND SecureEraseBtn = nullptr;
    HWND SmartInfoBtn = nullptr;
    HWND ScanBn = nullptr;
    HWND DownloadCodeBtn = nullptr;
    HWND CloseBn = nullptr;

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    class Boxes;
    LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT listNotify(NMHDR* header);
    LRESULT customDraw(NMLVCUSTOMDRAW* draw);
    void command(int id);
    void buildLayout();
    void destroyWindows();
    void setCaption(const std::string& caption);
    void setPicture(HBITMAP bitmap);
    // First-show work; false when the picture could not be decoded (already reported).
    bool firstShowWork();
    void scanWork();
    void syncDeviceList();
    void runAction(void (*procedure)(qx::MainState&, qx::UserSeam&));

    qx::MainState state_;
    HWND hwnd_ = nullptr;
    HWND appWindow_ = nullptr;
    TShutDownForm* shutDownForm_ = nullptr;
    TInformationForm* informationForm_ = nullptr;
    qx::win32::UniqueFont formFont_;
    qx::win32::UniqueFont listFont_;
    qx::win32::UniqueFont listBoldFont_;
    qx::win32::UniqueFont memoFont_;
    qx::win32::UniqueFont buttonFont_;
    qx::win32::UniqueIcon icon_;
    qx::win32::UniqueIcon smallIcon_;
    qx::win32::UniqueBitmap picture_;
    qx::win32::WindowSubclass listSubclass_;  // the list's release of the left button
    qx::CheckBoxEdges edges_;                 // which of the list's reports are box changes
    std::vector<bool> hasStatus_;             // each row: its Status cell was written
    bool scanPending_ = false;
    bool closeEndsLoop_ = false;
};
