#include "velk/recording/png.h"

#include "velk/common/paths.h"

#include <windows.h>
#include <wincodec.h>

namespace velk {

namespace {

// COM for one call: initialised here unless the thread has it already. S_FALSE (it
// was, in this mode) is a count to give back as well; RPC_E_CHANGED_MODE (the thread
// chose the other mode) leaves COM usable and nothing to undo.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// A COM interface released at the end of the scope.
template <typename T>
struct Held {
    T* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (p) p->Release();
    }
};

// `bgr` to the file as a 24-bit PNG image; `opened` tells whether the file was made.
bool Encode(const std::wstring& path, UINT width, UINT height, std::vector<uint8_t>& bgr, bool& opened) {
    Held<IWICImagingFactory> factory;
    Held<IWICStream> stream;
    Held<IWICBitmapEncoder> encoder;
    Held<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory.p))) ||
        FAILED(factory.p->CreateStream(&stream.p)) || FAILED(stream.p->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
        return false;
    opened = true;
    return SUCCEEDED(factory.p->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder.p)) &&
           SUCCEEDED(encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder.p->CreateNewFrame(&frame.p, nullptr)) && SUCCEEDED(frame.p->Initialize(nullptr)) &&
           SUCCEEDED(frame.p->SetSize(width, height)) && SUCCEEDED(frame.p->SetPixelFormat(&format)) &&
           IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) &&
           SUCCEEDED(frame.p->WritePixels(height, width * 3, static_cast<UINT>(bgr.size()), bgr.data())) &&
           SUCCEEDED(frame.p->Commit()) && SUCCEEDED(encoder.p->Commit());
}

}  // namespace

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * height * 3) return false;
    const std::wstring wide = widePath(path);
    if (wide.empty()) return false;
    std::vector<uint8_t> bgr(rgb.size());
    for (size_t i = 0; i < rgb.size(); i += 3) {
        bgr[i] = rgb[i + 2];
        bgr[i + 1] = rgb[i + 1];
        bgr[i + 2] = rgb[i];
    }
    ComScope com;
    if (!com.usable()) return false;
    bool opened = false;
    if (Encode(wide, static_cast<UINT>(width), static_cast<UINT>(height), bgr, opened)) return true;
    if (opened) DeleteFileW(wide.c_str());  // no half-written image is left
    return false;
}

}  // namespace velk
