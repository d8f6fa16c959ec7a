// Reading PNG files back in tests with the system's decoder (the Windows Imaging
// Component), a file at a time, into RGB rows; and the pixels of the charts' traces.
#pragma once

#include "velk/recording/chart.h"

#include <windows.h>
#include <wincodec.h>

#include <string>
#include <vector>

namespace velktest {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel
    bool isTrace(int x, int y) const {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return RGB(p[0], p[1], p[2]) == velk::Chart::kTraceColour;
    }
};

// Decodes a PNG file with the Windows Imaging Component into RGB rows.
inline bool DecodePng(const std::string& path, Image& out) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
        return false;
    std::wstring wide(path.begin(), path.end());
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    bool ok = SUCCEEDED(factory->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                           WICDecodeMetadataCacheOnDemand, &decoder)) &&
              SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
              SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr,
                                              0.0, WICBitmapPaletteTypeCustom));
    UINT width = 0, height = 0;
    if (ok) ok = SUCCEEDED(converter->GetSize(&width, &height));
    if (ok) {
        std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
        ok = SUCCEEDED(converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(bgr.size()), bgr.data()));
        out.width = static_cast<int>(width);
        out.height = static_cast<int>(height);
        out.rgb.resize(bgr.size());
        for (size_t i = 0; i + 2 < bgr.size(); i += 3) {
            out.rgb[i] = bgr[i + 2];
            out.rgb[i + 1] = bgr[i + 1];
            out.rgb[i + 2] = bgr[i];
        }
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    factory->Release();
    return ok;
}

}  // namespace velktest
