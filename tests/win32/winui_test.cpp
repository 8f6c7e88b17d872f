// The Win32 windows' shared pieces under Wine: the owners of fonts, bitmaps and the list's
// subclass, the answers the modal windows share, and the picture file reader's bounds and
// error texts.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/win32/WicPicture.h"
#include "app/win32/WinUi.h"
#include "support/TempDir.h"
#include "win32/Win32TestSupport.h"

using namespace qx::win32;
using namespace qx::win32test;

namespace {

TEST(HandleOwners, AFontAndABitmapAreDeletedWhenTheirOwnerGoesOrTakesAnother) {
    HFONT first = PixelFont(L"Courier New", 11);
    HFONT second = PixelFont(L"Courier New", 12);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    {
        UniqueFont font(first);
        EXPECT_EQ(GetObjectType(first), static_cast<DWORD>(OBJ_FONT));
        font.reset(second);
        EXPECT_EQ(GetObjectType(first), 0u);  // released when replaced
        EXPECT_EQ(GetObjectType(second), static_cast<DWORD>(OBJ_FONT));
    }
    EXPECT_EQ(GetObjectType(second), 0u);  // released when its owner went

    HBITMAP bitmap = CreateBitmap(4, 4, 1, 32, nullptr);
    ASSERT_NE(bitmap, nullptr);
    { const UniqueBitmap owner(bitmap); }
    EXPECT_EQ(GetObjectType(bitmap), 0u);
}

TEST(HandleOwners, AnOwnerThatIsUnwoundByAnErrorStillReleasesItsFont) {
    HFONT font = PixelFont(L"MS Sans Serif", 13);
    ASSERT_NE(font, nullptr);
    try {
        const UniqueFont owner(font);
        throw std::runtime_error("construction failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(GetObjectType(font), 0u);
}

LRESULT CALLBACK countingSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    if (msg == WM_USER) ++*reinterpret_cast<int*>(data);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

TEST(WindowSubclassHolder, RemovesTheSubclassWhenResetOrGone) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, Instance(), nullptr);
    ASSERT_NE(window, nullptr);
    int calls = 0;
    {
        WindowSubclass subclass;
        ASSERT_TRUE(subclass.install(window, countingSubclass, 7, reinterpret_cast<DWORD_PTR>(&calls)));
        EXPECT_TRUE(subclass.installed());
        SendMessageW(window, WM_USER, 0, 0);  // the subclass sees the window's messages
        EXPECT_EQ(calls, 1);
        subclass.reset();
        EXPECT_FALSE(subclass.installed());
        SendMessageW(window, WM_USER, 0, 0);
        EXPECT_EQ(calls, 1);

        ASSERT_TRUE(subclass.install(window, countingSubclass, 7, reinterpret_cast<DWORD_PTR>(&calls)));
        SendMessageW(window, WM_USER, 0, 0);
        EXPECT_EQ(calls, 2);
    }
    SendMessageW(window, WM_USER, 0, 0);  // the holder went, and the subclass with it
    EXPECT_EQ(calls, 2);

    // A window destroyed before its holder resets: nothing is left to remove, nothing fails.
    WindowSubclass late;
    ASSERT_TRUE(late.install(window, countingSubclass, 7, reinterpret_cast<DWORD_PTR>(&calls)));
    DestroyWindow(window);
    late.reset();
    EXPECT_FALSE(late.installed());
}

TEST(ModalForms, TheSharedAnswersGiveTheFontEndTheRunAndForgetTheWindow) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, Instance(), nullptr);
    ASSERT_NE(window, nullptr);
    const UniqueFont font(PixelFont(L"Tahoma", 11));
    HWND held = window;
    bool done = false;
    EXPECT_EQ(ModalFormMessage(window, WM_GETFONT, 0, 0, font.get(), held, done),
              reinterpret_cast<LRESULT>(font.get()));
    EXPECT_FALSE(done);
    EXPECT_EQ(ModalFormMessage(window, WM_CLOSE, 0, 0, font.get(), held, done), 0);
    EXPECT_TRUE(done);
    EXPECT_TRUE(IsWindow(window));  // closing only ends the modal run
    EXPECT_EQ(held, window);
    ModalFormMessage(window, WM_NCDESTROY, 0, 0, font.get(), held, done);
    EXPECT_EQ(held, nullptr);
    DestroyWindow(window);
}

TEST(PictureFile, MissingDirectoryOversizedAndGoodFilesGiveTheirTexts) {
    qx::test::TempDir dir;
    Picture picture;
    std::string error;

    const std::string missing = dir.file("missing.jpg");
    EXPECT_FALSE(LoadJpegFile(missing, picture, error));
    EXPECT_EQ(error, "Cannot open " + missing);
    EXPECT_EQ(picture.bitmap, nullptr);

    EXPECT_FALSE(LoadJpegFile(dir.str(), picture, error));  // a directory
    EXPECT_EQ(error, "Cannot open " + dir.str());

    // One byte more than the largest picture file: refused by its size, not read.
    const std::string huge = dir.file("huge.jpg");
    {
        std::FILE* out = _wfopen(Widen(huge).c_str(), L"wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(_fseeki64(out, static_cast<__int64>(kMaxPictureFileBytes), SEEK_SET), 0);
        ASSERT_EQ(std::fputc(0, out), 0);
        std::fclose(out);
    }
    EXPECT_FALSE(LoadJpegFile(huge, picture, error));
    EXPECT_EQ(error, "JPEG error: " + huge + " is larger than 33554432 bytes");

    const std::string empty = dir.file("empty.jpg");
    ASSERT_TRUE(WriteFileBytes(empty, {}));
    EXPECT_FALSE(LoadJpegFile(empty, picture, error));
    EXPECT_EQ(error, "JPEG error: the picture is empty");

    const std::string good = dir.file("good.jpg");
    ASSERT_TRUE(WriteFileBytes(good, MakeJpeg(40, 30)));
    ASSERT_TRUE(LoadJpegFile(good, picture, error)) << error;
    EXPECT_EQ(picture.width, 40);
    EXPECT_EQ(picture.height, 30);
    DeleteObject(picture.bitmap);
}

}  // namespace
