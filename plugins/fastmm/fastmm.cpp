// Shared memory manager: one heap that the program and every image plug-in
// allocate from, so that a block allocated on one side of the plug-in
// boundary can be resized or freed on the other. All three entries use the
// register convention of the plug-in contract (regparm(3): EAX, EDX -> EAX).
#include <windows.h>

#include <cstdint>

#include "imaging/plugin_abi.h"

namespace {

// The process heap serialises its own calls, which makes every entry safe
// to call from the loader, render and dialog threads at once.
HANDLE Heap() {
    return ::GetProcessHeap();
}

}  // namespace

extern "C" {

__declspec(dllexport) void* QV_REGCALL FastMemory_GetMem(std::int32_t size);
__declspec(dllexport) std::int32_t QV_REGCALL FastMemory_FreeMem(void* p);
__declspec(dllexport) void* QV_REGCALL FastMemory_ReallocMem(void** p, std::int32_t size);

void* QV_REGCALL FastMemory_GetMem(std::int32_t size) {
    if (size <= 0) return nullptr;
    return ::HeapAlloc(Heap(), 0, static_cast<SIZE_T>(size));
}

std::int32_t QV_REGCALL FastMemory_FreeMem(void* p) {
    if (!p) return -1;
    return ::HeapFree(Heap(), 0, p) ? 0 : 1;
}

// Count 0 (or less) frees the block and stores null; a null variable
// allocates; otherwise the block is resized. When resizing fails the old
// block stays in the variable, still valid, and null is returned.
void* QV_REGCALL FastMemory_ReallocMem(void** p, std::int32_t size) {
    if (!p) return nullptr;
    if (size <= 0) {
        if (*p) ::HeapFree(Heap(), 0, *p);
        *p = nullptr;
        return nullptr;
    }
    void* block = *p ? ::HeapReAlloc(Heap(), 0, *p, static_cast<SIZE_T>(size))
                     : ::HeapAlloc(Heap(), 0, static_cast<SIZE_T>(size));
    if (block) *p = block;
    return block;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
