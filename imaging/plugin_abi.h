#pragma once
#include <cstddef>
#include <cstdint>

// The binary contract between the program and its image plug-ins. Plug-in
// DLLs and fastmm.dll are built separately and may come from elsewhere, so
// every record here has a fixed layout, asserted at the end of this file.
// Texts are NUL-terminated 8-bit strings and no C++ type crosses the
// boundary, and no exception either. This header is shared by the host and
// by our own plug-ins.
//
// 32-bit edition (i386), unchanged: integers and pointers are 32-bit
// little-endian and the records have no padding (PluginInfo 44 bytes,
// HostServices 28, PluginFile 12); decoders, Notify, GetPictureBuffer and
// the line callback use the C convention, and the three shared-memory
// entries the register convention regparm(3).
//
// 64-bit edition (x86-64): the same fields in the same order, with 8-byte
// pointers and the natural alignment of the platform ABI (PluginInfo 64
// bytes, HostServices 56, PluginFile 16; the padding is never read). x64
// Windows has one calling convention, which every function of the contract
// uses: QV_CDECL and QV_REGCALL are empty there. A plug-in serves only the
// edition of its own width; a library of the other width cannot be loaded
// and the host skips it.

#if defined(__i386__)
// Plain C convention for decoders, Notify, GetPictureBuffer and the line
// callback.
#define QV_CDECL __attribute__((cdecl))
// The shared-memory entries take their first argument in EAX, the second in
// EDX and return in EAX: GCC's regparm(3) on i386 is exactly that.
#define QV_REGCALL __attribute__((regparm(3)))
#else
// x86-64 Windows has one calling convention (first arguments in RCX, RDX,
// R8, R9, result in RAX) and every entry of the contract uses it; native
// builds of the portable core use their platform's own.
#define QV_CDECL
#define QV_REGCALL
#endif

constexpr std::uint32_t kPluginMaxVersion = 0x10300;  // 66304: newer plug-ins are refused

// PluginInfo.Flags bits.
constexpr std::uint32_t kPluginTakesFileName = 2;      // decoders get a file name, not a PluginFile
constexpr std::uint32_t kPluginWantsShutdown = 8;      // Notify also receives the shutdown notice
constexpr std::uint32_t kPluginWantsServices = 65536;  // Notify is present and wants HostServices

// HostServices.Status values.
constexpr std::int32_t kHostStatusOffered = 1;       // bit 0 set on entry; the plug-in clears it to accept
constexpr std::int32_t kHostStatusShutdown = 65536;  // the shutdown notice

constexpr std::int32_t kPluginFileLimit = 0x7FFFFFFA;

// The progressive line callback: data is the orientation (low 16 bits) at
// curLine -1, else the address of `width` pixels of red, green, blue.
// Returns 1 to go on, 0 to refuse (the plug-in then delivers the whole
// picture through GetPictureBuffer).
typedef std::int32_t(QV_CDECL* TLineCallback)(std::intptr_t data, std::int32_t curLine, std::int32_t width,
                                              std::int32_t height);

typedef void*(QV_CDECL* TGetPictureBufferFunc)(std::int32_t bytes);
typedef void*(QV_REGCALL* TSharedGetMem)(std::int32_t bytes);
typedef std::int32_t(QV_REGCALL* TSharedFreeMem)(void* p);
typedef void*(QV_REGCALL* TSharedReallocMem)(void** p, std::int32_t bytes);

struct HostServices;
typedef void(QV_CDECL* TNotifyFunc)(HostServices* services);

// Decoder: source is a file name (kPluginTakesFileName) or a PluginFile*.
// width/height hold the wanted size on entry and the delivered size on
// return; pixels receives a top-down BGRx buffer from GetPictureBuffer, or
// stays null when the lines went through the line callback.
typedef std::int32_t(QV_CDECL* TDecoderFunc)(const void* source, std::int32_t* width, std::int32_t* height,
                                             std::int32_t* naturalWidth, std::int32_t* naturalHeight,
                                             void** pixels);

// Owned by the plug-in; GetInModule returns its address and the host copies it.
// The reserved fields are named by their 32-bit offsets.
struct PluginInfo {
    std::uint32_t Version;
    std::uint32_t Reserved4;
    const char* Name;
    std::uint32_t Flags;
    std::uint32_t Reserved16;
    std::uint32_t Reserved20;
    std::int32_t FormatCount;
    const char* const* Extensions;    // FormatCount texts, lower case with the dot
    const char* const* Descriptions;  // FormatCount texts
    const TDecoderFunc* Decoders;     // FormatCount entries, null = not decodable
    TNotifyFunc Notify;               // or null
};

typedef const PluginInfo*(QV_CDECL* TGetInModuleFunc)();

// Beyond the contract, for the plug-ins built with this program: the host
// program exports this function under kHostDecodeCancelledName. A plug-in
// finds it in the module that holds the host's GetPictureBuffer and calls
// it, on the thread that runs its decoder, between pieces of expensive work:
// 1 means nobody waits for the picture any more, and the decoder should
// return 0 at once. A plug-in that does not look for it, or a host without
// it, decodes every picture to its end as the contract has it.
typedef std::int32_t(QV_CDECL* THostDecodeCancelled)();
constexpr const char* kHostDecodeCancelledName = "HostDecodeCancelled";

// Built by the host for one Notify call.
struct HostServices {
    std::int32_t Size;  // sizeof(HostServices): 28 (32-bit), 56 (64-bit)
    TGetPictureBufferFunc GetPictureBuffer;
    std::int32_t Status;
    TLineCallback* LineCallbackSlot;  // the host's callback variable, or null
    TSharedGetMem GetMem;
    TSharedFreeMem FreeMem;
    TSharedReallocMem ReallocMem;
};

// Passed by address to decoders that take no file name.
struct PluginFile {
    void* Handle;  // opened for shared reading; owned by the host
    std::int32_t Start;
    std::int32_t Limit;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit contract.
static_assert(sizeof(PluginInfo) == 44, "PluginInfo is 44 bytes");
static_assert(offsetof(PluginInfo, Version) == 0, "PluginInfo.Version");
static_assert(offsetof(PluginInfo, Name) == 8, "PluginInfo.Name");
static_assert(offsetof(PluginInfo, Flags) == 12, "PluginInfo.Flags");
static_assert(offsetof(PluginInfo, FormatCount) == 24, "PluginInfo.FormatCount");
static_assert(offsetof(PluginInfo, Extensions) == 28, "PluginInfo.Extensions");
static_assert(offsetof(PluginInfo, Descriptions) == 32, "PluginInfo.Descriptions");
static_assert(offsetof(PluginInfo, Decoders) == 36, "PluginInfo.Decoders");
static_assert(offsetof(PluginInfo, Notify) == 40, "PluginInfo.Notify");
static_assert(sizeof(HostServices) == 28, "HostServices is 28 bytes");
static_assert(offsetof(HostServices, Size) == 0, "HostServices.Size");
static_assert(offsetof(HostServices, GetPictureBuffer) == 4, "HostServices.GetPictureBuffer");
static_assert(offsetof(HostServices, Status) == 8, "HostServices.Status");
static_assert(offsetof(HostServices, LineCallbackSlot) == 12, "HostServices.LineCallbackSlot");
static_assert(offsetof(HostServices, GetMem) == 16, "HostServices.GetMem");
static_assert(offsetof(HostServices, FreeMem) == 20, "HostServices.FreeMem");
static_assert(offsetof(HostServices, ReallocMem) == 24, "HostServices.ReallocMem");
static_assert(sizeof(PluginFile) == 12, "PluginFile is 12 bytes");
static_assert(offsetof(PluginFile, Handle) == 0, "PluginFile.Handle");
static_assert(offsetof(PluginFile, Start) == 4, "PluginFile.Start");
static_assert(offsetof(PluginFile, Limit) == 8, "PluginFile.Limit");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
// The 64-bit contract: 8-byte pointers on 8-byte boundaries, 4 bytes of
// padding after a 32-bit field that a pointer follows, and each record
// rounded up to a multiple of 8.
static_assert(sizeof(void*) == 8 && alignof(void*) == 8, "8-byte pointers, naturally aligned");
static_assert(sizeof(PluginInfo) == 64, "PluginInfo is 64 bytes");
static_assert(alignof(PluginInfo) == 8, "PluginInfo alignment");
static_assert(offsetof(PluginInfo, Version) == 0, "PluginInfo.Version");
static_assert(offsetof(PluginInfo, Reserved4) == 4, "PluginInfo.Reserved4");
static_assert(offsetof(PluginInfo, Name) == 8, "PluginInfo.Name");
static_assert(offsetof(PluginInfo, Flags) == 16, "PluginInfo.Flags");
static_assert(offsetof(PluginInfo, Reserved16) == 20, "PluginInfo.Reserved16");
static_assert(offsetof(PluginInfo, Reserved20) == 24, "PluginInfo.Reserved20");
static_assert(offsetof(PluginInfo, FormatCount) == 28, "PluginInfo.FormatCount");
static_assert(offsetof(PluginInfo, Extensions) == 32, "PluginInfo.Extensions");
static_assert(offsetof(PluginInfo, Descriptions) == 40, "PluginInfo.Descriptions");
static_assert(offsetof(PluginInfo, Decoders) == 48, "PluginInfo.Decoders");
static_assert(offsetof(PluginInfo, Notify) == 56, "PluginInfo.Notify");
static_assert(sizeof(HostServices) == 56, "HostServices is 56 bytes");
static_assert(alignof(HostServices) == 8, "HostServices alignment");
static_assert(offsetof(HostServices, Size) == 0, "HostServices.Size");
static_assert(offsetof(HostServices, GetPictureBuffer) == 8, "HostServices.GetPictureBuffer");
static_assert(offsetof(HostServices, Status) == 16, "HostServices.Status");
static_assert(offsetof(HostServices, LineCallbackSlot) == 24, "HostServices.LineCallbackSlot");
static_assert(offsetof(HostServices, GetMem) == 32, "HostServices.GetMem");
static_assert(offsetof(HostServices, FreeMem) == 40, "HostServices.FreeMem");
static_assert(offsetof(HostServices, ReallocMem) == 48, "HostServices.ReallocMem");
static_assert(sizeof(PluginFile) == 16, "PluginFile is 16 bytes");
static_assert(alignof(PluginFile) == 8, "PluginFile alignment");
static_assert(offsetof(PluginFile, Handle) == 0, "PluginFile.Handle");
static_assert(offsetof(PluginFile, Start) == 8, "PluginFile.Start");
static_assert(offsetof(PluginFile, Limit) == 12, "PluginFile.Limit");
#endif
