// Helpers for the Win32 window tests.
#include "win32/Win32TestSupport.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>

#include "update/PackageWriter.h"

namespace qx::win32test {

namespace {

ModalAnswerer* gAnswerer = nullptr;
int gMissingButtons = 0;

// Common controls and the apartment, once for the test process, as the program sets them up.
class Win32Environment : public ::testing::Environment {
public:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void TearDown() override { CoUninitialize(); }
};
[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new Win32Environment);

bool isModalForm(HWND hwnd) {
    const std::wstring cls = ClassName(hwnd);
    return cls == L"TShutDownForm" || cls == L"TInformationForm";
}

}  // namespace

std::wstring ClassName(HWND hwnd) {
    wchar_t name[128] = {};
    GetClassNameW(hwnd, name, 128);
    return name;
}

ModalAnswerer::ModalAnswerer() {
    gAnswerer = this;
    hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, hookProc, nullptr, GetCurrentThreadId());
}

ModalAnswerer::~ModalAnswerer() {
    if (hook_) UnhookWindowsHookEx(hook_);
    gAnswerer = nullptr;
}

int ModalAnswerer::unexpected() const {
    int n = 0;
    for (const SeenModal& s : seen) n += s.expected ? 0 : 1;
    return n;
}

int ModalAnswerer::missingButtons() { return gMissingButtons; }

void ModalAnswerer::press(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    if (!button && id != IDCANCEL) {
        ++gMissingButtons;
        return;
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

LRESULT CALLBACK ModalAnswerer::hookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && gAnswerer) {
        const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (call->message == WM_INITDIALOG && ClassName(call->hwnd) == L"#32770") {
            gAnswerer->meet(call->hwnd);
        } else if (call->message == WM_SHOWWINDOW && call->wParam && isModalForm(call->hwnd)) {
            gAnswerer->meet(call->hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void ModalAnswerer::meet(HWND window) {
    SeenModal s;
    s.className = ClassName(window);
    s.title = win32::WindowText(window);
    if (HWND text = GetDlgItem(window, 0xFFFF)) s.text = win32::WindowText(text);
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (ClassName(c) == L"Static" || ClassName(c) == L"STATIC") {
            if ((GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                s.icon = reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0));
        }
    }
    if (answers_.empty()) {
        s.expected = false;
        seen.push_back(s);
        if (isModalForm(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        else PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    seen.push_back(s);
    Answer answer = std::move(answers_.front());
    answers_.pop_front();
    answer(window);
}

BenchScope::BenchScope(std::unique_ptr<sim::SimBench> bench) : bench_(std::move(bench)) {
    previous_ = platform();
    installPlatform(bench_->platform());
}

BenchScope::~BenchScope() { installPlatform(previous_); }

Windows::Windows() {
    main = std::make_unique<TMainForm>();
    shutDown = std::make_unique<TShutDownForm>(main->handle());
    information = std::make_unique<TInformationForm>(main->handle());
    main->setModalForms(shutDown.get(), information.get());
}

Windows::~Windows() {
    information.reset();
    shutDown.reset();
    main.reset();
    win32::PumpWaitingMessages();
}

void Windows::showAndScan() {
    main->show();
    // The scan is posted by the showing; the pump runs it (and anything it opens).
    for (int round = 0; round < 100 && main->scanPending(); ++round) win32::PumpWaitingMessages();
}

RECT ClientRect(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string RectText(const RECT& r) {
    char text[96];
    std::snprintf(text, sizeof text, "(%ld,%ld %ldx%ld)", static_cast<long>(r.left), static_cast<long>(r.top),
                  static_cast<long>(r.right - r.left), static_cast<long>(r.bottom - r.top));
    return text;
}

LOGFONTW FontOf(HWND hwnd) {
    LOGFONTW lf{};
    auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    if (font) GetObjectW(font, sizeof lf, &lf);
    return lf;
}

std::vector<uint8_t> MakeJpeg(int width, int height, COLORREF colour) {
    std::vector<uint8_t> out;
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
        return out;
    IStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    bool ok = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
              SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) && SUCCEEDED(frame->Initialize(options)) &&
              SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)));
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    ok = ok && SUCCEEDED(frame->SetPixelFormat(&format));
    if (ok) {
        const UINT stride = static_cast<UINT>(width) * 3;
        std::vector<BYTE> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int shade = x < width / 2 ? 2 : 1;
                BYTE* p = &pixels[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3];
                p[0] = static_cast<BYTE>(GetBValue(colour) / shade);
                p[1] = static_cast<BYTE>(GetGValue(colour) / shade);
                p[2] = static_cast<BYTE>(GetRValue(colour) / shade);
            }
        ok = SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), stride, static_cast<UINT>(pixels.size()),
                                          pixels.data())) &&
             SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    if (ok) {
        HGLOBAL memory = nullptr;
        STATSTG stat{};
        if (SUCCEEDED(GetHGlobalFromStream(stream, &memory)) && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
            const auto* bytes = static_cast<const uint8_t*>(GlobalLock(memory));
            if (bytes) out.assign(bytes, bytes + stat.cbSize.QuadPart);
            GlobalUnlock(memory);
        }
    }
    if (options) options->Release();
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    factory->Release();
    return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    HANDLE f = CreateFileW(win32::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() ||
                    (WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size());
    CloseHandle(f);
    return ok;
}

bool ClickCheckBox(HWND list, int row) {
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds)))
        return false;
    const int y = (bounds.top + bounds.bottom) / 2;
    for (int x = bounds.left; x < bounds.left + 40; ++x) {
        LVHITTESTINFO hit{};
        hit.pt = {x, y};
        SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.iItem == row && (hit.flags & LVHT_ONITEMSTATEICON)) {
            const LPARAM at = MAKELPARAM(x + 3, y);
            SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
            SendMessageW(list, WM_LBUTTONUP, 0, at);
            win32::PumpWaitingMessages();
            return true;
        }
    }
    return false;
}

std::string WritePackagedStandIn(const qx::test::TempDir& dir,
                                 const std::vector<std::pair<uint32_t, std::string>>& images) {
    const std::string in = dir.file("stand-in.exe");
    const std::string stub = "MZ test executable";
    EXPECT_TRUE(WriteFileBytes(in, std::vector<uint8_t>(stub.begin(), stub.end())));
    qx::PackageBuildRequest request;
    request.exePath = in;
    request.outPath = dir.file("qxupdater-demo.exe");
    request.versionText = "1.06";
    request.productName = "QX Demo SSD";
    request.picturePath = dir.file("picture.jpg");
    EXPECT_TRUE(WriteFileBytes(request.picturePath, MakeJpeg(800, 600)));
    for (size_t i = 0; i < images.size(); ++i) {
        qx::SyntheticImageSpec setup;
        setup.length = images[i].first;
        setup.buildInfo = images[i].second;
        setup.seed = static_cast<uint32_t>(i + 1);
        std::vector<uint8_t> image;
        std::string error;
        EXPECT_TRUE(qx::MakeSyntheticImage(setup, image, error)) << error;
        const std::string path = dir.file("slot" + std::to_string(i) + ".bin");
        EXPECT_TRUE(WriteFileBytes(path, image));
        request.imagePaths.push_back(path);
    }
    std::string error;
    EXPECT_TRUE(qx::BuildPackage(request, error)) << error;
    return request.outPath;
}

}  // namespace qx::win32test
