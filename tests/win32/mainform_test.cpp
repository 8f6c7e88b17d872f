// The Win32 windows in-process under Wine on the simulated bench: the layout (rectangles,
// captions, fonts, styles, tab order), the single-check rule through the list's own
// notifications, the Status colours from custom draw, the hot spot, one firmware update,
// a secure erase and a SMART read through the real message boxes and windows, the shutdown
// prompt, and a background picture that cannot be decoded.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "QXLib/DbgLog.h"
#include "QXLib/Smart.h"
#include "app/win32/Resources.h"
#include "support/TempDir.h"
#include "update/PackageWriter.h"
#include "win32/Win32TestSupport.h"

using qx::win32::Narrow;
using qx::win32::Widen;
using qx::win32::WindowText;
using namespace qx::win32test;
namespace sim = qx::sim;

namespace {

const std::wstring kDefaultTitle = L"Quorvex t74 Toolbox A.1.19(RC2)";

const char* kSlotInfos[] = {
    "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09",
    "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01",
    "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40C3D4,QX02",
};

RECT rect(int left, int top, int width, int height) { return RECT{left, top, left + width, top + height}; }

LONG_PTR styleOf(HWND hwnd) { return GetWindowLongPtrW(hwnd, GWL_STYLE); }

void click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

class Win32FormsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // GUI_Main.jpg and the configuration file are looked up in a folder of the test's own.
        wchar_t previous[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, previous);
        previous_ = previous;
        ASSERT_TRUE(SetCurrentDirectoryW(Widen(dir_.str()).c_str()));
        exePath_ = dir_.file("qxupdater.exe");  // absent: file mode
        ASSERT_TRUE(WriteFileBytes(dir_.file("QXUpdater.ini"), bytes("[DeviceSetting]\r\nFirmwareVer=1.0\r\n")));
        qx::RDMode = false;
    }
    void TearDown() override {
        qx::RDMode = false;
        SetCurrentDirectoryW(previous_.c_str());
    }

    static std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

    std::unique_ptr<sim::SimBench> demoBench(const std::string& exe) {
        auto bench = sim::SimBench::demo();
        bench->setup().executablePath = exe;
        return bench;
    }

    // The demo package behind a stand-in executable, written by the packaging tool's code.
    std::string packagedExecutable() {
        return WritePackagedStandIn(dir_, {{150016, kSlotInfos[0]}, {150016, kSlotInfos[1]}, {150528, kSlotInfos[2]}});
    }

    qx::test::TempDir dir_{"win32forms"};
    std::wstring previous_;
    std::string exePath_;
};

// ---------------------------------------------------------------------------------------
TEST_F(Win32FormsTest, LayoutCaptionsFontsStylesAndTabOrder) {
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TMainForm& m = *w.main;
    HWND main = m.handle();
    EXPECT_EQ(std::wstring(FontOf(main).lfFaceName), L"MS Sans Serif");
    EXPECT_EQ(FontOf(main).lfHeight, -11);
    EXPECT_EQ(WindowText(main), kDefaultTitle);
    EXPECT_EQ(WindowText(m.applicationWindow()), kDefaultTitle);
    EXPECT_EQ(GetWindow(main, GW_OWNER), m.applicationWindow());

    RECT client{};
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    const LONG_PTR mainStyle = styleOf(main);
    EXPECT_TRUE(mainStyle & WS_SYSMENU);
    EXPECT_TRUE(mainStyle & WS_CAPTION);
    EXPECT_FALSE(mainStyle & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    RECT outer{};
    GetWindowRect(main, &outer);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_LE(std::abs((outer.left + outer.right) / 2 - cx / 2), 1) << "centred on the desktop";
    EXPECT_LE(std::abs((outer.top + outer.bottom) / 2 - cy / 2), 1);

    EXPECT_TRUE(SameRect(ClientRect(m.Image2), rect(0, 0, 801, 601))) << RectText(ClientRect(m.Image2));
    EXPECT_FALSE(IsWindowVisible(m.Image2));
    EXPECT_EQ(GetWindow(m.Image2, GW_HWNDNEXT), nullptr) << "the picture lies behind every control";
    EXPECT_TRUE(SameRect(m.Shape1, rect(2, 529, 15, 15)));
    RECT combo = ClientRect(m.DeviceList);
    EXPECT_EQ(combo.left, 8);
    EXPECT_EQ(combo.top, 408);
    EXPECT_EQ(combo.right - combo.left, 441);
    EXPECT_FALSE(styleOf(m.DeviceList) & WS_VISIBLE);

    EXPECT_TRUE(SameRect(ClientRect(m.ListView1), rect(0, 117, 802, 218))) << RectText(ClientRect(m.ListView1));
    const LONG_PTR listStyle = styleOf(m.ListView1);
    EXPECT_EQ(listStyle & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(listStyle & LVS_SINGLESEL);
    EXPECT_TRUE(listStyle & LVS_NOSORTHEADER);
    EXPECT_FALSE(listStyle & LVS_EDITLABELS);
    const DWORD listEx = ListView_GetExtendedListViewStyle(m.ListView1);
    EXPECT_TRUE(listEx & LVS_EX_CHECKBOXES);
    EXPECT_TRUE(listEx & LVS_EX_GRIDLINES);
    LOGFONTW listFont = FontOf(m.ListView1);
    EXPECT_EQ(std::wstring(listFont.lfFaceName), L"Courier New");
    EXPECT_EQ(listFont.lfHeight, -11);
    EXPECT_EQ(listFont.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(listFont.lfWeight, FW_NORMAL);
    const wchar_t* headers[] = {L"Disk", L"Model", L"Serial No.", L"FW Rev.", L"Capacity(GB)", L"Status"};
    const int widths[] = {43, 270, 160, 90, 105, 130};
    HWND header = ListView_GetHeader(m.ListView1);
    ASSERT_EQ(Header_GetItemCount(header), 6);
    for (int c = 0; c < 6; ++c) {
        wchar_t text[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cchTextMax = 64;
        ASSERT_TRUE(ListView_GetColumn(m.ListView1, c, &column));
        EXPECT_EQ(std::wstring(text), headers[c]);
        EXPECT_EQ(column.cx, widths[c]);
    }

    EXPECT_TRUE(SameRect(ClientRect(m.Memo1), rect(2, 342, 794, 147))) << RectText(ClientRect(m.Memo1));
    const LONG_PTR memoStyle = styleOf(m.Memo1);
    EXPECT_TRUE(memoStyle & ES_MULTILINE);
    EXPECT_TRUE(memoStyle & WS_VSCROLL);
    EXPECT_FALSE(memoStyle & ES_READONLY);
    LOGFONTW memoFont = FontOf(m.Memo1);
    EXPECT_EQ(std::wstring(memoFont.lfFaceName), L"Courier New");
    EXPECT_EQ(memoFont.lfHeight, -12);

    struct B {
        HWND button;
        const wchar_t* caption;
        RECT at;
        bool enabled;
    } buttons[] = {
        {m.SecureEraseBtn, L"Secure Erase", rect(8, 528, 111, 20), false},
        {m.SmartInfoBtn, L"Smart Info", rect(125, 528, 111, 20), false},
        {m.ScanBn, L"Scan for Drives", rect(463, 528, 100, 20), true},
        {m.DownloadCodeBtn, L"Update Firmware", rect(572, 528, 111, 20), false},
        {m.CloseBn, L"Exit", rect(692, 528, 100, 20), true},
    };
    for (const B& b : buttons) {
        SCOPED_TRACE(Narrow(b.caption));
        EXPECT_EQ(WindowText(b.button), b.caption);
        EXPECT_TRUE(SameRect(ClientRect(b.button), b.at)) << RectText(ClientRect(b.button));
        EXPECT_EQ(IsWindowEnabled(b.button) != 0, b.enabled);  // as laid out, before the first showing
        EXPECT_EQ((styleOf(b.button) & BS_TYPEMASK), BS_PUSHBUTTON);
        LOGFONTW font = FontOf(b.button);
        EXPECT_EQ(std::wstring(font.lfFaceName), L"MS Sans Serif");
        EXPECT_EQ(font.lfHeight, -13);
    }

    // The tab order is the order of the tab stops among the window's children.
    const std::vector<HWND> expected = {m.ListView1, m.ScanBn, m.DownloadCodeBtn, m.CloseBn,
                                        m.Memo1, m.SecureEraseBtn, m.SmartInfoBtn};
    std::vector<HWND> stops;
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (styleOf(c) & WS_TABSTOP) stops.push_back(c);
    EXPECT_EQ(stops, expected);

    // After the first showing the three actions are enabled, and Tab walks the same cycle.
    w.showAndScan();
    EXPECT_EQ(m.rowCount(), 4);
    for (const B& b : buttons) EXPECT_TRUE(IsWindowEnabled(b.button));
    HWND at = m.ListView1;
    for (size_t i = 1; i <= expected.size(); ++i) {
        at = GetNextDlgTabItem(main, at, FALSE);
        EXPECT_EQ(at, expected[i % expected.size()]) << "tab stop " << i;
    }
    EXPECT_EQ(m.cellText(0, 0), "1");
    EXPECT_FALSE(m.hasStatus(0));
}

TEST_F(Win32FormsTest, ShutdownAndSmartWindowsLayout) {
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TShutDownForm& s = *w.shutDown;
    EXPECT_EQ(WindowText(s.handle()), L"Warning");
    EXPECT_EQ(GetWindow(s.handle(), GW_OWNER), w.main->handle());
    RECT client{};
    GetClientRect(s.handle(), &client);
    EXPECT_EQ(client.right, 457);
    EXPECT_EQ(client.bottom, 90);
    EXPECT_FALSE(styleOf(s.handle()) & WS_THICKFRAME);
    EXPECT_EQ(WindowText(s.Label1), L"Updated successfully, please shut down your system.");
    EXPECT_EQ(ClientRect(s.Label1).left, 56);
    EXPECT_EQ(ClientRect(s.Label1).top, 8);
    EXPECT_EQ(FontOf(s.Label1).lfHeight, -16);
    EXPECT_EQ(FontOf(s.handle()).lfHeight, -11);
    EXPECT_TRUE(SameRect(ClientRect(s.ShutDown), rect(115, 47, 100, 20)));
    EXPECT_TRUE(SameRect(ClientRect(s.CloseBn), rect(232, 47, 100, 20)));
    EXPECT_EQ(WindowText(s.ShutDown), L"Shut down now");
    EXPECT_EQ(WindowText(s.CloseBn), L"Exit");
    EXPECT_EQ(FontOf(s.ShutDown).lfHeight, -13);
    EXPECT_EQ(GetWindow(s.ShutDown, GW_HWNDNEXT), s.CloseBn) << "tab order";

    TInformationForm& i = *w.information;
    EXPECT_EQ(WindowText(i.handle()), L"SMART Info");
    RECT outer{};
    GetWindowRect(i.handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 385);
    EXPECT_EQ(outer.bottom - outer.top, 500);
    const LONG_PTR style = styleOf(i.handle());
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ(std::wstring(FontOf(i.handle()).lfFaceName), L"Tahoma");
    EXPECT_EQ(FontOf(i.handle()).lfHeight, -11);
    EXPECT_TRUE(SameRect(ClientRect(i.SMARTMemo), rect(8, 16, 361, 289)));
    EXPECT_TRUE(styleOf(i.SMARTMemo) & ES_READONLY);
    EXPECT_TRUE(styleOf(i.SMARTMemo) & WS_HSCROLL);
    EXPECT_TRUE(styleOf(i.SMARTMemo) & WS_VSCROLL);
    EXPECT_TRUE(SameRect(ClientRect(i.GetSmartInfoBn), rect(136, 408, 91, 25)));
    EXPECT_EQ(WindowText(i.GetSmartInfoBn), L"Get Smart Info");
    EXPECT_EQ(GetWindow(i.SMARTMemo, GW_HWNDNEXT), i.GetSmartInfoBn) << "tab order";
    // Resizing moves nothing.
    SetWindowPos(i.handle(), nullptr, 0, 0, 600, 700, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(SameRect(ClientRect(i.GetSmartInfoBn), rect(136, 408, 91, 25)));
}

TEST_F(Win32FormsTest, MouseChecksKeepAtMostOneRowThroughTheListsNotifications) {
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TMainForm& m = *w.main;
    w.showAndScan();
    ASSERT_EQ(m.rowCount(), 4);
    auto checks = [&] {
        std::vector<bool> out;
        for (int r = 0; r < m.rowCount(); ++r) out.push_back(m.rowChecked(r));
        return out;
    };
    ASSERT_TRUE(ClickCheckBox(m.ListView1, 0));
    EXPECT_EQ(checks(), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(m.state().CheckedCount, 1);
    EXPECT_EQ(m.state().CheckedIndex, 0);

    ASSERT_TRUE(ClickCheckBox(m.ListView1, 1));
    EXPECT_EQ(checks(), (std::vector<bool>{false, true, false, false}));
    EXPECT_EQ(m.state().CheckedIndex, 1);

    ASSERT_TRUE(ClickCheckBox(m.ListView1, 1));
    EXPECT_EQ(checks(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(m.state().CheckedCount, 0) << "the click after the change counts afresh";
    EXPECT_EQ(m.state().CheckedIndex, -1);

    // The space bar changes the focused row's box: the rule runs, no click follows.
    ListView_SetItemState(m.ListView1, 2, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    SetFocus(m.ListView1);
    SendMessageW(m.ListView1, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(m.ListView1, WM_KEYUP, VK_SPACE, 0);
    qx::win32::PumpWaitingMessages();
    EXPECT_EQ(checks(), (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(m.state().CheckedIndex, 2);
    ASSERT_TRUE(ClickCheckBox(m.ListView1, 3));
    EXPECT_EQ(checks(), (std::vector<bool>{false, false, false, true}));
    EXPECT_EQ(m.state().CheckedCount, 1);
    EXPECT_EQ(m.state().CheckedIndex, 3);
}

// Renders the list into a bitmap through its own painting (custom draw included) and counts
// the pixels of `colour` inside the Status cell of `row`.
int statusPixels(HWND list, int row, COLORREF colour) {
    RECT client{};
    GetClientRect(list, &client);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    GdiFlush();
    RECT cell{};
    ListView_GetSubItemRect(list, row, 5, LVIR_BOUNDS, &cell);
    int n = 0;
    const auto* pixels = static_cast<const uint32_t*>(bits);
    for (int y = std::max<LONG>(cell.top, 0); y < std::min<LONG>(cell.bottom, client.bottom); ++y)
        for (int x = std::max<LONG>(cell.left, 0); x < std::min<LONG>(cell.right, client.right); ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(client.right) + static_cast<size_t>(x)];
            const int r = static_cast<int>((p >> 16) & 0xFF), g = static_cast<int>((p >> 8) & 0xFF),
                      b = static_cast<int>(p & 0xFF);
            if (std::abs(r - GetRValue(colour)) < 60 && std::abs(g - GetGValue(colour)) < 60 &&
                std::abs(b - GetBValue(colour)) < 60)
                ++n;
        }
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return n;
}

TEST_F(Win32FormsTest, StatusCellsAreColouredByCustomDraw) {
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TMainForm& m = *w.main;
    w.showAndScan();
    ASSERT_EQ(m.rowCount(), 4);
    m.setRowStatus(0, "Fail");
    m.setRowStatus(1, "Pass");
    m.setRowStatus(2, "No update needed");
    m.setRowStatus(3, "");
    EXPECT_EQ(m.cellText(2, 5), "No update needed");
    EXPECT_TRUE(m.hasStatus(3));
    const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), green = RGB(0, 128, 0), black = RGB(0, 0, 0);
    EXPECT_GT(statusPixels(m.ListView1, 0, red), 3);
    EXPECT_EQ(statusPixels(m.ListView1, 0, blue), 0);
    EXPECT_GT(statusPixels(m.ListView1, 1, blue), 3);
    EXPECT_EQ(statusPixels(m.ListView1, 1, red), 0);
    EXPECT_GT(statusPixels(m.ListView1, 2, green), 3);
    EXPECT_EQ(statusPixels(m.ListView1, 2, red), 0);
    for (COLORREF c : {red, blue, green}) EXPECT_EQ(statusPixels(m.ListView1, 3, c), 0);
    // Black text is ordinary text: a black Status draws as such.
    m.setRowStatus(3, "Busy");
    EXPECT_GT(statusPixels(m.ListView1, 3, black), 3);
    // Changing the text changes the colour.
    m.setRowStatus(0, "Pass");
    EXPECT_EQ(statusPixels(m.ListView1, 0, red), 0);
    EXPECT_GT(statusPixels(m.ListView1, 0, blue), 3);
}

TEST_F(Win32FormsTest, HotSpotNeedsCtrl) {
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TMainForm& m = *w.main;
    w.showAndScan();
    ModalAnswerer answerer;
    const LPARAM inside = MAKELPARAM(4, 536);  // in the square, left of "Secure Erase"
    SendMessageW(m.handle(), WM_LBUTTONDOWN, MK_LBUTTON, inside);
    SendMessageW(m.handle(), WM_LBUTTONUP, 0, inside);
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_FALSE(qx::RDMode);
    answerer.then(ModalAnswerer::pressing(IDOK));
    answerer.then(ModalAnswerer::pressing(IDOK));
    SendMessageW(m.handle(), WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, inside);
    SendMessageW(m.handle(), WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, inside);  // any button, every time
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[0].text, L"Turn on RD mode");
    EXPECT_EQ(answerer.seen[0].title, kDefaultTitle);
    EXPECT_EQ(answerer.seen[0].icon, nullptr);
    EXPECT_TRUE(qx::RDMode);
    // Outside the square nothing happens.
    SendMessageW(m.handle(), WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(30, 560));
    EXPECT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.unexpected(), 0);
}

// One update on the demo bench through the real boxes, as a user does it.
TEST_F(Win32FormsTest, UpdateFirmwareThroughTheRealBoxes) {
    const std::string exe = packagedExecutable();
    BenchScope scope(demoBench(exe));
    Windows w;
    TMainForm& m = *w.main;
    w.showAndScan();
    EXPECT_EQ(WindowText(m.handle()), L"QX Demo SSD A.1.19(RC2) [1.06]");
    EXPECT_EQ(WindowText(m.applicationWindow()), L" Toolbox A.1.19(RC2)");
    EXPECT_TRUE(IsWindowVisible(m.Image2));
    ASSERT_EQ(m.rowCount(), 4);
    ASSERT_TRUE(ClickCheckBox(m.ListView1, 0));

    ModalAnswerer answerer;
    bool exitEnabledAtQuestion = true;
    bool stayedOpen = false;
    bool ownerDisabled = false;
    answerer.then([&](HWND box) {
        exitEnabledAtQuestion = IsWindowEnabled(m.CloseBn) != 0;
        ModalAnswerer::press(box, IDOK);
    });
    answerer.then([&](HWND prompt) {
        EXPECT_EQ(prompt, w.shutDown->handle());
        ownerDisabled = !IsWindowEnabled(m.handle());
        SendMessageW(m.handle(), WM_CLOSE, 0, 0);  // refused while the update runs
        stayedOpen = IsWindow(m.handle()) && IsWindowVisible(m.handle());
        ModalAnswerer::press(prompt, IDC_SHUTDOWN_CLOSEBN);
    });
    click(m.DownloadCodeBtn);

    EXPECT_EQ(answerer.unexpected(), 0);
    EXPECT_EQ(ModalAnswerer::missingButtons(), 0);
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[0].className, L"#32770");
    EXPECT_EQ(answerer.seen[0].title, L"Warning");
    EXPECT_EQ(answerer.seen[0].text.rfind(L"Please close all other \"applications\"", 0), 0u);
    EXPECT_NE(answerer.seen[0].icon, nullptr) << "the warning icon";
    EXPECT_EQ(answerer.seen[1].className, L"TShutDownForm");
    EXPECT_FALSE(exitEnabledAtQuestion);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(m.handle()));
    EXPECT_FALSE(IsWindowVisible(w.shutDown->handle()));

    EXPECT_EQ(m.cellText(0, 5), "Pass");
    for (int r = 1; r < 4; ++r) EXPECT_EQ(m.cellText(r, 5), "");
    EXPECT_TRUE(scope.bench().driveState(0).firmwareUpdated);
    EXPECT_EQ(scope.bench().driveState(0).firmware, "1.06");
    const std::wstring log = WindowText(m.Memo1);
    EXPECT_NE(log.find(L"Disk 1 starting update.\r\n"), std::wstring::npos);
    EXPECT_NE(log.find(L"Disk 1 updated successfully, please shut down your system\r\n"), std::wstring::npos);
    EXPECT_TRUE(IsWindowEnabled(m.CloseBn));
    EXPECT_TRUE(IsWindowEnabled(m.DownloadCodeBtn));
    // Not running any more: closing works now.
    SendMessageW(m.handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(w.main->handle()));
}

TEST_F(Win32FormsTest, SecureEraseWithTheInputBox) {
    BenchScope scope(demoBench(exePath_));
    // Disk 2 of the demo bench holds C:, the running system's volume, which is never erased;
    // here it holds a data volume instead.
    scope.bench().setup().disks.at(1).volumes = {'F'};
    Windows w;
    TMainForm& m = *w.main;
    w.showAndScan();
    ASSERT_TRUE(ClickCheckBox(m.ListView1, 1));

    // Cancelled at the password: nothing is sent.
    ModalAnswerer answerer;
    answerer.then(ModalAnswerer::pressing(IDOK));
    answerer.then([&](HWND input) {
        SetDlgItemTextW(input, IDC_INPUT_EDIT, L"typed, then cancelled");
        ModalAnswerer::press(input, IDCANCEL);
    });
    answerer.then(ModalAnswerer::pressing(IDOK));
    click(m.SecureEraseBtn);
    ASSERT_EQ(answerer.seen.size(), 3u);
    EXPECT_EQ(answerer.seen[1].title, L"Please Input the Password");
    EXPECT_EQ(answerer.seen[2].text, L"No password and secure erase cancelled!");
    EXPECT_FALSE(scope.bench().driveState(1).erasePrepared);

    // Typed and confirmed: the drive is erased.
    std::wstring prompt;
    answerer.then(ModalAnswerer::pressing(IDOK));
    answerer.then([&](HWND input) {
        prompt = WindowText(GetDlgItem(input, IDC_INPUT_PROMPT));
        EXPECT_FALSE(GetWindowLongPtrW(GetDlgItem(input, IDC_INPUT_EDIT), GWL_STYLE) & ES_PASSWORD)
            << "the password is shown as typed";
        SetDlgItemTextW(input, IDC_INPUT_EDIT, Widen(scope.bench().setup().disks.at(1).drive.masterPassword).c_str());
        ModalAnswerer::press(input, IDOK);
    });
    click(m.SecureEraseBtn);
    EXPECT_EQ(answerer.unexpected(), 0);
    EXPECT_EQ(ModalAnswerer::missingButtons(), 0);
    EXPECT_EQ(answerer.seen.size(), 5u);
    EXPECT_EQ(prompt, L"Password");
    EXPECT_TRUE(scope.bench().driveState(1).erased);
    EXPECT_EQ(m.cellText(1, 5), "Pass");
    EXPECT_NE(WindowText(m.Memo1).find(L"Disk 2 secure erase successfully"), std::wstring::npos);
}

TEST_F(Win32FormsTest, SmartInfoWithTheSmartWindow) {
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TMainForm& m = *w.main;
    w.showAndScan();
    ModalAnswerer answerer;
    // No row checked: the notice, no window.
    answerer.then(ModalAnswerer::pressing(IDOK));
    click(m.SmartInfoBtn);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].text, L"Please select a disk!");
    EXPECT_TRUE(IsWindowEnabled(m.SmartInfoBtn));

    ASSERT_TRUE(ClickCheckBox(m.ListView1, 1));
    bool exitEnabledInside = true;
    answerer.then([&](HWND window) {
        EXPECT_EQ(window, w.information->handle());
        exitEnabledInside = IsWindowEnabled(m.CloseBn) != 0;
        ModalAnswerer::press(window, IDC_GETSMARTINFOBN);
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
    click(m.SmartInfoBtn);
    EXPECT_EQ(answerer.unexpected(), 0);
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_FALSE(exitEnabledInside);
    EXPECT_EQ(int{qx::SmartDrive}, 1);
    const std::wstring report = WindowText(w.information->SMARTMemo);
    EXPECT_FALSE(report.empty());
    EXPECT_FALSE(IsWindowVisible(w.information->handle()));
    EXPECT_TRUE(IsWindowEnabled(m.CloseBn));
    EXPECT_TRUE(IsWindowEnabled(m.SmartInfoBtn));

    // Shown again: the same window, its lines kept until read again.
    answerer.then([&](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); });
    click(m.SmartInfoBtn);
    EXPECT_EQ(WindowText(w.information->SMARTMemo), report);
}

TEST_F(Win32FormsTest, ShutdownPromptCancelThenExitAndOk) {
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TShutDownForm& s = *w.shutDown;
    ModalAnswerer answerer;
    answerer.then(ModalAnswerer::pressing(IDC_SHUTDOWN));
    answerer.then([&](HWND box) {
        // Cancel leaves the prompt open; then "Exit".
        ModalAnswerer::press(box, IDCANCEL);
        ModalAnswerer::press(s.handle(), IDC_SHUTDOWN_CLOSEBN);
    });
    s.showModal();
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[1].title, L"Warning");
    EXPECT_EQ(answerer.seen[1].text, L"Are you sure shut down your PC");
    EXPECT_NE(answerer.seen[1].icon, nullptr);
    EXPECT_EQ(scope.bench().shutdownRequests(), 0);
    EXPECT_FALSE(IsWindowVisible(s.handle()));

    // OK asks for the power-off; the prompt stays open until "Exit".
    bool openAfterOk = false;
    answerer.then(ModalAnswerer::pressing(IDC_SHUTDOWN));
    answerer.then([&](HWND box) {
        ModalAnswerer::press(box, IDOK);
        PostMessageW(s.handle(), WM_NULL, 0, 0);
        ModalAnswerer::press(s.handle(), IDC_SHUTDOWN_CLOSEBN);
    });
    s.showModal();
    openAfterOk = scope.bench().shutdownRequests() == 1;
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(answerer.seen.size(), 4u);
    EXPECT_EQ(answerer.unexpected(), 0);
    EXPECT_EQ(ModalAnswerer::missingButtons(), 0);
}

TEST_F(Win32FormsTest, BrokenBackgroundPictureStopsTheScan) {
    ASSERT_TRUE(WriteFileBytes("GUI_Main.jpg", bytes("not a picture at all")));
    BenchScope scope(demoBench(exePath_));
    Windows w;
    TMainForm& m = *w.main;
    ModalAnswerer answerer;
    answerer.then(ModalAnswerer::pressing(IDOK));
    w.showAndScan();
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, kDefaultTitle);
    EXPECT_EQ(answerer.seen[0].text.rfind(L"JPEG error", 0), 0u) << Narrow(answerer.seen[0].text);
    EXPECT_NE(answerer.seen[0].icon, nullptr) << "the error icon";
    EXPECT_TRUE(IsWindowVisible(m.handle()));
    EXPECT_TRUE(m.state().FirstShow);
    EXPECT_EQ(m.rowCount(), 0);
    EXPECT_FALSE(IsWindowEnabled(m.DownloadCodeBtn));
    EXPECT_TRUE(scope.bench().calls().empty()) << "no drive was touched";

    // Every "Scan for Drives" meets the same error and does not scan.
    answerer.then(ModalAnswerer::pressing(IDOK));
    answerer.then(ModalAnswerer::pressing(IDOK));
    click(m.ScanBn);
    ASSERT_EQ(answerer.seen.size(), 3u);
    EXPECT_EQ(answerer.seen[1].text, L"Device scan is finished");
    EXPECT_EQ(answerer.seen[2].text.rfind(L"JPEG error", 0), 0u);
    EXPECT_EQ(m.rowCount(), 0);

    // Repaired: the next scan completes the first-show work and lists the drives.
    ASSERT_TRUE(WriteFileBytes("GUI_Main.jpg", MakeJpeg(640, 480)));
    answerer.then(ModalAnswerer::pressing(IDOK));
    click(m.ScanBn);
    EXPECT_EQ(answerer.seen.size(), 4u);
    EXPECT_EQ(answerer.unexpected(), 0);
    EXPECT_FALSE(m.state().FirstShow);
    EXPECT_EQ(m.rowCount(), 4);
    RECT client{};
    GetClientRect(m.handle(), &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    EXPECT_TRUE(SameRect(ClientRect(m.Image2), rect(0, 0, 640, 480)));
    EXPECT_FALSE(IsWindowVisible(m.Image2)) << "CustomBKImage is 0";
}

// Start-up blind spots, through the real message boxes: a process without administrator
// rights, and a copy whose listed size says it carries a package it cannot read (a network
// drive an elevated program does not see). Each gets its notice, in the standard form and
// before the first scan; the scan then runs.
TEST_F(Win32FormsTest, StartupNoticesComeBeforeTheFirstScan) {
    auto bench = demoBench(dir_.file("on-a-network-drive.exe"));  // absent: cannot be read
    bench->setup().elevated = false;
    bench->setup().executableSize = 4000000;
    BenchScope scope(std::move(bench));
    Windows w;
    TMainForm& m = *w.main;
    ModalAnswerer answerer;
    size_t callsAtFirstBox = 99;
    answerer.then([&](HWND box) {
        callsAtFirstBox = scope.bench().calls().size();
        ModalAnswerer::press(box, IDOK);
    });
    answerer.then(ModalAnswerer::pressing(IDOK));
    w.showAndScan();
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(callsAtFirstBox, 0u) << "before any drive is touched";
    EXPECT_EQ(answerer.seen[0].text, Widen(qx::kNotElevatedNotice));
    // The standard notice form: the main window's title (package mode: " Toolbox ..." while
    // the unreadable header gives no product name).
    EXPECT_EQ(answerer.seen[0].title, WindowText(m.handle()));
    EXPECT_EQ(answerer.seen[0].title, L" Toolbox A.1.19(RC2)");
    EXPECT_EQ(answerer.seen[1].title, WindowText(m.handle()));
    EXPECT_NE(answerer.seen[1].text.find(L"could not read its own file"), std::wstring::npos);
    EXPECT_NE(answerer.seen[1].text.find(L"Copy the program to a folder on a local disk"), std::wstring::npos);
    EXPECT_EQ(m.state().PackageMode, 1);
    EXPECT_EQ(m.rowCount(), 4) << "the scan runs after the notices";
    // Told once: the next scan shows only its own box.
    answerer.then(ModalAnswerer::pressing(IDOK));
    click(m.ScanBn);
    EXPECT_EQ(answerer.seen.size(), 3u);
    EXPECT_EQ(answerer.seen[2].text, L"Device scan is finished");
    EXPECT_EQ(answerer.unexpected(), 0);
}

}  // namespace

namespace {

BOOL CALLBACK countMainWindows(HWND hwnd, LPARAM count) {
    const std::wstring cls = ClassName(hwnd);
    if (cls == L"TMainForm" || cls == L"TQXApplication") ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int mainWindowsOfThisThread() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), countMainWindows, reinterpret_cast<LPARAM>(&count));
    return count;
}

}  // namespace

TEST_F(Win32FormsTest, ACreationThatFailsLeavesNoWindowBehind) {
    // The configuration file cannot be created: the constructor throws after the windows,
    // fonts and the list's subclass were made, and takes them all down again.
    const int before = mainWindowsOfThisThread();
    BenchScope scope(demoBench(dir_.file("no-such-dir/qxupdater.exe")));
    ModalAnswerer answerer;
    answerer.then(ModalAnswerer::pressing(IDOK));
    std::string thrown;
    try {
        TMainForm form;
    } catch (const std::runtime_error& e) {
        thrown = e.what();
    }
    EXPECT_EQ(thrown.rfind("Unable to write to ", 0), 0u) << thrown;
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, L"Error");
    EXPECT_EQ(mainWindowsOfThisThread(), before);
}
