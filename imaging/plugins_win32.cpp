#include "imaging/plugins_win32.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cwchar>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "base/compare.h"
#include "base/path_text.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "diag/crash_report_win32.h"
#include "diag/fault_guard_win32.h"
#include "imaging/extension.h"
#include "imaging/resample.h"
#include "imaging/shared_alloc.h"
#include "base/text.h"

// One decode's line delivery: the resize its lines go to and what they
// left behind. Reached by the line callback, which the ABI gives no
// context, through the thread the decoder runs on.
struct TLineDelivery {
    TProgressiveResize* resize;       // borrowed from the request
    const std::atomic<bool>* cancel;  // borrowed; may be null
    std::exception_ptr error;         // raised by the resize while the decoder is on the stack
    std::uint32_t calls = 0;
    std::uint32_t refused = 0;
};

namespace {

constexpr std::size_t kFileNameMax = 100;

// The contract's side of the host. Plug-ins call back through plain C
// entries that carry no context, and the slots' addresses they were given
// must stay fixed while they are loaded, so this state is process-wide: the
// host whose plug-ins are loaded, the line-callback slot (its value is set
// by one decode at a time: picture preparation takes turns) and the
// counters tests watch decodes on other threads by.
struct TContractSlots {
    std::atomic<TPluginHost*> loaded{nullptr};
    TLineCallback lineSlot = nullptr;
    std::atomic<std::uint32_t> lineCalls{0};
    std::atomic<std::uint32_t> cancelQueries{0};
};
TContractSlots contract;
// The decode running on this thread, if it takes lines, and its cancel
// flag: the callbacks find their decode through the thread they come on.
struct TThreadDecode {
    TLineDelivery* delivery = nullptr;
    const std::atomic<bool>* cancel = nullptr;
};
thread_local TThreadDecode threadDecode;

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load();
}

std::int32_t QV_CDECL HostLineCallback(std::intptr_t data, std::int32_t curLine, std::int32_t width,
                                       std::int32_t height) {
    TLineDelivery* delivery = threadDecode.delivery;
    // No decode of this thread takes lines: the plug-in delivers the
    // picture whole.
    if (!delivery) return 0;
    // A cancelled decode gets no further line. Line -1 still passes, so that
    // the resize stays consistent and the plug-in does not fall back to
    // decoding the whole picture into a buffer.
    if (curLine >= 0 && delivery->cancel && delivery->cancel->load()) {
        ++delivery->refused;
        return 0;
    }
    ++delivery->calls;
    ++contract.lineCalls;
    if (delivery->error) return 0;
    try {
        return delivery->resize->Line(data, curLine, width, height);
    } catch (...) {
        delivery->error = std::current_exception();
        return 0;
    }
}

// Puts the host's callback in the slot and the delivery on this thread for
// the length of one decode.
class TLineDeliveryScope {
public:
    explicit TLineDeliveryScope(TLineDelivery* delivery) : delivery_(delivery) {
        if (!delivery_) return;
        threadDecode.delivery = delivery_;
        contract.lineSlot = HostLineCallback;
    }
    TLineDeliveryScope(const TLineDeliveryScope&) = delete;
    TLineDeliveryScope& operator=(const TLineDeliveryScope&) = delete;
    ~TLineDeliveryScope() {
        if (!delivery_) return;
        contract.lineSlot = nullptr;
        threadDecode.delivery = nullptr;
    }

private:
    TLineDelivery* delivery_;
};

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
// A block still alive after the host unloaded cannot be returned to the unloaded
// manager; it is left alone rather than freed through a null entry.
TSharedMemoryEntries LoadedMemory() {
    const TPluginHost* host = contract.loaded.load();
    return host ? host->SharedMemory() : TSharedMemoryEntries{};
}
void* HostGetMem(std::int32_t size) {
    const TSharedMemoryEntries mm = LoadedMemory();
    return mm.GetMem ? mm.GetMem(size) : nullptr;
}
std::int32_t HostFreeMem(void* p) {
    const TSharedMemoryEntries mm = LoadedMemory();
    return mm.FreeMem ? mm.FreeMem(p) : -1;
}
void* HostReallocMem(void** p, std::int32_t size) {
    const TSharedMemoryEntries mm = LoadedMemory();
    return mm.ReallocMem ? mm.ReallocMem(p, size) : nullptr;
}
const TSharedAllocator kHostAllocator{HostGetMem, HostFreeMem, HostReallocMem};

constexpr TSharedMemoryEntries kHeapEntries{HeapGetMem, HeapFreeMem, HeapReallocMem};

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

// The libraries of `folder` (not of its subfolders), in the catalogue's
// order of their paths. A name the code page cannot spell comes back with
// "?" in it; its short name opens the same file.
std::vector<std::string> PluginLibraries(const std::string& folder) {
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    TFindHandle find(::FindFirstFileA((folder + "\\*.*").c_str(), &found));
    if (!find) return files;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string name = found.cFileName;
        if (name.find('?') != std::string::npos) {
            if (!found.cAlternateFileName[0]) continue;
            name = found.cAlternateFileName;
        }
        if (ExtensionKey(name) != ".dll") continue;
        if (folder.size() + 1 + name.size() >= MAX_PATH) continue;  // never cut into another path
        files.push_back(folder + "\\" + name);
    } while (::FindNextFileA(find.Get(), &found));
    std::sort(files.begin(), files.end(), CatalogueLess);
    return files;
}

// Offers the host services to a freshly accepted plug-in; true when it
// cleared bit 0 of the status (accepted the host).
bool OfferServices(const PluginInfo& info, const TSharedMemoryEntries& mm, bool lineDelivery) {
    HostServices services{};
    services.Size = sizeof(HostServices);
    services.GetPictureBuffer = GetPictureBuffer;
    services.Status = kHostStatusOffered;
    services.LineCallbackSlot = lineDelivery ? &contract.lineSlot : nullptr;
    services.GetMem = mm.GetMem;
    services.FreeMem = mm.FreeMem;
    services.ReallocMem = mm.ReallocMem;
    info.Notify(&services);
    return (services.Status & 1) == 0;
}

// The picture's file as the host holds it during one decode. It is opened
// when the first plug-in claims the file, for its size and for decoders
// that read through a handle; it is closed while a decoder that opens the
// file by name runs, since such a decoder may ask for the file alone.
class TPictureFile {
public:
    explicit TPictureFile(const std::string& name) : name_(name) {}

    // False when the file is not there. A file that is there but cannot be
    // opened (another program holds it alone) has no size and no handle;
    // decoders that open it by name may still try.
    bool Open() {
        if (!looked_) {
            looked_ = true;
            Reopen();
            if (file_) {
                LARGE_INTEGER size;
                if (::GetFileSizeEx(file_.Get(), &size))
                    size_ = size.QuadPart > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(size.QuadPart);
            }
            exists_ = file_ || FileExists(name_);
        }
        return exists_;
    }
    std::int32_t Size() const { return size_; }
    // The open handle, opened again after Close; null when it cannot be.
    HANDLE Handle() {
        if (!file_) Reopen();
        return file_ ? file_.Get() : nullptr;
    }
    void Close() { file_.Reset(); }

private:
    void Reopen() {
        file_.Reset(::CreateFileA(name_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) file_.Release();  // INVALID_HANDLE_VALUE is not ours to close
    }

    const std::string& name_;
    TKernelHandle file_;
    bool looked_ = false;
    bool exists_ = false;
    std::int32_t size_ = -1;
};

// The crash report's view of the table: the accepted libraries in order.
// The table is fixed between the host's Load and Unload; afterwards it is
// empty and so is this list.
std::size_t ListPluginModules(TCrashModule* out, std::size_t capacity) {
    const TPluginHost* host = contract.loaded.load();
    if (!host) return 0;
    std::size_t n = 0;
    for (const PluginEntry& entry : host->Table()) {
        if (n == capacity) break;
        out[n++] = TCrashModule{entry.Module, entry.FileName.c_str()};
    }
    return n;
}

}  // namespace

TLineCallback LineCallbackSlot() {
    return contract.lineSlot;
}

TLineSlotScope::TLineSlotScope(TLineCallback callback) {
    contract.lineSlot = callback;
}

TLineSlotScope::~TLineSlotScope() {
    contract.lineSlot = nullptr;
}

std::uint32_t LineCallsSinceStart() {
    return contract.lineCalls.load();
}

TDecodeCancelScope::TDecodeCancelScope(const std::atomic<bool>* cancel) : outer_(threadDecode.cancel) {
    threadDecode.cancel = cancel;
}

TDecodeCancelScope::~TDecodeCancelScope() {
    threadDecode.cancel = outer_;
}

std::uint32_t CancelQueriesSinceStart() {
    return contract.cancelQueries.load();
}

extern "C" __declspec(dllexport) std::int32_t QV_CDECL HostDecodeCancelled() {
    ++contract.cancelQueries;
    return Cancelled(threadDecode.cancel) ? 1 : 0;
}

void* QV_CDECL GetPictureBuffer(std::int32_t bytes) {
    TPluginHost* host = contract.loaded.load();
    return host ? host->PictureBuffer(bytes) : nullptr;
}

void TPluginHost::LoadMemoryManager(const std::string& installPath) {
    // Without an installation folder the path would name the root of the
    // current drive, where no library of ours lies; nothing is loaded. A
    // fastmm.dll of the other width fails to load and counts as missing.
    memoryManager_.Reset();
    if (!installPath.empty()) memoryManager_ = LoadQuietly(installPath + "\\fastmm.dll", 0).Module;
    if (!memoryManager_) {
        sharedMem_ = kHeapEntries;
        ShowMessage("Can't load \"fastmm.dll\". Please reinstall Quorvane.");
    } else {
        sharedMem_.GetMem = ProcAddress<TSharedGetMem>(memoryManager_.Get(), "FastMemory_GetMem");
        sharedMem_.FreeMem = ProcAddress<TSharedFreeMem>(memoryManager_.Get(), "FastMemory_FreeMem");
        sharedMem_.ReallocMem = ProcAddress<TSharedReallocMem>(memoryManager_.Get(), "FastMemory_ReallocMem");
        if (!sharedMem_.GetMem || !sharedMem_.FreeMem || !sharedMem_.ReallocMem) sharedMem_ = kHeapEntries;
    }
    SetSharedAllocator(&kHostAllocator);
}

void TPluginHost::LoadOnePlugin(const std::string& path, bool lineDelivery) {
    const std::string fileName(LastComponent(path, AnsiLeadByte));
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
    table_.push_back(std::move(entry));
    modules_.push_back(std::move(module));

    const PluginInfo& accepted = table_.back().Info;
    if ((accepted.Flags & kPluginWantsServices) && accepted.Notify && !OfferServices(accepted, sharedMem_, lineDelivery)) {
        const std::string name = accepted.Name ? accepted.Name : "";
        ShowMessage(name + " plugin is too old. Please download new version");
        ::ExitProcess(0);
    }
}

void TPluginHost::Load(const std::string& installPath, bool lineDelivery) {
    Unload();
    // The contract's entries reach this host from now on.
    contract.loaded = this;
    LoadMemoryManager(installPath);
    // An empty installation path would scan the root of the current drive and
    // load whatever libraries lie there: no plug-ins then.
    if (!installPath.empty()) {
        for (const std::string& path : PluginLibraries(installPath)) LoadOnePlugin(path, lineDelivery);
    }
    SetPluginModuleSource(ListPluginModules);
    BuildExtensionList();
}

void TPluginHost::BuildExtensionList() {
    extensions_.clear();
    for (const PluginEntry& entry : table_) {
        if (!entry.Enabled || !entry.Info.Extensions) continue;
        for (std::int32_t j = 0; j < entry.Info.FormatCount; ++j) {
            if (!entry.Info.Extensions[j]) continue;
            std::string ext = LowerAscii(entry.Info.Extensions[j]);
            if (std::find(extensions_.begin(), extensions_.end(), ext) == extensions_.end())
                extensions_.push_back(std::move(ext));
        }
    }
}

// The delivered pixels must cover width x height when they sit in the
// host's own buffer; a plug-in that reports more than it was given would
// otherwise have the fitting read past the buffer. Pixels a plug-in keeps in
// memory of its own are taken on trust, but no larger than a picture buffer
// could be, so that the fitting's byte counts fit in 31 bits. Lines already
// delivered (no pixels) may come from a larger picture.
bool TPluginHost::DeliveryFits(std::int32_t width, std::int32_t height, void* pixels) const {
    if (width <= 0 || height <= 0) return false;
    if (!pixels) return true;
    const std::int32_t bytes = pixels == pictureBuffer_ ? pictureBufferSize_ : INT32_MAX;
    // Bounded before multiplying: two 31-bit sides times 4 overflow even 64
    // bits, and the wrapped product would pass for a small picture.
    return width <= bytes / 4 / height;
}

std::string PluginKeyOf(const std::string& path) {
    const std::size_t cut = LastSeparator(path, "\\/:", AnsiLeadByte);
    if (path.find('~', cut == std::string::npos ? 0 : cut) == std::string::npos) return ExtensionKey(path);
    WIN32_FIND_DATAW found;
    TFindHandle find(::FindFirstFileW(Widen(path, ::AreFileApisANSI() ? CP_ACP : CP_OEMCP).c_str(), &found));
    if (!find) return ExtensionKey(path);
    const std::wstring_view name(found.cFileName, wcsnlen(found.cFileName, MAX_PATH));
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring_view::npos) return ExtensionKey(path);
    std::string extension;
    for (const wchar_t c : name.substr(dot)) {
        if (c >= 0x80) return ExtensionKey(path);
        extension += static_cast<char>(c);
    }
    return ExtensionKey(extension);
}

namespace {

// Calls one decoder under a fault guard: false when it faulted. Whatever it
// had delivered counts for nothing then, and what it held on its side (its
// memory, its open files) is lost with its frames.
template <typename Source>
bool CallDecoder(const PluginEntry& entry, TDecoderFunc decoder, Source source, std::int32_t& width,
                 std::int32_t& height, TDecodeResult& result, void*& pixels) {
    auto call = [&] { decoder(source, &width, &height, &result.NaturalWidth, &result.NaturalHeight, &pixels); };
    if (RunGuarded(call)) return true;
    width = 0;
    height = 0;
    pixels = nullptr;
    char trace[160];
    wsprintfA(trace, "Quorvane: fault %08lX in the decoder of %s\n", static_cast<unsigned long>(LastGuardedFault()),
              entry.FileName.c_str());
    ::OutputDebugStringA(trace);
    return false;
}

}  // namespace

// The plug-ins in table order, each claiming plug-in in turn until one
// delivers; see Decode. Lines go to the delivery's resize, if any.
void TPluginHost::RunDecoders(const std::string& fileName, std::int32_t width, std::int32_t height,
                              TLineDelivery& delivery, TDecodeResult& result) {
    TProgressiveResize* const lines = delivery.resize;
    const std::string key = PluginKeyOf(fileName);
    TPictureFile file(fileName);
    for (const PluginEntry& entry : table_) {
        if (result.Delivery != TPictureDelivery::None) break;
        if (!entry.Enabled || !entry.Info.Extensions || !entry.Info.Decoders) continue;
        for (std::int32_t j = 0; j < entry.Info.FormatCount; ++j) {
            const char* ext = entry.Info.Extensions[j];
            const TDecoderFunc decoder = entry.Info.Decoders[j];
            if (!ext || key != ext || !decoder) continue;
            if (!file.Open()) return;
            result.FileSize = file.Size();
            // Nobody waits for the picture any more: no plug-in is asked
            // (again) for it.
            if (Cancelled(delivery.cancel)) return;

            std::int32_t gotWidth = width, gotHeight = height;
            void* pixels = nullptr;
            bool returned;
            if (entry.Info.Flags & kPluginTakesFileName) {
                file.Close();
                returned = CallDecoder(entry, decoder, fileName.c_str(), gotWidth, gotHeight, result, pixels);
            } else {
                const HANDLE handle = file.Handle();
                if (!handle) return;
                PluginFile record{handle, 0, kPluginFileLimit};
                returned = CallDecoder(entry, decoder, &record, gotWidth, gotHeight, result, pixels);
            }
            // An error the resize raised under a decoder that then faulted
            // is part of that fault.
            if (!returned) delivery.error = nullptr;
            if (delivery.error) std::rethrow_exception(std::exchange(delivery.error, nullptr));

            // The resize took the plug-in's line -1: its lines went there.
            const bool inLines = lines && lines->Used() && lines->Armed();
            if (inLines && lines->Finished() && DeliveryFits(gotWidth, gotHeight, nullptr)) {
                result.Delivery = TPictureDelivery::Lines;
            } else if (pixels && DeliveryFits(gotWidth, gotHeight, pixels)) {
                // Whole, also from a plug-in that began its lines and then
                // delivered the picture in a buffer after all: what it began
                // in the resize is dropped.
                if (inLines) lines->Rearm();
                result.Delivery = TPictureDelivery::Whole;
                result.Picture = std::make_unique<TBitmap>(gotWidth, gotHeight, pixels);
            } else {
                // Nothing, or lines that stopped before the last one: a
                // partly black picture is no success. A cancelled decode
                // ends here; otherwise the next plug-in starts the line
                // protocol afresh, and a resize the failed one began or
                // refused must not reject it.
                if (Cancelled(delivery.cancel)) return;
                if (lines) lines->Rearm();
            }
            if (result.Delivery != TPictureDelivery::None && entry.Info.Descriptions)
                result.Format = entry.Info.Descriptions[j];
            break;  // a plug-in that failed is not asked about its other formats
        }
    }
}

TDecodeResult TPluginHost::Decode(const std::string& fileName, const TDecodeRequest& request) {
    TDecodeResult result;
    TLineDelivery delivery{request.Lines, request.Cancel};
    {
        const TDecodeCancelScope cancel(request.Cancel);
        TLineDeliveryScope scope(request.Lines ? &delivery : nullptr);
        RunDecoders(fileName, request.Width, request.Height, delivery, result);
    }
    result.LineCalls = delivery.calls;
    result.RefusedLines = delivery.refused;
    return result;
}

void* TPluginHost::PictureBuffer(std::int32_t bytes) {
    if (bytes <= 0) return nullptr;
    if (bytes == pictureBufferSize_ && pictureBuffer_) return pictureBuffer_;
    if (!pictureBuffer_) {
        pictureBuffer_ = sharedMem_.GetMem ? sharedMem_.GetMem(bytes) : nullptr;
    } else if (!sharedMem_.ReallocMem || !sharedMem_.ReallocMem(&pictureBuffer_, bytes)) {
        // The old block is still in pictureBuffer_; free it rather than hand
        // out a buffer smaller than asked for.
        FreePictureBuffer();
    }
    pictureBufferSize_ = pictureBuffer_ ? bytes : 0;
    return pictureBuffer_;
}

void TPluginHost::FreePictureBuffer() {
    if (pictureBuffer_ && sharedMem_.FreeMem) sharedMem_.FreeMem(pictureBuffer_);
    pictureBuffer_ = nullptr;
    pictureBufferSize_ = 0;
}

void TPluginHost::Unload() {
    FreePictureBuffer();
    for (const PluginEntry& entry : table_) {
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
    std::vector<TModule> modules = std::move(modules_);
    modules_.clear();
    table_.clear();
    modules.clear();
    extensions_.clear();
    // The memory manager last: a plug-in may give back shared blocks in its
    // shutdown notice or when it is detached, and must find the manager's
    // code still there.
    if (contract.loaded.load() == this) {
        SetSharedAllocator(nullptr);
        contract.loaded = nullptr;
    }
    sharedMem_ = TSharedMemoryEntries{};
    memoryManager_.Reset();
}
