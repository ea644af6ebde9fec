#include "imaging/plugins_win32.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <string>
#include <utility>

#include "app/settings.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "catalogue/compare.h"
#include "catalogue/scan.h"
#include "catalogue/scan_win32.h"
#include "diag/crash_report_win32.h"
#include "imaging/resample.h"
#include "imaging/shared_alloc.h"

std::vector<PluginEntry> PluginTable;
std::vector<TModule> PluginModules;
TLineCallback PluginLineCallback = nullptr;
std::uint32_t ProgressiveLineCount = 0;

namespace {

constexpr std::size_t kFileNameMax = 100;

TModule MemoryManager;           // fastmm.dll as loaded by LoadPlugins
TSharedMemoryEntries SharedMem;  // its three entries, or the process-heap ones; empty once unloaded

void* PictureBuffer = nullptr;  // from the shared allocator
std::int32_t PictureBufferSize = 0;

// An exception raised by ResizeLine while a plug-in's decoder is on the
// stack; raised again by DecodePicture after the decoder returns.
std::exception_ptr PendingLineError;

// Stand-ins when fastmm.dll is missing or incomplete: the same contract on
// the process heap, so that the user, told to reinstall, still sees pictures
// instead of a crash at the first allocation. Host and plug-ins keep sharing
// one heap, through these entries.
void* QV_REGCALL HeapGetMem(std::int32_t size) {
    return size > 0 ? ::HeapAlloc(::GetProcessHeap(), 0, static_cast<SIZE_T>(size)) : nullptr;
}
std::int32_t QV_REGCALL HeapFreeMem(void* p) {
    if (!p) return -1;
    return ::HeapFree(::GetProcessHeap(), 0, p) ? 0 : 1;
}
void* QV_REGCALL HeapReallocMem(void** p, std::int32_t size) {
    if (!p) return nullptr;
    if (size <= 0) {
        if (*p) ::HeapFree(::GetProcessHeap(), 0, *p);
        *p = nullptr;
        return nullptr;
    }
    void* block = *p ? ::HeapReAlloc(::GetProcessHeap(), 0, *p, static_cast<SIZE_T>(size))
                     : ::HeapAlloc(::GetProcessHeap(), 0, static_cast<SIZE_T>(size));
    if (block) *p = block;
    return block;
}

// The resampler's view of the same memory manager (plain C convention).
// A block still alive after UnloadPlugins cannot be returned to the unloaded
// manager; it is left alone rather than freed through a null entry.
void* HostGetMem(std::int32_t size) {
    return SharedMem.GetMem ? SharedMem.GetMem(size) : nullptr;
}
std::int32_t HostFreeMem(void* p) {
    return SharedMem.FreeMem ? SharedMem.FreeMem(p) : -1;
}
void* HostReallocMem(void** p, std::int32_t size) {
    return SharedMem.ReallocMem ? SharedMem.ReallocMem(p, size) : nullptr;
}
const TSharedAllocator kHostAllocator{HostGetMem, HostFreeMem, HostReallocMem};

void UseHeapEntries() {
    SharedMem.GetMem = HeapGetMem;
    SharedMem.FreeMem = HeapFreeMem;
    SharedMem.ReallocMem = HeapReallocMem;
}

// Loads a library of the installation folder without letting the system
// speak to the user: a file that is no library, a library of the other width
// (32-bit in the 64-bit edition or the reverse) or one whose dependencies are
// missing fails with a null handle and an error code, and no system message
// box ("bad image", "entry point not found", a missing component) appears.
// The error mode is the process's, so it is put back at once; plug-ins load
// at start-up, before any other thread of ours runs.
struct TLoadResult {
    TModule Module;   // null when the library could not be loaded
    DWORD Error = 0;  // GetLastError of a failed load
};
TLoadResult LoadQuietly(const std::string& path, DWORD flags) {
    constexpr UINT kQuiet = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
    const UINT oldMode = ::SetErrorMode(kQuiet);
    ::SetErrorMode(oldMode | kQuiet);  // keeps whatever else was set
    TLoadResult result;
    result.Module.Reset(::LoadLibraryExA(path.c_str(), nullptr, flags));
    if (!result.Module) result.Error = ::GetLastError();
    ::SetErrorMode(oldMode);
    return result;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// From the last "." to the end, provided no separator follows that dot.
std::string ExtensionOf(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return {};
    if (name.find_first_of("\\/:", dot) != std::string::npos) return {};
    return name.substr(dot);
}

void LoadMemoryManager() {
    // Without an installation folder the path would name the root of the
    // current drive, where no library of ours lies; nothing is loaded. A
    // fastmm.dll of the other width fails to load and counts as missing.
    MemoryManager.Reset();
    if (!Settings.InstallPath.empty())
        MemoryManager = LoadQuietly(Settings.InstallPath + "\\fastmm.dll", 0).Module;
    if (!MemoryManager) {
        UseHeapEntries();
        ShowMessage("Can't load \"fastmm.dll\". Please reinstall Quorvane.");
    } else {
        SharedMem.GetMem = ProcAddress<TSharedGetMem>(MemoryManager.Get(), "FastMemory_GetMem");
        SharedMem.FreeMem = ProcAddress<TSharedFreeMem>(MemoryManager.Get(), "FastMemory_FreeMem");
        SharedMem.ReallocMem = ProcAddress<TSharedReallocMem>(MemoryManager.Get(), "FastMemory_ReallocMem");
        if (!SharedMem.GetMem || !SharedMem.FreeMem || !SharedMem.ReallocMem) UseHeapEntries();
    }
    SetSharedAllocator(&kHostAllocator);
}

// Offers the host services to a freshly accepted plug-in; true when it
// cleared bit 0 of the status (accepted the host).
bool OfferServices(const PluginInfo& info) {
    HostServices services{};
    services.Size = sizeof(HostServices);
    services.GetPictureBuffer = GetPictureBuffer;
    services.Status = kHostStatusOffered;
    services.LineCallbackSlot = Settings.rtresize ? &PluginLineCallback : nullptr;
    services.GetMem = SharedMem.GetMem;
    services.FreeMem = SharedMem.FreeMem;
    services.ReallocMem = SharedMem.ReallocMem;
    info.Notify(&services);
    return (services.Status & 1) == 0;
}

void LoadOnePlugin(const std::string& path) {
    const std::string fileName = BaseName(path);
    // The altered search path lets a plug-in find DLLs of its own beside it.
    TLoadResult loaded = LoadQuietly(path, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!loaded.Module) {
        // Not a plug-in of this edition (another width, no library at all,
        // or a dependency is missing): the others and the show go on without
        // it, and only a debugger hears of it.
        const std::string trace =
            "Quorvane: skipped " + fileName + ", error " + std::to_string(loaded.Error) + "\n";
        ::OutputDebugStringA(trace.c_str());
        return;
    }
    TModule module = std::move(loaded.Module);
    const auto getInModule = ProcAddress<TGetInModuleFunc>(module.Get(), "GetInModule");
    if (!getInModule) return;  // module's owner frees it
    const PluginInfo* info = getInModule();
    if (!info || info->Version > kPluginMaxVersion) return;

    PluginEntry entry;
    entry.Info = *info;
    entry.Enabled = true;
    entry.FileName = fileName.substr(0, kFileNameMax);
    entry.Module = module.Get();
    PluginTable.push_back(std::move(entry));
    PluginModules.push_back(std::move(module));

    const PluginInfo& accepted = PluginTable.back().Info;
    if ((accepted.Flags & kPluginWantsServices) && accepted.Notify && !OfferServices(accepted)) {
        const std::string name = accepted.Name ? accepted.Name : "";
        ShowMessage(name + " plugin is too old. Please download new version");
        ::ExitProcess(0);
    }
}

TKernelHandle OpenForReading(const std::string& name) {
    TKernelHandle file(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) file.Release();  // INVALID_HANDLE_VALUE is not ours to close
    return file;
}

std::int32_t SizeOf(const TKernelHandle& file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size)) return -1;
    return size.QuadPart > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(size.QuadPart);
}

// The delivered pixels must cover width x height when they sit in the
// host's own buffer; a plug-in that reports more than it was given would
// otherwise have the fitting read past the buffer. Pixels a plug-in keeps in
// memory of its own are taken on trust, but no larger than a picture buffer
// could be, so that the fitting's byte counts fit in 31 bits. Lines already
// delivered (no pixels) may come from a larger picture.
bool DeliveryFits(std::int32_t width, std::int32_t height, void* pixels) {
    if (width <= 0 || height <= 0) return false;
    if (!pixels) return true;
    const std::int32_t bytes = pixels == PictureBuffer ? PictureBufferSize : INT32_MAX;
    // Bounded before multiplying: two 31-bit sides times 4 overflow even 64
    // bits, and the wrapped product would pass for a small picture.
    return width <= bytes / 4 / height;
}

// The crash report's view of the table: the accepted libraries in order.
// The table is fixed between LoadPlugins and UnloadPlugins; afterwards it is
// empty and so is this list.
std::size_t ListPluginModules(TCrashModule* out, std::size_t capacity) {
    std::size_t n = 0;
    for (const PluginEntry& entry : PluginTable) {
        if (n == capacity) break;
        out[n++] = TCrashModule{entry.Module, entry.FileName.c_str()};
    }
    return n;
}

}  // namespace

const TSharedMemoryEntries& SharedMemoryEntries() {
    return SharedMem;
}

std::int32_t QV_CDECL GuardedResizeLine(std::intptr_t data, std::int32_t curLine, std::int32_t width,
                                        std::int32_t height) {
    ++ProgressiveLineCount;
    if (PendingLineError) return 0;
    try {
        return ResizeLine(data, curLine, width, height);
    } catch (...) {
        PendingLineError = std::current_exception();
        return 0;
    }
}

void LoadPlugins() {
    PictureBuffer = nullptr;
    PictureBufferSize = 0;
    LoadMemoryManager();

    PluginTable.clear();
    PluginModules.clear();
    std::vector<std::string> files;

    // An empty installation path would scan the root of the current drive and
    // load whatever libraries lie there: no plug-ins then.
    if (!Settings.InstallPath.empty() && AnyMatch(Settings.InstallPath + "\\*.*")) {
        std::vector<std::string> all;
        ListAllFiles(Settings.InstallPath, all, false);
        for (std::string& path : all)
            if (LowerAscii(ExtensionOf(path)) == ".dll") files.push_back(std::move(path));
        std::sort(files.begin(), files.end(), CatalogueLess);
    }
    for (const std::string& path : files) LoadOnePlugin(path);
    SetPluginModuleSource(ListPluginModules);
}

void BuildExtensionList() {
    for (const PluginEntry& entry : PluginTable) {
        if (!entry.Enabled || !entry.Info.Extensions) continue;
        for (std::int32_t j = 0; j < entry.Info.FormatCount; ++j) {
            if (!entry.Info.Extensions[j]) continue;
            std::string ext = LowerAscii(entry.Info.Extensions[j]);
            if (std::find(ExtensionList.begin(), ExtensionList.end(), ext) == ExtensionList.end())
                ExtensionList.push_back(std::move(ext));
        }
    }
}

bool DecodePicture(const std::string& fileName, std::unique_ptr<TBitmap>* picture, const char** format,
                   std::int32_t* fileSize, std::int32_t width, std::int32_t height,
                   std::int32_t* naturalWidth, std::int32_t* naturalHeight) {
    if (Settings.FitMode == 2) {
        width = width > INT32_MAX / 2 ? INT32_MAX : width * 2;
        height = height > INT32_MAX / 2 ? INT32_MAX : height * 2;
    }
    *naturalWidth = 0;
    *naturalHeight = 0;
    *fileSize = -1;
    if (picture) picture->reset();

    // A short (8.3) name cuts ".jpeg" to ".JPE": the plug-in is chosen by the
    // long name's extension.
    const std::string key = LowerAscii(LongExtensionOf(fileName));
    const bool linesArmed = PluginLineCallback && StartResize;
    bool succeeded = false;
    for (const PluginEntry& entry : PluginTable) {
        if (succeeded) break;
        if (!entry.Enabled || !entry.Info.Extensions || !entry.Info.Decoders) continue;
        for (std::int32_t j = 0; j < entry.Info.FormatCount; ++j) {
            const char* ext = entry.Info.Extensions[j];
            const TDecoderFunc decoder = entry.Info.Decoders[j];
            if (!ext || key != ext || !decoder) continue;
            if (!FileExists(fileName)) return false;

            std::int32_t gotWidth = width, gotHeight = height;
            void* pixels = nullptr;
            TKernelHandle file;
            PendingLineError = nullptr;
            if (entry.Info.Flags & kPluginTakesFileName) {
                decoder(fileName.c_str(), &gotWidth, &gotHeight, naturalWidth, naturalHeight, &pixels);
                file = OpenForReading(fileName);
                if (file) *fileSize = SizeOf(file);
            } else {
                file = OpenForReading(fileName);
                if (!file) return false;
                *fileSize = SizeOf(file);
                PluginFile record{file.Get(), 0, kPluginFileLimit};
                decoder(&record, &gotWidth, &gotHeight, naturalWidth, naturalHeight, &pixels);
            }
            if (PendingLineError) std::rethrow_exception(std::exchange(PendingLineError, nullptr));

            if (gotWidth != 0 && gotHeight != 0 && (pixels || ProgressiveUsed) &&
                DeliveryFits(gotWidth, gotHeight, pixels)) {
                if (picture) *picture = std::make_unique<TBitmap>(gotWidth, gotHeight, pixels);
                if (format && entry.Info.Descriptions) *format = entry.Info.Descriptions[j];
                succeeded = true;
            } else if (linesArmed) {
                // The next plug-in starts the line protocol afresh: a resize
                // the failed one began or refused must not reject it.
                if (ResizeStarted) FreeResize();
                ProgressiveUsed = false;
                StartResize = true;
            }
            break;  // a plug-in that failed is not asked about its other formats
        }
    }
    return succeeded;
}

void* QV_CDECL GetPictureBuffer(std::int32_t bytes) {
    if (bytes <= 0) return nullptr;
    if (bytes == PictureBufferSize && PictureBuffer) return PictureBuffer;
    if (!PictureBuffer) {
        PictureBuffer = SharedMem.GetMem ? SharedMem.GetMem(bytes) : nullptr;
    } else if (!SharedMem.ReallocMem || !SharedMem.ReallocMem(&PictureBuffer, bytes)) {
        // The old block is still in PictureBuffer; free it rather than hand
        // out a buffer smaller than asked for.
        FreePictureBuffer();
    }
    PictureBufferSize = PictureBuffer ? bytes : 0;
    return PictureBuffer;
}

void FreePictureBuffer() {
    if (PictureBuffer && SharedMem.FreeMem) SharedMem.FreeMem(PictureBuffer);
    PictureBuffer = nullptr;
    PictureBufferSize = 0;
}

void UnloadPlugins() {
    FreePictureBuffer();
    for (const PluginEntry& entry : PluginTable) {
        const PluginInfo& info = entry.Info;
        if ((info.Flags & kPluginWantsShutdown) && (info.Flags & kPluginWantsServices) && info.Notify) {
            HostServices notice{};
            notice.Size = sizeof(HostServices);
            notice.Status = kHostStatusShutdown;
            info.Notify(&notice);
        }
    }
    // The table goes before the libraries its texts point into; freeing a
    // library runs its detach code.
    std::vector<TModule> modules = std::move(PluginModules);
    PluginModules.clear();
    PluginTable.clear();
    modules.clear();
    ExtensionList.clear();
    // The memory manager last: a plug-in may give back shared blocks in its
    // shutdown notice or when it is detached, and must find the manager's
    // code still there.
    SetSharedAllocator(nullptr);
    SharedMem = TSharedMemoryEntries{};
    MemoryManager.Reset();
}
