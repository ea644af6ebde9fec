// A configurable test plug-in. Each compile definition turns on one
// behaviour; see CMakeLists.txt for the plug-ins built from it.
#include <windows.h>

#include <cstdint>

#include "imaging/plugin_abi.h"

#ifndef QVT_VERSION
#define QVT_VERSION 0x10300
#endif
#ifndef QVT_COLOR
#define QVT_COLOR 0x808080
#endif

namespace {

HostServices Services{};  // as received in Notify
int RegisterResult = 0;

// Records in the environment, which outlives the DLL, that an event happened.
void Mark(const char* what) {
    char name[96];
    wsprintfA(name, "QVT_%s_%s", QVT_NAME, what);
    ::SetEnvironmentVariableA(name, "1");
}

#if defined(QVT_REGISTER_CHECK)
#if defined(__i386__)
// Calls the shared-memory entries with the arguments placed in EAX and EDX by
// hand, so that a host or manager using any other convention fails here.
void* CallGetMem(TSharedGetMem f, std::int32_t size) {
    void* result;
    asm volatile("call *%2" : "=a"(result) : "a"(size), "S"(f) : "ecx", "edx", "memory", "cc");
    return result;
}
std::int32_t CallFreeMem(TSharedFreeMem f, void* p) {
    std::int32_t result;
    asm volatile("call *%2" : "=a"(result) : "a"(p), "S"(f) : "ecx", "edx", "memory", "cc");
    return result;
}
void* CallReallocMem(TSharedReallocMem f, void** p, std::int32_t size) {
    void* result;
    std::int32_t clobbered;
    asm volatile("call *%3"
                 : "=a"(result), "=d"(clobbered)
                 : "a"(p), "S"(f), "d"(size)
                 : "ecx", "memory", "cc");
    (void)clobbered;
    return result;
}
#else
// x64 has one calling convention: the typed pointers are the contract, and
// the checks below still prove what each entry does.
void* CallGetMem(TSharedGetMem f, std::int32_t size) {
    return f(size);
}
std::int32_t CallFreeMem(TSharedFreeMem f, void* p) {
    return f(p);
}
void* CallReallocMem(TSharedReallocMem f, void** p, std::int32_t size) {
    return f(p, size);
}
#endif

void CheckRegisters(const HostServices& s) {
    auto* p = static_cast<std::uint8_t*>(CallGetMem(s.GetMem, 100));
    if (p) {
        RegisterResult |= 1;
        for (int i = 0; i < 100; ++i) p[i] = static_cast<std::uint8_t>(i);
    }
    void* block = p;
    void* grown = CallReallocMem(s.ReallocMem, &block, 100000);
    if (grown && grown == block) {
        auto* g = static_cast<std::uint8_t*>(grown);
        bool kept = true;
        for (int i = 0; i < 100; ++i) kept = kept && g[i] == i;
        g[99999] = 1;
        if (kept) RegisterResult |= 2;
    }
    if (CallFreeMem(s.FreeMem, nullptr) == -1) RegisterResult |= 4;
    if (CallReallocMem(s.ReallocMem, &block, 0) == nullptr && block == nullptr) RegisterResult |= 8;
    void* fresh = nullptr;
    if (CallReallocMem(s.ReallocMem, &fresh, 16) && fresh && CallFreeMem(s.FreeMem, fresh) == 0)
        RegisterResult |= 16;
}
#endif

#if defined(QVT_FREE_AT_EXIT)
// Two blocks from the shared memory manager, given back the way a plug-in
// may: one in the shutdown notice, the other when the library is detached.
void* NoticeBlock = nullptr;
void* DetachBlock = nullptr;

// Frees `block` through the manager's entry and records `freed`, unless the
// entry's code no longer belongs to a loaded module: then the call would
// crash this test process, so `gone` is recorded instead.
void FreeShared(void*& block, const char* freed, const char* gone) {
    if (!block || !Services.FreeMem) return;
    HMODULE owner = nullptr;
    constexpr DWORD kByAddress =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!::GetModuleHandleExA(kByAddress, reinterpret_cast<LPCSTR>(Services.FreeMem), &owner)) {
        Mark(gone);
        return;
    }
    if (Services.FreeMem(block) == 0) Mark(freed);
    block = nullptr;
}
#endif

[[maybe_unused]] void QV_CDECL Notify(HostServices* s) {
    if (s->Status == kHostStatusShutdown) {
        Mark("SHUTDOWN");
#if defined(QVT_FREE_AT_EXIT)
        FreeShared(NoticeBlock, "FREED_IN_NOTICE", "MANAGER_GONE_IN_NOTICE");
#endif
        return;
    }
    Services = *s;
    Mark("NOTIFIED");
#if defined(QVT_FREE_AT_EXIT)
    NoticeBlock = Services.GetMem ? Services.GetMem(64) : nullptr;
    DetachBlock = Services.GetMem ? Services.GetMem(64) : nullptr;
    if (NoticeBlock && DetachBlock) Mark("ALLOCATED");
#endif
#if defined(QVT_REGISTER_CHECK)
    CheckRegisters(*s);
#endif
#if !defined(QVT_REFUSE_HOST)
    s->Status &= ~1;
#endif
}

[[maybe_unused]] std::int32_t QV_CDECL Decode(const void* source, std::int32_t* width, std::int32_t* height,
                                              std::int32_t* naturalWidth, std::int32_t* naturalHeight,
                                              void** pixels) {
    Mark("DECODED");
    char name[96], wanted[32];
    wsprintfA(name, "QVT_%s_WANTED", QVT_NAME);
    wsprintfA(wanted, "%d x %d", static_cast<int>(*width), static_cast<int>(*height));
    ::SetEnvironmentVariableA(name, wanted);
    *naturalWidth = 3;
    *naturalHeight = 2;
#if defined(QVT_BAD_LINES)
    // Skips line 1: the host's resampler must reject line 2, and the error
    // must come back to us as a plain 0, not as an exception.
    (void)source;
    (void)pixels;
    const TLineCallback callback = Services.LineCallbackSlot ? *Services.LineCallbackSlot : nullptr;
    *width = 3;
    *height = 2;
    if (!callback) return 0;
    std::uint8_t line[9] = {};
    if (callback(1, -1, 3, 2) == 1 && callback(reinterpret_cast<std::intptr_t>(line), 0, 3, 2) == 1 &&
        callback(reinterpret_cast<std::intptr_t>(line), 2, 3, 2) == 0)
        Mark("REFUSED");
    return 1;
#elif defined(QVT_HALF_LINES)
    // Starts the line protocol, delivers one of two lines, then fails.
    (void)source;
    (void)pixels;
    const TLineCallback callback = Services.LineCallbackSlot ? *Services.LineCallbackSlot : nullptr;
    std::uint8_t line[9] = {};
    if (callback && callback(1, -1, 3, 2) == 1) callback(reinterpret_cast<std::intptr_t>(line), 0, 3, 2);
    *width = 0;
    *height = 0;
    return 0;
#elif defined(QVT_STOP_EARLY)
    // Starts the line protocol, delivers one of two lines, and then reports
    // success with no buffer, as if every line had gone through.
    (void)source;
    (void)pixels;
    const TLineCallback callback = Services.LineCallbackSlot ? *Services.LineCallbackSlot : nullptr;
    std::uint8_t line[9] = {};
    if (callback && callback(1, -1, 3, 2) == 1) callback(reinterpret_cast<std::intptr_t>(line), 0, 3, 2);
    *width = 3;
    *height = 2;
    return 1;
#elif defined(QVT_FAULT)
    // Reads from an address no program owns: an access violation.
    (void)source;
    (void)pixels;
    volatile std::uintptr_t nowhere = 8;
    *width = *reinterpret_cast<volatile std::int32_t*>(nowhere);
    return 1;
#elif defined(QVT_WAIT)
    // Works until the test lets it go (the event "QVT_<name>_GO"), then
    // delivers nothing.
    (void)source;
    (void)pixels;
    Mark("DECODING");
    char event[96];
    wsprintfA(event, "QVT_%s_GO", QVT_NAME);
    if (HANDLE go = ::OpenEventA(SYNCHRONIZE, FALSE, event)) {
        ::WaitForSingleObject(go, 10000);
        ::CloseHandle(go);
    }
    *width = 0;
    *height = 0;
    return 0;
#elif defined(QVT_DELIVER_NOTHING)
    (void)source;
    (void)pixels;
    *width = 0;
    *height = 0;
    return 0;
#else
    std::uint32_t color = QVT_COLOR;
#if defined(QVT_FILE_RECORD)
    // The first four bytes of the file are the colour.
    const auto* record = static_cast<const PluginFile*>(source);
    DWORD read = 0;
    if (record->Start != 0 || record->Limit != kPluginFileLimit ||
        !::ReadFile(record->Handle, &color, 4, &read, nullptr) || read != 4) {
        *width = 0;
        return 0;
    }
#else
    (void)source;
#endif
    *width = 3;
    *height = 2;
#if defined(QVT_OWN_BUFFER)
    // Pixels in memory of its own rather than the host's buffer, with a size
    // that no picture buffer could have.
    static std::uint32_t own[6];
    auto* p = own;
    *width = 65536;
    *height = 65536;
#else
    auto* p = static_cast<std::uint32_t*>(Services.GetPictureBuffer(3 * 2 * 4));
#endif
    if (!p) return 0;
    for (int i = 0; i < 6; ++i) p[i] = color;
#if defined(QVT_OVERSTATE)
    *width = 3000;  // more than the buffer it asked for
#elif defined(QVT_OVERSTATE_HUGE)
    // So much more that width x height x 4 wraps around 64 bits to a negative count.
    *width = INT32_MAX;
    *height = INT32_MAX;
#endif
    *pixels = p;
    return 1;
#endif
}

#if !defined(QVT_NO_GET_IN_MODULE)
const char* const kExtensions[] = {QVT_EXT};
const char* const kDescriptions[] = {QVT_NAME " picture"};
const TDecoderFunc kDecoders[] = {Decode};
const PluginInfo kInfo = {
    QVT_VERSION,
    0,
    QVT_NAME,
#if defined(QVT_FILE_RECORD)
    kPluginWantsShutdown | kPluginWantsServices,
#else
    kPluginTakesFileName | kPluginWantsShutdown | kPluginWantsServices,
#endif
    0,
    0,
    1,
    kExtensions,
    kDescriptions,
    kDecoders,
    Notify,
};
#endif

}  // namespace

#if defined(QVT_NEEDS_DEP)
// From qvt_dep.dll, which the tests leave out of the installation folder:
// then this library cannot be loaded at all.
extern "C" __declspec(dllimport) int QvtDepAnswer();
#endif

#if !defined(QVT_NO_GET_IN_MODULE)
extern "C" __declspec(dllexport) const PluginInfo* QV_CDECL GetInModule() {
#if defined(QVT_NEEDS_DEP)
    if (QvtDepAnswer() != 42) return nullptr;
#endif
    return &kInfo;
}
#endif

extern "C" __declspec(dllexport) int TestRegisterResult() {
    return RegisterResult;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
#if defined(QVT_FREE_AT_EXIT)
    // Unloaded by FreeLibrary (not at process end, when nothing need be freed).
    if (reason == DLL_PROCESS_DETACH && !reserved)
        FreeShared(DetachBlock, "FREED_AT_DETACH", "MANAGER_GONE_AT_DETACH");
#else
    (void)reason;
    (void)reserved;
#endif
    return TRUE;
}
