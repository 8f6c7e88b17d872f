// JPEG decoding through the Windows Imaging Component.
#include "app/win32/WicPicture.h"

#include <wincodec.h>

#include <cstdio>
#include <vector>

#include "app/win32/WinUi.h"
#include "platform/BinaryFile.h"

namespace qx::win32 {

namespace {

template <typename T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p) p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};

std::string hresultText(const char* what, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof text, "JPEG error: %s (0x%08lX)", what, static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, Picture& picture, std::string& error, int dpi) {
    picture = Picture{};
    if (data == nullptr || size == 0) {
        error = "JPEG error: the picture is empty";
        return false;
    }
    if (size > kMaxPictureFileBytes) {
        error = "JPEG error: the picture is larger than " + std::to_string(kMaxPictureFileBytes) + " bytes";
        return false;
    }
    // The component is used from the user-interface thread; an apartment already set up
    // there is fine.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool uninit = SUCCEEDED(init);
    struct Uninit {
        bool on;
        ~Uninit() {
            if (on) CoUninitialize();
        }
    } uninitGuard{uninit};

    bool ok = false;
    {
        ComPtr<IWICImagingFactory> factory;
        HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(factory.out()));
        if (FAILED(hr)) {
            error = hresultText("the imaging component is not available", hr);
            return false;
        }
        ComPtr<IWICStream> stream;
        hr = factory->CreateStream(stream.out());
        if (SUCCEEDED(hr))
            hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
        if (FAILED(hr)) {
            error = hresultText("the picture cannot be read", hr);
            return false;
        }
        // The JPEG decoder itself, not whichever decoder recognises the data.
        ComPtr<IWICBitmapDecoder> decoder;
        hr = factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, decoder.out());
        if (SUCCEEDED(hr)) hr = decoder->Initialize(stream.p, WICDecodeMetadataCacheOnDemand);
        ComPtr<IWICBitmapFrameDecode> frame;
        if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.out());
        if (FAILED(hr)) {
            error = hresultText("not a JPEG picture", hr);
            return false;
        }
        UINT width = 0, height = 0;
        hr = frame->GetSize(&width, &height);
        if (FAILED(hr) || width == 0 || height == 0) {
            error = hresultText("the picture has no size", hr);
            return false;
        }
        if (width > static_cast<UINT>(kMaxPictureSide) || height > static_cast<UINT>(kMaxPictureSide)) {
            error = "JPEG error: picture of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels refused (at most " + std::to_string(kMaxPictureSide) + " x " +
                    std::to_string(kMaxPictureSide) + ")";
            return false;
        }
        // The layout's scale, applied once to the decoded picture.
        IWICBitmapSource* source = frame.p;
        ComPtr<IWICBitmapScaler> scaler;
        if (dpi != USER_DEFAULT_SCREEN_DPI) {
            const int scaledWidth = ScaledAt(static_cast<int>(width), dpi);
            const int scaledHeight = ScaledAt(static_cast<int>(height), dpi);
            if (scaledWidth <= 0 || scaledHeight <= 0 || scaledWidth > kMaxPictureSide ||
                scaledHeight > kMaxPictureSide) {
                error = "JPEG error: picture of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels cannot be scaled to " + std::to_string(dpi) + " DPI";
                return false;
            }
            hr = factory->CreateBitmapScaler(scaler.out());
            if (SUCCEEDED(hr))
                hr = scaler->Initialize(frame.p, static_cast<UINT>(scaledWidth), static_cast<UINT>(scaledHeight),
                                        WICBitmapInterpolationModeFant);
            if (FAILED(hr)) {
                error = hresultText("the picture cannot be scaled", hr);
                return false;
            }
            source = scaler.p;
            width = static_cast<UINT>(scaledWidth);
            height = static_cast<UINT>(scaledHeight);
        }
        ComPtr<IWICFormatConverter> converter;
        hr = factory->CreateFormatConverter(converter.out());
        if (SUCCEEDED(hr))
            hr = converter->Initialize(source, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr,
                                       0.0, WICBitmapPaletteTypeCustom);
        if (FAILED(hr)) {
            error = hresultText("the picture cannot be converted", hr);
            return false;
        }
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = static_cast<LONG>(width);
        info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap || !bits) {
            error = "JPEG error: not enough memory for the picture";
            if (bitmap) DeleteObject(bitmap);
            return false;
        }
        const UINT stride = width * 4;
        hr = converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits));
        if (FAILED(hr)) {
            DeleteObject(bitmap);
            error = hresultText("the picture data is broken", hr);
            return false;
        }
        picture.bitmap = bitmap;
        picture.width = static_cast<int>(width);
        picture.height = static_cast<int>(height);
        ok = true;
    }
    return ok;
}

bool LoadJpegFile(const std::string& path, Picture& picture, std::string& error, int dpi) {
    picture = Picture{};
    BinaryFile file(path);
    if (!file.isOpen()) {
        error = "Cannot open " + path;
        return false;
    }
    const int64_t size = file.size();
    if (size >= 0 && static_cast<uint64_t>(size) > kMaxPictureFileBytes) {
        error = "JPEG error: " + path + " is larger than " + std::to_string(kMaxPictureFileBytes) + " bytes";
        return false;
    }
    std::vector<uint8_t> bytes;
    bool read = size >= 0;
    if (read) {
        bytes.resize(static_cast<size_t>(size));
        read = bytes.empty() || (file.seek(0) && file.read(bytes.data(), bytes.size()) == bytes.size());
    }
    if (!read) {
        error = "Cannot read " + path;
        return false;
    }
    return DecodeJpeg(bytes.data(), bytes.size(), picture, error, dpi);
}

}  // namespace qx::win32
