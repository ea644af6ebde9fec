#pragma once
#include <windows.h>

#include "imaging/plugin_abi.h"

// What a plug-in keeps of the host services it accepted in Notify. Shared
// by our plug-ins; each DLL has its own copy.
struct THostLink {
    TGetPictureBufferFunc GetPictureBuffer = nullptr;
    TLineCallback* LineSlot = nullptr;  // the host's callback variable, or null
    TSharedGetMem GetMem = nullptr;
    TSharedFreeMem FreeMem = nullptr;
    TSharedReallocMem ReallocMem = nullptr;
    THostDecodeCancelled DecodeCancelled = nullptr;  // when the host has it

    // The callback the host armed for the current picture, if any.
    TLineCallback LineCallback() const { return LineSlot ? *LineSlot : nullptr; }
    // True once nobody waits for the picture this thread decodes.
    bool Cancelled() const { return DecodeCancelled && DecodeCancelled() != 0; }
};

// The host's answer to "is this decode still wanted", from the module that
// holds the host's GetPictureBuffer; null for a host without one.
inline THostDecodeCancelled FindDecodeCancelled(TGetPictureBufferFunc hostFunction) {
    HMODULE host = nullptr;
    constexpr DWORD kByAddress = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!hostFunction ||
        !::GetModuleHandleExA(kByAddress, reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(hostFunction)), &host))
        return nullptr;
    return reinterpret_cast<THostDecodeCancelled>(
        reinterpret_cast<void*>(::GetProcAddress(host, kHostDecodeCancelledName)));
}

// Process-wide within the DLL: the contract hands the services to Notify
// and calls the decoders without any context pointer, so each plug-in keeps
// the one host that loaded it here.
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
    Host.DecodeCancelled = FindDecodeCancelled(services->GetPictureBuffer);
    services->Status &= ~1;
}
