#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

#include "diag/report_text.h"

// The crash report: three hooks capture the processor state and a stack
// trace of every fault and every raised C++ exception; ReportException
// writes BugReport.html, opens it in the browser and ends the process with
// exit code 217.
//
// Wiring:
//  - The entry calls InstallCrashHooks() before anything else.
//  - A caller that cannot recover from an error calls, inside its catch
//    block, ReportCurrentException(RunState.Flags | extra), extra being
//    kCaughtByEntry, kCaughtInLoader, kRunRenderLoop (a frame) or 0 (the
//    dialog). The caller's bit is OR-ed in, never added: 0x10 is also the
//    stored render-loop bit, and adding it twice would read as 0x20.
//  - An exception that escapes a thread body reaches std::terminate, whose
//    handler reports it with RunState.Flags | kCaughtAtThreadTop.
//  - A processor fault that no handler takes (access violation, division
//    by zero, ...) reaches the unhandled-exception filter, which reports it
//    with RunState.Flags | kCaughtAtThreadTop; a fault inside a guard of
//    diag/fault_guard_win32.h ends the guarded code instead.
//
// The program must be linked with -Wl,--wrap=__cxa_throw (cmake/windows.cmake
// puts it on every target that links the Win32 layer): the wrapper is how
// the raise hook sees each throw.

// Installs, in this order: the std::terminate handler, the process's
// unhandled-exception filter (chaining the one installed before), and the
// raise hook. Also starts the captured state afresh and prepares every
// buffer the report needs, so that a report from a damaged process
// allocates as little as possible.
void InstallCrashHooks();

// Writes and shows the report, then ends the process: exit code 217, or 0
// when another report is already in progress. `address` is where the error
// was raised.
[[noreturn]] void ReportException(const std::string& message, const std::string& classText, TAddress address,
                                  std::uint32_t flags);

// For a catch block: reports the exception being handled. An object of the
// program's Exception class gives its message and class name; any other
// object gives an empty message and the class text
// "Exception object <name> is not of class Exception.". The address is
// that of the throw.
[[noreturn]] void ReportCurrentException(std::uint32_t flags);

// The same for an exception object the caller holds. Null inside a catch
// block reports the exception being handled (as ReportCurrentException);
// null elsewhere reports an unknown object.
[[noreturn]] void ReportException(const std::exception* e, std::uint32_t flags);

// ---- Hooks (installed by InstallCrashHooks) ----------------------------

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* pointers);
// `frames` holds `frameCount` frame addresses of the raising code.
void RaiseHook(void* object, void* raiseAddress, std::uint32_t frameCount, void* const* frames);
[[noreturn]] void ThreadTopHandler();

using TRaiseHook = void (*)(void* object, void* raiseAddress, std::uint32_t frameCount, void* const* frames);
// The run time's raise-notification slot, called before every C++ throw.
// Returns the hook it replaces.
TRaiseHook SetRaiseHook(TRaiseHook hook);

// ---- Captured state ----------------------------------------------------

// The hooks keep what they capture (the last fault's record and context, the
// trace, the stack dump, the frame value) in one record of the report code;
// InstallCrashHooks starts it afresh and prepares its buffers. A copy of
// the parts that show in the report:
struct TCrashCapture {
    std::string StackTrace;       // "no", a trace, or "failed", "failed1", "failed2"
    std::string StackDump;        // "no" or the raw dump
    TAddress DumpStart = 0;       // where the dump starts; 0 until a fault or a report sets it
    std::int32_t FrameValue = 0;  // 0 none, -2 no frames, -1 unreadable
};
// Allocates: not for the crash path.
TCrashCapture CapturedState();

// Hex digits of an address in the report: 8 in the 32-bit program, 16 in
// the 64-bit one.
constexpr int kAddressDigits = int(2 * sizeof(void*));

// Call-site lines of the functions that called the caller: along the saved
// frame pointers in the 32-bit program, by the unwind tables in the 64-bit
// one. Builds the module table on first use; throws Exception when a
// module's headers are not those of a PE image.
std::string GetStackTrace();

// The program as "mainexe", then the plug-ins; empty until the first trace.
const TModuleTable& CrashModules();

// One plug-in library for the module table.
struct TCrashModule {
    HMODULE Module;        // not owned
    const char* FileName;  // without folder
};
// The plug-in host hands over its table once it is fixed: `source` fills at
// most `capacity` entries and returns how many it filled. Plug-ins beyond
// the twentieth are not entered.
using TPluginModuleSource = std::size_t (*)(TCrashModule* out, std::size_t capacity);
void SetPluginModuleSource(TPluginModuleSource source);

// The saver window whose size the report shows (null: "0x0").
void SetReportWindow(HWND window);

// The installation folder, for the report folder below; the session gives
// it once the settings are read (empty until then).
void SetReportInstallFolder(const std::string& installPath);

// Folder the report is written to: "<AppData>\Quorvane" from the current
// user's shell folders, or the installation folder when that is empty.
std::string CurrentReportFolder();

// The program that opens the report page: explorer.exe of the Windows
// folder, by its full path (empty when the Windows folder is unknown).
std::string ReportViewerPath();

// Stand-ins for tests, each replacing one thing the report takes from the
// system. The product leaves both empty.
struct TCrashReportHooks {
    std::string ReportFolder;  // the folder written to, instead of CurrentReportFolder()
    std::string ViewerPath;    // the program that opens the page, instead of ReportViewerPath()
};
void SetCrashReportHooks(const TCrashReportHooks& hooks);
