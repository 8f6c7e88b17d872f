// Helpers for the Win32 window tests, which run in-process under Wine: an answerer that
// meets every modal window the code under test opens (message boxes, the input box, the
// two modal forms) from a thread hook and presses its buttons, a simulated bench installed
// for one test, the three windows as the program creates them, and pictures made with the
// imaging component's own JPEG encoder.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <wincodec.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/win32/InformationForm.h"
#include "app/win32/MainForm.h"
#include "app/win32/ShutDownForm.h"
#include "app/win32/WinUi.h"
#include "platform/Platform.h"
#include "platform/sim/SimBench.h"
#include "support/TempDir.h"

namespace qx::win32test {

// What the answerer saw of one modal window.
struct SeenModal {
    std::wstring className;
    std::wstring title;
    std::wstring text;   // message boxes: the message
    HICON icon = nullptr;  // message boxes: the icon shown, if any
    bool expected = true;  // false: no answer was scripted, the window was cancelled
};

std::wstring ClassName(HWND hwnd);

// Answers the modal windows of this thread as they come up, one scripted answer each. A
// dialog is met when it has been initialised (WM_INITDIALOG, seen by a WH_CALLWNDPROCRET
// hook); a modal form of the utility when it is being shown. Answers run inside the hook:
// they look at the window and post the presses of its buttons, which the window's own
// modal loop then carries out in order. Nothing waits on the clock.
class ModalAnswerer {
public:
    using Answer = std::function<void(HWND)>;
    ModalAnswerer();
    ~ModalAnswerer();
    ModalAnswerer(const ModalAnswerer&) = delete;
    ModalAnswerer& operator=(const ModalAnswerer&) = delete;

    void then(Answer answer) { answers_.push_back(std::move(answer)); }

    // Posts a press of the button `id` of `window` (WM_COMMAND, BN_CLICKED, as the button
    // sends it). Records a failure when the window has no such button.
    static void press(HWND window, int id);
    static Answer pressing(int id) {
        return [id](HWND w) { press(w, id); };
    }

    std::vector<SeenModal> seen;
    bool pending() const { return !answers_.empty(); }
    int unexpected() const;
    static int missingButtons();

private:
    static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam);
    void meet(HWND window);
    HHOOK hook_ = nullptr;
    std::deque<Answer> answers_;
};

// A bench installed as the process platform for the length of a test.
class BenchScope {
public:
    explicit BenchScope(std::unique_ptr<sim::SimBench> bench);
    ~BenchScope();
    sim::SimBench& bench() { return *bench_; }

private:
    std::unique_ptr<sim::SimBench> bench_;
    Platform previous_;
};

// The three windows, created as the program creates them.
struct Windows {
    std::unique_ptr<TMainForm> main;
    std::unique_ptr<TShutDownForm> shutDown;
    std::unique_ptr<TInformationForm> information;
    Windows();
    ~Windows();
    // Shows the main window and lets its messages run until the scan after the first
    // paint is done.
    void showAndScan();
};

// A control's rectangle in the client coordinates of its parent.
RECT ClientRect(HWND control);
bool SameRect(const RECT& a, const RECT& b);
std::string RectText(const RECT& r);
// The face and height of the font a window draws with (WM_GETFONT).
LOGFONTW FontOf(HWND hwnd);

// A JPEG of the given size from the imaging component's encoder (left half darker).
std::vector<uint8_t> MakeJpeg(int width, int height, COLORREF colour = RGB(200, 40, 40));
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Writes a package behind a stand-in executable into `dir` with the packaging tool's code:
// version 1.06, product "QX Demo SSD", an 800 x 600 background picture, one synthetic image
// per (length, BuildInfo text). Returns the package's path.
std::string WritePackagedStandIn(const qx::test::TempDir& dir,
                                 const std::vector<std::pair<uint32_t, std::string>>& images);

// Clicks the check box of a row with the mouse: button down and up at the state icon.
bool ClickCheckBox(HWND list, int row);

}  // namespace qx::win32test
