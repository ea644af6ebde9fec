#pragma once
#include "imaging/plugin_abi.h"

// What a plug-in keeps of the host services it accepted in Notify. Shared
// by our plug-ins; each DLL has its own copy.
struct THostLink {
    TGetPictureBufferFunc GetPictureBuffer = nullptr;
    TLineCallback* LineSlot = nullptr;  // the host's callback variable, or null
    TSharedGetMem GetMem = nullptr;
    TSharedFreeMem FreeMem = nullptr;
    TSharedReallocMem ReallocMem = nullptr;

    // The callback the host armed for the current picture, if any.
    TLineCallback LineCallback() const { return LineSlot ? *LineSlot : nullptr; }
};

inline THostLink Host;

// Accepts the host (clears bit 0 of the status) and keeps its services; the
// shutdown notice forgets them, since the host is about to unload us.
inline void QV_CDECL HostNotify(HostServices* services) {
    if (!services || services->Size < static_cast<std::int32_t>(sizeof(HostServices))) return;
    if (services->Status == kHostStatusShutdown && !services->GetPictureBuffer) {
        Host = THostLink{};
        return;
    }
    Host.GetPictureBuffer = services->GetPictureBuffer;
    Host.LineSlot = services->LineCallbackSlot;
    Host.GetMem = services->GetMem;
    Host.FreeMem = services->FreeMem;
    Host.ReallocMem = services->ReallocMem;
    services->Status &= ~1;
}
