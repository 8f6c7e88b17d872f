// The windows on high-DPI screens: every rectangle and font height of the 96-DPI layouts
// scaled by the system DPI / 96, the background picture resampled to the same scale, the
// list's columns and the buttons in their order with their gaps, every window within the
// work area. scripts/run-win32-dpi-tests.sh runs these at 96, 120, 144 and 192 DPI (the
// prefix's LogPixels) and names the DPI it set in QX_EXPECT_DPI.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/win32/InputBox.h"
#include "app/win32/WicPicture.h"
#include "support/TempDir.h"
#include "win32/Win32TestSupport.h"

using qx::win32::LayoutDpi;
using qx::win32::PlaceWithin;
using qx::win32::ScaledAt;
using qx::win32::ScaledRect;
using namespace qx::win32test;
namespace sim = qx::sim;

namespace {

int dpi() { return LayoutDpi(); }
RECT scaled(int x, int y, int w, int h) { return ScaledRect(x, y, w, h, dpi()); }
int px(int v) { return ScaledAt(v, dpi()); }

RECT workArea(HWND hwnd) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

void expectWithinWorkArea(HWND hwnd, const char* what) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    const RECT work = workArea(hwnd);
    EXPECT_GE(r.left, work.left) << what << " " << RectText(r) << " in " << RectText(work);
    EXPECT_GE(r.top, work.top) << what << " " << RectText(r) << " in " << RectText(work);
    EXPECT_LE(r.right, work.right) << what << " " << RectText(r) << " in " << RectText(work);
    EXPECT_LE(r.bottom, work.bottom) << what << " " << RectText(r) << " in " << RectText(work);
}

class Win32Dpi : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t previous[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, previous);
        previous_ = previous;
        ASSERT_TRUE(SetCurrentDirectoryW(qx::win32::Widen(dir_.str()).c_str()));
        ASSERT_TRUE(WriteFileBytes(dir_.file("QXUpdater.ini"), bytes("[DeviceSetting]\r\nFirmwareVer=1.0\r\n")));
    }
    void TearDown() override { SetCurrentDirectoryW(previous_.c_str()); }
    static std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

    // A package with an 800 x 600 background picture behind a stand-in executable.
    std::string packageWithPicture() {
        return WritePackagedStandIn(dir_, {{150016, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01"}});
    }

    std::unique_ptr<sim::SimBench> demoBench(const std::string& exe) {
        auto bench = sim::SimBench::demo();
        bench->setup().executablePath = exe;
        return bench;
    }

    qx::test::TempDir dir_{"win32dpi"};
    std::wstring previous_;
};

// ---------------------------------------------------------------------------------------
TEST_F(Win32Dpi, TheSystemDpiIsTheOneTheRunnerSet) {
    const char* expected = std::getenv("QX_EXPECT_DPI");
    if (expected == nullptr) GTEST_SKIP() << "run by scripts/run-win32-dpi-tests.sh";
    EXPECT_EQ(dpi(), std::atoi(expected)) << "the prefix's LogPixels did not reach the program";
}

TEST_F(Win32Dpi, MainWindowRectanglesFontsColumnsAndPictureScale) {
    BenchScope scope(demoBench(packageWithPicture()));
    Windows w;
    TMainForm& m = *w.main;
    SCOPED_TRACE("system DPI " + std::to_string(dpi()));

    RECT client{};
    GetClientRect(m.handle(), &client);
    EXPECT_EQ(client.right, px(800));
    EXPECT_EQ(client.bottom, px(600));
    EXPECT_TRUE(SameRect(ClientRect(m.ListView1), scaled(0, 117, 802, 218))) << RectText(ClientRect(m.ListView1));
    EXPECT_TRUE(SameRect(ClientRect(m.Memo1), scaled(2, 342, 794, 147))) << RectText(ClientRect(m.Memo1));
    EXPECT_TRUE(SameRect(ClientRect(m.Image2), scaled(0, 0, 801, 601))) << RectText(ClientRect(m.Image2));
    EXPECT_TRUE(SameRect(m.Shape1, scaled(2, 529, 15, 15))) << RectText(m.Shape1);
    EXPECT_EQ(FontOf(m.handle()).lfHeight, -px(11));
    EXPECT_EQ(FontOf(m.ListView1).lfHeight, -px(11));
    EXPECT_EQ(FontOf(m.Memo1).lfHeight, -px(12));

    // The columns: in their order, each as wide as scaled.
    const wchar_t* headers[] = {L"Disk", L"Model", L"Serial No.", L"FW Rev.", L"Capacity(GB)", L"Status"};
    const int widths[] = {43, 270, 160, 90, 105, 130};
    HWND header = ListView_GetHeader(m.ListView1);
    ASSERT_EQ(Header_GetItemCount(header), 6);
    int order[6] = {};
    ASSERT_TRUE(ListView_GetColumnOrderArray(m.ListView1, 6, order));
    int previousRight = 0;
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(order[c], c);
        wchar_t text[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cchTextMax = 64;
        ASSERT_TRUE(ListView_GetColumn(m.ListView1, c, &column));
        EXPECT_EQ(std::wstring(text), headers[c]);
        EXPECT_EQ(column.cx, px(widths[c])) << c;
        RECT item{};
        Header_GetItemRect(header, c, &item);
        EXPECT_EQ(item.left, previousRight) << "column " << c << " follows the one before";
        previousRight = item.right;
    }

    // The buttons: left to right in the row, their gaps scaled (within the one rounding).
    struct B {
        HWND button;
        int left, width;
    } row[] = {{m.SecureEraseBtn, 8, 111}, {m.SmartInfoBtn, 125, 111}, {m.ScanBn, 463, 100},
               {m.DownloadCodeBtn, 572, 111}, {m.CloseBn, 692, 100}};
    for (size_t i = 0; i < std::size(row); ++i) {
        const RECT at = ClientRect(row[i].button);
        EXPECT_TRUE(SameRect(at, scaled(row[i].left, 528, row[i].width, 20))) << RectText(at);
        EXPECT_EQ(FontOf(row[i].button).lfHeight, -px(13));
        if (i == 0) continue;
        const RECT before = ClientRect(row[i - 1].button);
        const int gap96 = row[i].left - (row[i - 1].left + row[i - 1].width);
        EXPECT_LT(before.right, at.left) << "order";
        EXPECT_LE(std::abs((at.left - before.right) - MulDiv(gap96, dpi(), 96)), 1) << "gap " << i;
    }

    // The picture is resampled once to the layout's scale and covers the client area.
    w.showAndScan();
    ASSERT_TRUE(IsWindowVisible(m.Image2));
    auto* bitmap = reinterpret_cast<HBITMAP>(GetWindowLongPtrW(m.Image2, GWLP_USERDATA));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    ASSERT_TRUE(GetObjectW(bitmap, sizeof info, &info));
    EXPECT_EQ(info.bmWidth, px(800));
    EXPECT_EQ(info.bmHeight, px(600));
    expectWithinWorkArea(m.handle(), "main window");
}

TEST_F(Win32Dpi, ShutdownPromptSmartWindowAndInputBoxScaleAndStayInTheWorkArea) {
    BenchScope scope(demoBench(dir_.file("qxupdater.exe")));
    Windows w;
    TShutDownForm& s = *w.shutDown;
    RECT client{};
    GetClientRect(s.handle(), &client);
    EXPECT_EQ(client.right, px(457));
    EXPECT_EQ(client.bottom, px(90));
    EXPECT_EQ(ClientRect(s.Label1).left, px(56));
    EXPECT_EQ(ClientRect(s.Label1).top, px(8));
    EXPECT_EQ(FontOf(s.Label1).lfHeight, -px(16));
    EXPECT_TRUE(SameRect(ClientRect(s.ShutDown), scaled(115, 47, 100, 20))) << RectText(ClientRect(s.ShutDown));
    EXPECT_TRUE(SameRect(ClientRect(s.CloseBn), scaled(232, 47, 100, 20))) << RectText(ClientRect(s.CloseBn));

    TInformationForm& i = *w.information;
    RECT outer{};
    GetWindowRect(i.handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, px(385));
    EXPECT_EQ(outer.bottom - outer.top, px(500));
    EXPECT_EQ(FontOf(i.handle()).lfHeight, -px(11));
    EXPECT_TRUE(SameRect(ClientRect(i.SMARTMemo), scaled(8, 16, 361, 289)));
    EXPECT_TRUE(SameRect(ClientRect(i.GetSmartInfoBn), scaled(136, 408, 91, 25)));

    // Each modal window, as it comes up, lies within the work area; the input box's dialog
    // font (8 points) follows the DPI, and with it the box.
    w.showAndScan();
    ModalAnswerer answerer;
    answerer.then([&](HWND prompt) {
        expectWithinWorkArea(prompt, "shutdown prompt");
        ModalAnswerer::press(prompt, IDC_SHUTDOWN_CLOSEBN);
    });
    w.main->showShutdownPrompt();
    answerer.then([&](HWND box) {
        expectWithinWorkArea(box, "input box");
        EXPECT_EQ(FontOf(box).lfHeight, -MulDiv(8, dpi(), 72));
        ModalAnswerer::press(box, IDCANCEL);
    });
    std::string value = "x";
    EXPECT_FALSE(qx::win32::InputBox(w.main->handle(), "Password", "Type it", value));
    answerer.then([&](HWND smart) {
        expectWithinWorkArea(smart, "SMART window");
        PostMessageW(smart, WM_CLOSE, 0, 0);
    });
    w.main->showSmartWindow();
    EXPECT_EQ(answerer.unexpected(), 0);
    EXPECT_FALSE(answerer.pending());
}

TEST(WindowPlacement, CentredThenMovedIntoTheWorkArea) {
    const RECT work{0, 0, 1920, 1040};  // 1080 lines less a task bar
    // Centred on the work area when it fits.
    POINT at = PlaceWithin(work, SIZE{800, 600}, work);
    EXPECT_EQ(at.x, 560);
    EXPECT_EQ(at.y, 220);
    // Centred over an owner near the edge: moved back inside.
    at = PlaceWithin(RECT{1700, 900, 1900, 1000}, SIZE{400, 300}, work);
    EXPECT_EQ(at.x, 1520);
    EXPECT_EQ(at.y, 740);
    at = PlaceWithin(RECT{-500, -400, -100, -100}, SIZE{400, 300}, work);
    EXPECT_EQ(at.x, 0);
    EXPECT_EQ(at.y, 0);
    // The 800 x 600 layout at 175 % (1400 x 1050 plus the frame) is taller than the area:
    // its title bar stays at the top of the area, not above the screen.
    at = PlaceWithin(work, SIZE{1416, 1089}, work);
    EXPECT_EQ(at.x, 252);
    EXPECT_EQ(at.y, 0);
    // A second monitor left of the primary one.
    const RECT left{-1280, 0, 0, 984};
    at = PlaceWithin(left, SIZE{1000, 700}, left);
    EXPECT_EQ(at.x, -1140);
    EXPECT_EQ(at.y, 142);
}

TEST(PictureScaling, ResampledOnceToTheLayoutScale) {
    const std::vector<uint8_t> jpeg = MakeJpeg(800, 600);
    for (const int at : {96, 120, 144, 192}) {
        qx::win32::Picture picture;
        std::string error;
        ASSERT_TRUE(qx::win32::DecodeJpeg(jpeg.data(), jpeg.size(), picture, error, at)) << error;
        EXPECT_EQ(picture.width, ScaledAt(800, at));
        EXPECT_EQ(picture.height, ScaledAt(600, at));
        DeleteObject(picture.bitmap);
    }
    // A side that would grow past the largest picture is refused, not allocated.
    const std::vector<uint8_t> wide = MakeJpeg(6000, 10);
    qx::win32::Picture picture;
    std::string error;
    EXPECT_FALSE(qx::win32::DecodeJpeg(wide.data(), wide.size(), picture, error, 192));
    EXPECT_NE(error.find("cannot be scaled"), std::string::npos) << error;
    EXPECT_EQ(picture.bitmap, nullptr);
}

}  // namespace
