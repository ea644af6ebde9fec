#pragma once
#include <windows.h>
// wincodec.h needs the types windows.h declares.
#include <wincodec.h>

#include <string>

#include "base/com_win32.h"

// The first frame of a picture file as the system's decoder reads it, for
// what its header says; nothing is decoded until asked. COM is held for the
// calling thread while the frame lives.
class TWicFirstFrame {
public:
    // Empty (false) when the file cannot be opened or has no frame.
    explicit TWicFirstFrame(const std::string& fileName);
    TWicFirstFrame(const TWicFirstFrame&) = delete;
    TWicFirstFrame& operator=(const TWicFirstFrame&) = delete;
    explicit operator bool() const { return frame_.p != nullptr; }

    IWICImagingFactory* Factory() const { return factory_.p; }
    IWICBitmapFrameDecode* Frame() const { return frame_.p; }

private:
    TComUse com_;  // first in, last out
    TReleased<IWICImagingFactory> factory_;
    TReleased<IWICBitmapDecoder> decoder_;
    TReleased<IWICBitmapFrameDecode> frame_;
};
