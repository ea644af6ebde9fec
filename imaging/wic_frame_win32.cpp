#include "imaging/wic_frame_win32.h"

TWicFirstFrame::TWicFirstFrame(const std::string& fileName) {
    const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, fileName.c_str(), -1, nullptr, 0);
    if (wideLength <= 0) return;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, fileName.c_str(), -1, wide.data(), wideLength);
    if (FAILED(::CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  reinterpret_cast<void**>(&factory_.p))) ||
        FAILED(factory_.p->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder_.p)))
        return;
    if (FAILED(decoder_.p->GetFrame(0, &frame_.p))) frame_.p = nullptr;
}
