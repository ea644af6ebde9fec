#pragma once
// Test pictures for the benchmarks, written with WIC's own encoders.
#include <windows.h>
// wincodec.h needs the types windows.h declares.
#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/com_win32.h"

// Fills row `y` (rows come in order from the top) with 24-bit BGR pixels.
using TRowFill = std::function<void(UINT y, BYTE* bgr)>;

// Encodes a width x height picture into `container` (GUID_ContainerFormatJpeg,
// ...) at `path`, in strips, so a large picture needs little memory.
// `jpegQuality` 0 keeps the encoder's default.
inline bool WriteWicPicture(const std::string& path, const GUID& container, UINT width, UINT height,
                            const TRowFill& fill, float jpegQuality = 0.0f) {
    IWICImagingFactory* factory = nullptr;
    if (FAILED(::CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  reinterpret_cast<void**>(&factory))))
        return false;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* props = nullptr;
    const std::wstring wide(path.begin(), path.end());
    HRESULT hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(container, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &props);
    if (SUCCEEDED(hr) && jpegQuality > 0.0f && container == GUID_ContainerFormatJpeg) {
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT quality;
        ::VariantInit(&quality);
        quality.vt = VT_R4;
        quality.fltVal = jpegQuality;
        props->Write(1, &option, &quality);
    }
    if (SUCCEEDED(hr)) hr = frame->Initialize(props);
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        constexpr UINT kStrip = 64;
        const UINT stride = (width * 3 + 3) & ~3u;
        std::vector<BYTE> rows(static_cast<std::size_t>(stride) * kStrip);
        for (UINT y0 = 0; y0 < height && SUCCEEDED(hr); y0 += kStrip) {
            const UINT n = std::min(kStrip, height - y0);
            for (UINT y = 0; y < n; ++y) fill(y0 + y, &rows[static_cast<std::size_t>(y) * stride]);
            hr = frame->WritePixels(n, stride, stride * n, rows.data());
        }
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    if (props) props->Release();
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    factory->Release();
    return SUCCEEDED(hr);
}

// A JPEG's bytes with `profile` as APP2 "ICC_PROFILE" segments right after
// the start of image marker, in chunks of at most 60000 bytes.
inline std::vector<std::uint8_t> WithIccSegments(const std::vector<std::uint8_t>& jpeg,
                                                 const std::vector<std::uint8_t>& profile) {
    constexpr std::size_t kChunk = 60000;
    const std::size_t count = (profile.size() + kChunk - 1) / kChunk;
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t n = std::min(kChunk, profile.size() - i * kChunk);
        const std::size_t length = 2 + 12 + 2 + n;
        out.insert(out.end(), {0xFF, 0xE2, std::uint8_t(length >> 8), std::uint8_t(length)});
        const char sig[] = "ICC_PROFILE";
        out.insert(out.end(), sig, sig + 12);
        out.push_back(std::uint8_t(i + 1)), out.push_back(std::uint8_t(count));
        out.insert(out.end(), profile.begin() + i * kChunk, profile.begin() + i * kChunk + n);
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}
