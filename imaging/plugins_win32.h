#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/handles_win32.h"
#include "imaging/bitmap_win32.h"
#include "imaging/plugin_abi.h"

class TProgressiveResize;

// The host side of the image plug-in contract: discovery of the plug-in DLLs
// in the installation folder, the shared memory manager fastmm.dll, the
// picture buffer plug-ins deliver into, and the dispatch of a file to the
// first plug-in that claims its extension.

// One accepted plug-in, in order of acceptance.
struct PluginEntry {
    PluginInfo Info;           // copy of the plug-in's block; its pointers stay valid while Module is loaded
    bool Enabled = false;      // true once accepted
    std::string FileName;      // the library's name without folder, at most 100 characters
    HMODULE Module = nullptr;  // owned by the host
};

// While a decode with a progressive resize runs, the line-callback slot
// plug-ins were given at load time holds the host's callback; between
// decodes it is null. The callback hands each line to the resize of the
// decode running on its own thread and keeps any exception on the host's
// side of the boundary: the error is held, the plug-in sees 0 (stop), and
// DecodePicture raises it again once the decoder has returned. Lines that
// come on a thread with no such decode are refused.
TLineCallback LineCallbackSlot();
// Puts `callback` in the slot for the lifetime of the scope, for driving a
// plug-in's decoder directly; the slot is null again afterwards.
class TLineSlotScope {
public:
    explicit TLineSlotScope(TLineCallback callback);
    TLineSlotScope(const TLineSlotScope&) = delete;
    TLineSlotScope& operator=(const TLineSlotScope&) = delete;
    ~TLineSlotScope();
};
// Calls of the host's line callback that reached a resize since start-up,
// over every thread; lets a test watch a decode running on another thread.
std::uint32_t LineCallsSinceStart();

// Our own plug-ins ask the host, between pieces of their work, whether the
// decode running on their thread is still wanted (kHostDecodeCancelledName,
// exported by the program): it is not once the cancel flag of the request
// is raised. Sets the calling thread's flag as DecodePicture does, for
// driving a plug-in's decoder directly.
class TDecodeCancelScope {
public:
    explicit TDecodeCancelScope(const std::atomic<bool>* cancel);
    TDecodeCancelScope(const TDecodeCancelScope&) = delete;
    TDecodeCancelScope& operator=(const TDecodeCancelScope&) = delete;
    ~TDecodeCancelScope();

private:
    const std::atomic<bool>* outer_;
};
// Those questions since start-up, over every thread.
std::uint32_t CancelQueriesSinceStart();

// How a decode handed its picture over.
enum class TPictureDelivery {
    None,   // nothing was decoded
    Whole,  // as one buffer of pixels, wrapped by TDecodeResult::Picture
    Lines,  // line by line into the request's progressive resize, which drew it
};

struct TDecodeRequest {
    std::int32_t Width = 0;   // the wanted size
    std::int32_t Height = 0;
    // Takes the lines of plug-ins that deliver them (those given the slot
    // at load time); null: pictures come whole. Borrowed.
    TProgressiveResize* Lines = nullptr;
    // Once raised, further lines are refused (line -1 still passes), our
    // plug-ins stop at their next piece of work, and no further plug-in is
    // tried. Borrowed; may be null.
    const std::atomic<bool>* Cancel = nullptr;
};

struct TDecodeResult {
    TPictureDelivery Delivery = TPictureDelivery::None;
    // Whole: a wrapper over the delivered pixels, which stay the host's
    // picture buffer's (or the plug-in's) until FreePictureBuffer.
    std::unique_ptr<TBitmap> Picture;
    const char* Format = nullptr;  // the plug-in's description of the format; null when nothing was decoded
    std::int32_t FileSize = -1;    // bytes; -1 when no plug-in claims the file or it cannot be opened
    std::int32_t NaturalWidth = 0;
    std::int32_t NaturalHeight = 0;
    // Line-callback calls that reached the resize (line -1 included) over
    // every plug-in tried, and lines refused because Cancel was raised.
    std::uint32_t LineCalls = 0;
    std::uint32_t RefusedLines = 0;
};

// The extension key a plug-in is chosen by. A short (8.3) name cuts ".jpeg"
// to ".JPE": for a name with a "~", the long name's extension counts when
// the file is there and that extension is plain ASCII (plug-ins list ASCII
// extensions, and every code page spells ASCII as itself).
std::string PluginKeyOf(const std::string& path);

// The shared-memory entries handed to plug-ins: fastmm.dll's exports, or the
// same contract on the process heap when it could not be loaded.
struct TSharedMemoryEntries {
    TSharedGetMem GetMem = nullptr;
    TSharedFreeMem FreeMem = nullptr;
    TSharedReallocMem ReallocMem = nullptr;
};

// One decode's line delivery (plugins_win32.cpp).
struct TLineDelivery;

// The plug-in host of one session: the accepted plug-ins, the extensions
// they claim, the shared memory manager and the picture buffer plug-ins
// deliver into. A process loads one set of plug-ins at a time (the
// contract's callbacks carry no context), so one host is loaded at a time;
// the session owns it.
class TPluginHost {
public:
    TPluginHost() = default;
    TPluginHost(const TPluginHost&) = delete;
    TPluginHost& operator=(const TPluginHost&) = delete;
    ~TPluginHost() { Unload(); }

    // Loads fastmm.dll and every accepted plug-in from `installPath`, the
    // libraries in the catalogue's order of their names. With `lineDelivery`
    // plug-ins are given the line-callback slot. A ".dll" there that cannot
    // be loaded (not a library, a library of the other width, a missing
    // dependency) is skipped without a word to the user; the libraries after
    // it still load. A fastmm.dll that cannot be loaded is reported once and
    // replaced by the process heap. Then fills the extension list.
    void Load(const std::string& installPath, bool lineDelivery);
    // Frees the picture buffer, sends the shutdown notice to the plug-ins
    // that asked for it, frees every plug-in, empties the extension list and
    // then frees fastmm.dll, which plug-ins may still call until they are
    // detached. Harmless when nothing is loaded.
    void Unload();

    // The accepted plug-ins, in order of acceptance.
    const std::vector<PluginEntry>& Table() const { return table_; }
    std::size_t ModuleCount() const { return modules_.size(); }
    // Lower-case picture extensions with the leading dot, without
    // duplicates, from the enabled plug-ins.
    const std::vector<std::string>& Extensions() const { return extensions_; }
    const TSharedMemoryEntries& SharedMemory() const { return sharedMem_; }

    // Has the first plug-in that claims the file's extension decode it, falling
    // back to the next claiming plug-in when one delivers nothing, delivers its
    // lines only in part, or faults (the resize is rearmed for it); a cancelled
    // decode tries no further plug-in. The file is opened once, when a plug-in claims it: for
    // its size and for decoders that take a handle; decoders that take a name
    // open it themselves. Errors the resize raised while a decoder ran are
    // raised again once the decoder has returned.
    TDecodeResult DecodePicture(const std::string& fileName, const TDecodeRequest& request);
    TDecodeResult Decode(const std::string& fileName, const TDecodeRequest& request);

    // The one host-owned picture buffer, which plug-ins reach through
    // GetPictureBuffer.
    void* PictureBuffer(std::int32_t bytes);
    void FreePictureBuffer();

private:
    void LoadMemoryManager(const std::string& installPath);
    void LoadOnePlugin(const std::string& path, bool lineDelivery);
    void BuildExtensionList();
    bool DeliveryFits(std::int32_t width, std::int32_t height, void* pixels) const;
    void RunDecoders(const std::string& fileName, std::int32_t width, std::int32_t height,
                     TLineDelivery& delivery, TDecodeResult& result);

    std::vector<PluginEntry> table_;
    std::vector<TModule> modules_;  // the module of every accepted plug-in
    std::vector<std::string> extensions_;
    TModule memoryManager_;            // fastmm.dll
    TSharedMemoryEntries sharedMem_;  // its three entries, or the process-heap ones; empty once unloaded
    void* pictureBuffer_ = nullptr;   // from the shared allocator
    std::int32_t pictureBufferSize_ = 0;
};

// The contract's picture buffer entry (C convention, byte count in): the
// buffer of the loaded host; null when none is loaded.
void* QV_CDECL GetPictureBuffer(std::int32_t bytes);
