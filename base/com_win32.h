#pragma once
#include <objbase.h>

// Owners for the system's COM objects that pictures are read with.

// The imaging factory every Windows since 7 has (the SDK's
// CLSID_WICImagingFactory may name a later one).
const CLSID kWicFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};

// Holds one reference to a COM object, released at the end of its scope.
template <typename T>
struct TReleased {
    T* p = nullptr;
    TReleased() = default;
    TReleased(const TReleased&) = delete;
    TReleased& operator=(const TReleased&) = delete;
    ~TReleased() {
        if (p) p->Release();
    }
};

// COM for the calling thread while the system's decoder is asked; a thread
// already in an apartment of the other kind keeps it.
class TComUse {
public:
    TComUse() : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    TComUse(const TComUse&) = delete;
    TComUse& operator=(const TComUse&) = delete;
    ~TComUse() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }

private:
    HRESULT hr_;
};
