#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/handles_win32.h"
#include "imaging/bitmap_win32.h"
#include "imaging/plugin_abi.h"

// The host side of the image plug-in contract: discovery of the plug-in DLLs
// in the installation folder, the shared memory manager fastmm.dll, the
// picture buffer plug-ins deliver into, and the dispatch of a file to the
// first plug-in that claims its extension.

// One accepted plug-in, in order of acceptance.
struct PluginEntry {
    PluginInfo Info;           // copy of the plug-in's block; its pointers stay valid while Module is loaded
    bool Enabled = false;      // true once accepted
    std::string FileName;      // the library's name without folder, at most 100 characters
    HMODULE Module = nullptr;  // owned by PluginModules
};

extern std::vector<PluginEntry> PluginTable;
// The module of every accepted plug-in, freed by UnloadPlugins.
extern std::vector<TModule> PluginModules;

// The variable whose address plug-ins receive as the line-callback slot:
// null except while picture preparation decodes with progressive resizing
// armed (then the host's guarded ResizeLine).
extern TLineCallback PluginLineCallback;
// The callback picture preparation stores in PluginLineCallback. It runs the
// resampler's ResizeLine and keeps any exception on the host's side of the
// boundary: the error is held, the plug-in sees 0 (stop), and DecodePicture
// raises it again once the decoder has returned.
// Calls that reached GuardedResizeLine since start-up (line -1 included);
// lets tests and diagnostics tell which way a picture travelled.
extern std::uint32_t ProgressiveLineCount;
std::int32_t QV_CDECL GuardedResizeLine(std::intptr_t data, std::int32_t curLine, std::int32_t width,
                                        std::int32_t height);

// Loads fastmm.dll and every accepted plug-in from Settings.InstallPath.
// A ".dll" there that cannot be loaded (not a library, a library of the
// other width, a missing dependency) is skipped without a word to the user;
// the libraries after it still load. A fastmm.dll that cannot be loaded is
// reported once and replaced by the process heap.
void LoadPlugins();
// Fills ExtensionList from the enabled plug-ins' extensions, lower-cased,
// without duplicates.
void BuildExtensionList();
// Has the first plug-in that claims the file's extension decode it, falling
// back to the next claiming plug-in when one delivers nothing. `picture`
// (may be null) receives a wrapper over the delivered pixels; `format` the
// plug-in's description of the format; `fileSize` the file's size or -1.
// The wanted size is doubled for FitMode 2.
bool DecodePicture(const std::string& fileName, std::unique_ptr<TBitmap>* picture, const char** format,
                   std::int32_t* fileSize, std::int32_t width, std::int32_t height,
                   std::int32_t* naturalWidth, std::int32_t* naturalHeight);
// The one host-owned picture buffer (contract: C convention, byte count in).
void* QV_CDECL GetPictureBuffer(std::int32_t bytes);
void FreePictureBuffer();
// Frees the picture buffer, sends the shutdown notice to the plug-ins that
// asked for it, frees every plug-in, empties ExtensionList and then frees
// fastmm.dll, which plug-ins may still call until they are detached.
void UnloadPlugins();

// The shared-memory entries handed to plug-ins: fastmm.dll's exports, or the
// same contract on the process heap when it could not be loaded.
struct TSharedMemoryEntries {
    TSharedGetMem GetMem = nullptr;
    TSharedFreeMem FreeMem = nullptr;
    TSharedReallocMem ReallocMem = nullptr;
};
const TSharedMemoryEntries& SharedMemoryEntries();
