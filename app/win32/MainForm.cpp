// The main window on the Win32 API: layout, first-show work, the drive list's handlers,
// the buttons, and the user seam through which the procedures ask and tell the user.
#include "app/win32/MainForm.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <stdexcept>

#include "QXLib/DbgLog.h"
#include "app/win32/InformationForm.h"
#include "app/win32/InputBox.h"
#include "app/win32/ShutDownForm.h"
#include "app/win32/WicPicture.h"
#include "app/win32/WinUi.h"
#include "devices/Discovery.h"
#include "platform/Platform.h"
#include "smart/SmartReport.h"
#include "update/Package.h"
#include "update/SecureErase.h"
#include "update/Update.h"

using namespace qx::win32;
using qx::BoxIcon;

namespace {

constexpr int kStatusColumn = 5;
constexpr int kClientWidth = 800;
constexpr int kClientHeight = 600;
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
const wchar_t kMainClass[] = L"TMainForm";
const wchar_t kImageClass[] = L"TImage";
const wchar_t kApplicationClass[] = L"TQXApplication";

UINT boxIcon(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Warning: return MB_ICONWARNING;
        case BoxIcon::Error: return MB_ICONERROR;
        case BoxIcon::Information: return MB_ICONINFORMATION;
        case BoxIcon::None: break;
    }
    return 0;
}

// The background picture: drawn at its top-left corner, behind every other control; mouse
// presses fall through to the window (the hot spot lies under it).
LRESULT CALLBACK ImageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT client;
            GetClientRect(hwnd, &client);
            FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
            auto bitmap = reinterpret_cast<HBITMAP>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            if (bitmap) {
                BITMAP info{};
                GetObjectW(bitmap, sizeof info, &info);
                HDC memory = CreateCompatibleDC(dc);
                HGDIOBJ old = SelectObject(memory, bitmap);
                BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
                SelectObject(memory, old);
                DeleteDC(memory);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

// The hidden window that carries the application title on the task bar; the main window
// is owned by it. Closing it from the task bar closes the main window.
LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CLOSE: {
            HWND main = reinterpret_cast<HWND>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            if (main) PostMessageW(main, WM_CLOSE, 0, 0);
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) {
                HWND popup = GetLastActivePopup(hwnd);
                if (popup && popup != hwnd && IsWindowEnabled(popup)) SetActiveWindow(popup);
            }
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

// The list reports a click with NM_CLICK; some versions of the control leave a click on a
// check box unreported. The release of the left button is taken here as well: the recount
// is idempotent, so a click reported twice counts the same as once.
LRESULT CALLBACK ListSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (msg == WM_LBUTTONUP) reinterpret_cast<TMainForm*>(data)->ListView1Click();
    return result;
}

void registerClasses() {
    RegisterFormClass(kMainClass, &TMainForm::WindowProc);
    RegisterFormClass(kImageClass, ImageProc, false);
    RegisterFormClass(kApplicationClass, ApplicationProc, false);
}

// A control at the 96-DPI rectangle (x, y, w, h), scaled to the system DPI.
HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int x, int y, int w,
           int h, int id) {
    const RECT r = ScaledRect(x, y, w, h, LayoutDpi());
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_CLIPSIBLINGS | style, r.left, r.top, r.right - r.left,
                           r.bottom - r.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(),
                           nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------
class TMainForm::Boxes : public qx::CheckBoxes {
public:
    explicit Boxes(TMainForm& form) : form_(form) {}
    int count() override { return form_.rowCount(); }
    bool checked(int row) override { return form_.rowChecked(row); }
    void setChecked(int row, bool on) override {
        // Reported by the list (LVN_ITEMCHANGED) before this returns, like a click.
        ListView_SetCheckState(form_.ListView1, row, on ? TRUE : FALSE);
    }

private:
    TMainForm& form_;
};

TMainForm::TMainForm() {
    registerClasses();
    const std::string startTitle = qx::StartTitle();
    appWindow_ = CreateWindowExW(0, kApplicationClass, Widen(startTitle).c_str(),
                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, GetSystemMetrics(SM_CXSCREEN) / 2,
                                 GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr, Instance(), nullptr);
    RECT outer{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    AdjustWindowRectEx(&outer, kMainStyle, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kMainClass, Widen(startTitle).c_str(), kMainStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            outer.right - outer.left, outer.bottom - outer.top, appWindow_, nullptr, Instance(), this);
    // A failure from here on destroys what was made; the fonts, icons and the list's
    // subclass go with their holders.
    try {
        if (!hwnd_ || !appWindow_) throw std::runtime_error("The main window cannot be created");
        SetWindowLongPtrW(appWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(hwnd_));
        buildLayout();
        const std::string error = qx::CreateMainState(state_, *this);
        if (!error.empty()) throw std::runtime_error(error);
    } catch (...) {
        destroyWindows();
        throw;
    }
    ApplicationTitle() = state_.appTitle;
    SetWindowTextW(appWindow_, Widen(state_.appTitle).c_str());
    setCaption(state_.caption);
    CentreWindow(hwnd_);
}

// The windows go before the fonts, icons and picture they show (the members' holders).
TMainForm::~TMainForm() { destroyWindows(); }

void TMainForm::destroyWindows() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    if (appWindow_ && IsWindow(appWindow_)) DestroyWindow(appWindow_);
}

void TMainForm::buildLayout() {
    Shape1 = ScaledRect(2, 529, 15, 15, LayoutDpi());
    formFont_.reset(PixelFont(L"MS Sans Serif", 11));
    listFont_.reset(PixelFont(L"Courier New", 11));
    listBoldFont_.reset(PixelFont(L"Courier New", 11, true));
    memoFont_.reset(PixelFont(L"Courier New", 12));
    buttonFont_.reset(PixelFont(L"MS Sans Serif", 13));
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.get()), FALSE);

    // Created in the tab order: the list, "Scan for Drives", "Update Firmware", "Exit", the
    // log box, "Secure Erase", "Smart Info".
    ListView1 = child(hwnd_, WC_LISTVIEWW, L"",
                      WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                      WS_EX_CLIENTEDGE, 0, 117, 802, 218, IDC_LISTVIEW1);
    SendMessageW(ListView1, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_.get()), FALSE);
    ListView_SetExtendedListViewStyle(ListView1, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    listSubclass_.install(ListView1, ListSubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    const wchar_t* headers[] = {L"Disk", L"Model", L"Serial No.", L"FW Rev.", L"Capacity(GB)", L"Status"};
    const int widths[] = {43, 270, 160, 90, 105, 130};
    for (int c = 0; c < 6; ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = Scaled(widths[c]);
        column.pszText = const_cast<wchar_t*>(headers[c]);
        column.iSubItem = c;
        ListView_InsertColumn(ListView1, c, &column);
    }

    auto button = [&](const wchar_t* caption, int left, int width, bool enabled, int id) {
        HWND b = child(hwnd_, L"BUTTON", caption, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | (enabled ? 0 : WS_DISABLED),
                       0, left, 528, width, 20, id);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
        return b;
    };
    ScanBn = button(L"Scan for Drives", 463, 100, true, IDC_SCANBN);
    DownloadCodeBtn = button(L"Update Firmware", 572, 111, false, IDC_DOWNLOADCODEBTN);
    CloseBn = button(L"Exit", 692, 100, true, IDC_CLOSEBN);

    Memo1 = child(hwnd_, L"EDIT", L"",
                  WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                  WS_EX_CLIENTEDGE, 2, 342, 794, 147, IDC_MEMO1);
    SendMessageW(Memo1, WM_SETFONT, reinterpret_cast<WPARAM>(memoFont_.get()), FALSE);
    SendMessageW(Memo1, EM_SETLIMITTEXT, 0, 0);  // as much text as the box can hold

    SecureEraseBtn = button(L"Secure Erase", 8, 111, false, IDC_SECUREERASEBTN);
    SmartInfoBtn = button(L"Smart Info", 125, 111, false, IDC_SMARTINFOBTN);

    // Never shown: one entry per drive of the drive table.
    DeviceList = child(hwnd_, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 8, 408, 441, 21, IDC_DEVICELIST);
    SendMessageW(DeviceList, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.get()), FALSE);

    // Hidden until a picture is shown; below every other control.
    Image2 = child(hwnd_, kImageClass, L"", 0, 0, 0, 0, 801, 601, IDC_IMAGE2);
    SetWindowPos(Image2, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TMainForm::setModalForms(TShutDownForm* shutDown, TInformationForm* information) {
    shutDownForm_ = shutDown;
    informationForm_ = information;
}

void TMainForm::setCaption(const std::string& caption) {
    state_.caption = caption;
    SetWindowTextW(hwnd_, Widen(caption).c_str());
}

void TMainForm::setPicture(HBITMAP bitmap) {
    picture_.reset(bitmap);
    SetWindowLongPtrW(Image2, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture_.get()));
    InvalidateRect(Image2, nullptr, TRUE);
}

// ---------------------------------------------------------------------------------------
// Showing, scanning, closing.

void TMainForm::show() {
    ShowWindow(appWindow_, SW_SHOWNOACTIVATE);
    ShowWindow(hwnd_, SW_SHOWNORMAL);  // WM_SHOWWINDOW runs the first-show work
    SetForegroundWindow(hwnd_);
    SetFocus(ListView1);
}

bool TMainForm::firstShowWork() {
    if (!icon_) {
        icon_.reset(static_cast<HICON>(LoadImageW(Instance(), L"ICON_DEFAULT", IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
        smallIcon_.reset(static_cast<HICON>(LoadImageW(Instance(), L"ICON_DEFAULT", IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    }
    for (HWND w : {hwnd_, appWindow_}) {
        SendMessageW(w, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
        SendMessageW(w, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    }
    if (state_.PackageMode) {
        const qx::PackageShowing showing = qx::ReadPackageShowing(state_);
        if (showing.opened) setCaption(showing.caption);
        if (showing.decodePicture) {
            Picture picture;
            std::string error;
            if (!DecodeJpeg(showing.picture.data(), showing.picture.size(), picture, error, LayoutDpi())) {
                ShowErrorBox(state_.appTitle, error);
                return false;
            }
            setPicture(picture.bitmap);
        }
        ShowWindow(Image2, showing.pictureFlag ? SW_SHOWNA : SW_HIDE);
        return true;
    }
    const DWORD attributes = GetFileAttributesW(L"GUI_Main.jpg");  // the current working directory
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Picture picture;
        std::string error;
        if (!LoadJpegFile("GUI_Main.jpg", picture, error, LayoutDpi())) {
            ShowErrorBox(state_.appTitle, error);
            return false;
        }
        setPicture(picture.bitmap);
        SetWindowPos(Image2, HWND_BOTTOM, 0, 0, picture.width, picture.height, SWP_NOACTIVATE);
        SetClientSize(hwnd_, picture.width, picture.height);
        if (!IsWindowVisible(hwnd_)) CentreWindow(hwnd_);
        ShowWindow(Image2, state_.customBkImage != 0 ? SW_SHOWNA : SW_HIDE);
    }
    return true;
}

void TMainForm::scanWork() {
    state_.FirstShow = false;
    qx::ScanWork(state_, *this);
    syncDeviceList();
}

void TMainForm::FormShow() {
    Guarded(state_.appTitle, [this] {
        // A picture that cannot be decoded stops this showing: no scan, and the first-show
        // work is tried again at the next showing.
        if (state_.FirstShow && !firstShowWork()) return;
        scanWork();
    });
}

void TMainForm::syncDeviceList() {
    SendMessageW(DeviceList, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : state_.DeviceList)
        SendMessageW(DeviceList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
    const int count = static_cast<int>(SendMessageW(DeviceList, CB_GETCOUNT, 0, 0));
    SendMessageW(DeviceList, CB_SETCURSEL,
                 static_cast<WPARAM>(state_.deviceListSelected < count ? state_.deviceListSelected : -1), 0);
}

void TMainForm::ScanBnClick() {
    scanPending_ = false;  // this scan replaces the one still waiting for the first paint
    Guarded(state_.appTitle, [this] {
        qx::RescanDevices();
        notice(state_.caption, "Device scan is finished", BoxIcon::None);
    });
    FormShow();
}

void TMainForm::CloseBnClick() { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

void TMainForm::SpecialTipShapeMouseDown(bool ctrlDown) {
    if (!ctrlDown) return;
    qx::RDMode = true;
    notice(state_.appTitle, "Turn on RD mode", BoxIcon::None);
}

void TMainForm::runAction(void (*procedure)(qx::MainState&, qx::UserSeam&)) {
    Guarded(state_.appTitle, [&] { qx::RunAction(state_, *this, procedure); });
}

void TMainForm::DownloadCodeBtnClick() { runAction(&qx::DownloadCodeBtnClick); }
void TMainForm::SecureEraseBtnClick() { runAction(&qx::SecureEraseBtnClick); }
void TMainForm::SmartInfoBtnClick() { runAction(&qx::SmartInfoBtnClick); }

void TMainForm::ListView1ItemChecked(int row) {
    Boxes boxes(*this);
    qx::ListView1ItemChecked(state_, boxes, row);
}

void TMainForm::ListView1Click() {
    Boxes boxes(*this);
    qx::ListView1Click(state_, boxes);
}

// ---------------------------------------------------------------------------------------
// Messages.

LRESULT CALLBACK TMainForm::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form || !form->hwnd_) return DefWindowProcW(hwnd, msg, wParam, lParam);
    LRESULT result = 0;
    // Errors never cross the system's frames: they end here, in the standard error box.
    bool handled = false;
    Guarded(form->state_.appTitle, [&] {
        result = form->handle(msg, wParam, lParam);
        handled = true;
    });
    return handled ? result : 0;
}

LRESULT TMainForm::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    const HWND self = hwnd_;
    switch (msg) {
        case WM_SHOWWINDOW:
            if (wParam && lParam == 0) {
                // The first-show work comes before the window is painted; the scan right after
                // the first paint, so the window is on the screen while the drives answer.
                bool shown = false;
                Guarded(state_.appTitle, [&] { shown = !state_.FirstShow || firstShowWork(); });
                if (shown) {
                    scanPending_ = true;
                    PostMessageW(hwnd_, WM_QX_SCAN_AFTER_PAINT, 0, 0);
                }
            }
            break;
        case WM_QX_SCAN_AFTER_PAINT:
            if (scanPending_) {
                // Posted messages come before painting: paint the window and its controls now.
                RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
                GdiFlush();
                if (onMilestone) onMilestone("first-paint");
                scanPending_ = false;
                Guarded(state_.appTitle, [this] { scanWork(); });
                if (onMilestone) onMilestone("list-filled");
            }
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(formFont_.get());  // the window's default font
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && lParam != 0) command(LOWORD(wParam));
            return 0;
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header && header->hwndFrom == ListView1) return listNotify(header);
            break;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: {
            const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (PtInRect(&Shape1, at)) SpecialTipShapeMouseDown((wParam & MK_CONTROL) != 0);
            return 0;
        }
        case WM_CLOSE:
            // "Exit" is disabled while an action runs; the title bar's close button and Alt-F4
            // are refused the same way, so an update or erase is never cut off half-way.
            if (state_.actionRunning) return 0;
            DestroyWindow(hwnd_);
            return 0;
        case WM_DESTROY:
            // The list still exists here (its own destruction follows): its subclass goes now.
            listSubclass_.reset();
            if (closeEndsLoop_) PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            hwnd_ = nullptr;
            ListView1 = Memo1 = Image2 = DeviceList = nullptr;
            SecureEraseBtn = SmartInfoBtn = ScanBn = DownloadCodeBtn = CloseBn = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcW(self, msg, wParam, lParam);
}

void TMainForm::command(int id) {
    switch (id) {
        case IDC_SCANBN: ScanBnClick(); break;
        case IDC_DOWNLOADCODEBTN: DownloadCodeBtnClick(); break;
        case IDC_SECUREERASEBTN: SecureEraseBtnClick(); break;
        case IDC_SMARTINFOBTN: SmartInfoBtnClick(); break;
        case IDC_CLOSEBN: CloseBnClick(); break;
        default: break;
    }
}

LRESULT TMainForm::listNotify(NMHDR* header) {
    switch (header->code) {
        case LVN_ITEMCHANGED: {
            auto* change = reinterpret_cast<NMLISTVIEW*>(header);
            if (!(change->uChanged & LVIF_STATE)) return 0;
            if (!((change->uOldState ^ change->uNewState) & LVIS_STATEIMAGEMASK)) return 0;
            const bool now = ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
            if (edges_.changed(change->iItem, now)) ListView1ItemChecked(change->iItem);
            return 0;
        }
        case NM_CLICK:
            ListView1Click();
            return 0;
        case NM_CUSTOMDRAW:
            return customDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
        default:
            return 0;
    }
}

LRESULT TMainForm::customDraw(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
            return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
            // Every cell starts in the list's own font; the row caption keeps it.
            SelectObject(draw->nmcd.hdc, listFont_.get());
            draw->clrText = GetSysColor(COLOR_WINDOWTEXT);
            const int row = static_cast<int>(draw->nmcd.dwItemSpec);
            const int sub = draw->iSubItem;
            if (sub <= 0 || (sub == kStatusColumn && !hasStatus(row))) return CDRF_NEWFONT;
            const qx::CellStyle style = qx::SubItemStyle(cellText(row, sub));
            draw->clrText = RGB(style.red, style.green, style.blue);
            if (style.bold) SelectObject(draw->nmcd.hdc, listBoldFont_.get());
            return CDRF_NEWFONT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

// ---------------------------------------------------------------------------------------
// The user seam.

bool TMainForm::confirm(const std::string& caption, const std::string& text, BoxIcon icon) {
    return MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(),
                       MB_OKCANCEL | MB_TASKMODAL | boxIcon(icon)) == IDOK;
}

void TMainForm::notice(const std::string& caption, const std::string& text, BoxIcon icon) {
    MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | MB_TASKMODAL | boxIcon(icon));
}

std::string TMainForm::askText(const std::string& caption, const std::string& prompt, const std::string& def) {
    std::string value = def;
    if (!InputBox(hwnd_, caption, prompt, value)) return def;
    return value;
}

std::string TMainForm::chooseFile(const std::string& filter, const std::string& defaultExt,
                                  std::string& initialDir) {
    const std::wstring filters = OpenDialogFilter(filter);
    std::wstring ext = Widen(defaultExt);
    if (!ext.empty() && ext.front() == L'.') ext.erase(0, 1);
    const std::wstring dir = Widen(initialDir);
    std::wstring file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    // The working directory stays where it is: GUI_Main.jpg and DbgMsg.txt are found there.
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER |
                OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&ofn)) return {};
    const std::wstring chosen(file.c_str());
    if (chosen.empty()) return {};
    const size_t slash = chosen.find_last_of(L"\\/");
    if (slash != std::wstring::npos) initialDir = Narrow(chosen.substr(0, slash));
    return Narrow(chosen);
}

void TMainForm::appendLog(const std::string& line) {
    // Each line ends with its line break, as the log box's lines do.
    const std::wstring text = Widen(line) + L"\r\n";
    const auto length = static_cast<WPARAM>(GetWindowTextLengthW(Memo1));
    SendMessageW(Memo1, EM_SETSEL, length, static_cast<LPARAM>(length));
    SendMessageW(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(Memo1, EM_SCROLLCARET, 0, 0);
}

void TMainForm::clearLog() { SetWindowTextW(Memo1, L""); }

int TMainForm::rowCount() { return ListView1 ? ListView_GetItemCount(ListView1) : 0; }

bool TMainForm::rowChecked(int row) {
    if (row < 0 || row >= rowCount()) return false;
    return ListView_GetCheckState(ListView1, row) != 0;
}

std::string TMainForm::cellText(int row, int column) const {
    if (!ListView1 || row < 0 || row >= ListView_GetItemCount(ListView1) || column < 0 || column > kStatusColumn)
        return {};
    wchar_t buffer[512] = {};
    ListView_GetItemText(ListView1, row, column, buffer, static_cast<int>(std::size(buffer)));
    return Narrow(buffer);
}

bool TMainForm::hasStatus(int row) const {
    return row >= 0 && static_cast<size_t>(row) < hasStatus_.size() && hasStatus_[static_cast<size_t>(row)];
}

void TMainForm::setRowStatus(int row, const std::string& text) {
    if (row < 0 || row >= rowCount()) return;
    if (hasStatus_.size() <= static_cast<size_t>(row)) hasStatus_.resize(static_cast<size_t>(row) + 1, false);
    hasStatus_[static_cast<size_t>(row)] = true;
    std::wstring wide = Widen(text);
    ListView_SetItemText(ListView1, row, kStatusColumn, wide.data());
}

void TMainForm::clearRows() {
    const qx::CheckBoxEdges::RowsChanging removing(edges_);
    ListView_DeleteAllItems(ListView1);
    edges_.cleared();
    hasStatus_.clear();
}

void TMainForm::addRow(const qx::DriveRow& row) {
    const qx::CheckBoxEdges::RowsChanging adding(edges_);
    const int r = rowCount();
    std::wstring caption = Widen(row.caption);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = r;
    item.pszText = caption.data();
    const int at = ListView_InsertItem(ListView1, &item);
    if (at >= 0) {
        const std::string* cells[] = {&row.model, &row.serial, &row.firmware, &row.capacity};
        for (int c = 0; c < 4; ++c) {
            std::wstring text = Widen(*cells[c]);
            ListView_SetItemText(ListView1, at, c + 1, text.data());
        }
        edges_.appended(rowCount());
        hasStatus_.resize(static_cast<size_t>(rowCount()), false);
    }
}

void TMainForm::enableScanAndExit(bool on) {
    EnableWindow(ScanBn, on);
    EnableWindow(CloseBn, on);
}

void TMainForm::enableActions(bool on) {
    EnableWindow(DownloadCodeBtn, on);
    EnableWindow(SecureEraseBtn, on);
    EnableWindow(SmartInfoBtn, on);
}

void TMainForm::pause(uint32_t ms) { qx::PauseWhilePumping(ms, [] { return PumpWaitingMessages(); }); }

void TMainForm::showShutdownPrompt() {
    if (shutDownForm_) shutDownForm_->showModal();
}

void TMainForm::showSmartWindow() {
    if (informationForm_) informationForm_->showModal();
}
