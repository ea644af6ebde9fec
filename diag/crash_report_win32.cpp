#include "diag/crash_report_win32.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <typeinfo>
#include <vector>

#include "base/exception.h"
#include "base/handles_win32.h"
#include "base/run_state.h"
#include "base/site.h"
#include "base/system_win32.h"
#include "diag/fault_guard_win32.h"
#include "diag/sysinfo_win32.h"

namespace {

// Everything the hooks capture for the report, in one process-wide record:
// the filter and the raise hook run on whichever thread faults or throws,
// and after a stack overflow the report is written on a thread of its own.
// The strings' buffers are reserved by InstallCrashHooks, so that filling
// them in a damaged process does not depend on the heap.
struct TCaptureRecord {
    EXCEPTION_RECORD FaultRecord{};  // last fault seen by the filter
    CONTEXT FaultContext{};          // its processor context
    TAddress FaultMarker = 0;        // fault address + 5
    std::string StackTrace = "no";   // "no", a trace, or "failed", "failed1", "failed2"
    std::string StackDump = "no";    // "no" or the raw dump
    TAddress DumpStart = 0;          // where the dump starts; 0 until a fault or a report sets it
    std::string Registers;           // the register lines of FaultContext
    std::int32_t FrameValue = 0;     // 0 none, -2 no frames, -1 unreadable
    std::string ReportPath;          // the page being written
};
// A stack overflow leaves the faulting thread a few kilobytes of stack,
// too little for writing the report: that runs on a thread of its own.
struct TDeferredReport {
    TFaultText text;
    TAddress address = 0;
    std::uint32_t flags = 0;
};

constexpr UINT kReportExitCode = 217;
// Room for about 1600 trace lines; a deeper chain (runaway recursion) is cut.
constexpr std::size_t kTraceCapacity = 16384;
constexpr std::size_t kDumpCapacity = kDumpLines * 64;
constexpr std::size_t kPageCapacity = 64 * 1024;
// Room for the return addresses of one trace.
constexpr std::size_t kMaxUnwound = 1024;

// The crash handler's state, process-wide by necessity: the entry installs
// the handler before any object of the program exists, and the system and
// the run time call its hooks (the unhandled-exception filter, the vectored
// handler, the throw wrapper, std::terminate) without a context pointer, on
// whichever thread faults or throws, up to the moment the process ends.
// The buffers are prepared at installation, so that a report from a
// damaged process hardly touches the heap; the unwinder's scratch space
// lives here rather than on a stack that may have overflowed.
struct TCrashHandlerState {
    TCaptureRecord capture;

    // Busy marks. The first report wins, so its mark is taken with an exchange.
    std::atomic<bool> filterRunning{false};
    std::atomic<bool> hookRunning{false};
    std::atomic<bool> reportInProgress{false};

    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
    TRaiseHook previousRaiseHook = nullptr;
    std::atomic<TRaiseHook> raiseHookSlot{nullptr};
    // Return address of the last C++ throw: where a reported exception was raised.
    std::atomic<TAddress> lastRaiseAddress{0};
#if defined(__x86_64__)
    PVOID overflowHandler = nullptr;  // the vectored handler, added once per process
#endif

    TModuleTable modules;
    std::atomic<TPluginModuleSource> pluginSource{nullptr};
    std::atomic<HWND> reportWindow{nullptr};
    std::string installPath;  // the installation folder, once the settings were read
    TCrashReportHooks hooks;  // the product leaves them empty

    std::string pageBuffer;
    std::mt19937 reportRandom;

    TAddress unwound[kMaxUnwound];  // the return addresses of one trace
    CONTEXT unwindContext;          // the context it unwinds

    TDeferredReport deferredReport;
#if defined(__x86_64__)
    // A 64-bit thread that overflowed its stack has too little left for the
    // unwinder: the fresh thread walks that stack, between these bounds.
    bool captureOnFreshStack = false;
    TAddress overflowStackLow = 0, overflowStackHigh = 0;
#endif
};
TCrashHandlerState crash;

// Reads this process's memory without faulting: through the system for
// anything that may be unmapped, directly for the two ranges that cannot be
// (the live part of the calling thread's stack, and the program's own code).
// The raise hook reads on every throw, so the direct path matters.
class TProcessMemory : public TMemoryReader {
public:
    TProcessMemory() = default;
    TProcessMemory(TAddress stackLow, TAddress stackHigh, TAddress codeStart, TAddress codeEnd)
        : stackLow_(stackLow), stackHigh_(stackHigh), codeStart_(codeStart), codeEnd_(codeEnd) {}

    bool Read(TAddress address, void* out, std::size_t size) const override {
        if (address > UINTPTR_MAX - size) return false;
        const TAddress end = address + size;
        if ((address >= stackLow_ && end <= stackHigh_) || (address >= codeStart_ && end <= codeEnd_)) {
            std::memcpy(out, reinterpret_cast<const void*>(std::uintptr_t(address)), size);
            return true;
        }
        SIZE_T got = 0;
        return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(std::uintptr_t(address)),
                                 out, size, &got) &&
               got == size;
    }

private:
    TAddress stackLow_ = 0, stackHigh_ = 0;
    TAddress codeStart_ = 0, codeEnd_ = 0;
};

TAddress Address(const void* p) {
    return TAddress(reinterpret_cast<std::uintptr_t>(p));
}

// The current thread's stack base, from its thread information block.
TAddress StackTop() {
    std::uintptr_t base;
#if defined(__x86_64__)
    __asm__("movq %%gs:8, %0" : "=r"(base));
#else
    __asm__("movl %%fs:4, %0" : "=r"(base));
#endif
    return base;
}

#if defined(__x86_64__)
// The lowest address of the current thread's committed stack.
TAddress StackLimit() {
    std::uintptr_t limit;
    __asm__("movq %%gs:16, %0" : "=r"(limit));
    return limit;
}
#endif

// The caller's frame: with frame pointers kept, a frame's first word is the
// saved frame pointer of the function that called it.
inline __attribute__((always_inline)) void* CallerFrame() {
    return *static_cast<void**>(__builtin_frame_address(0));
}

void AddModule(HMODULE module, const char* name) {
    TCodeRange r = ModuleCodeRange(TProcessMemory(), Address(module));
    crash.modules.Add(r.Start, r.End, name);
}

TAddress CurrentStackPointer() {
    std::uintptr_t sp;
#if defined(__x86_64__)
    __asm__ volatile("movq %%rsp, %0" : "=r"(sp));
#else
    __asm__ volatile("movl %%esp, %0" : "=r"(sp));
#endif
    return sp;
}

// A reader whose direct ranges are valid for as long as the caller's frame
// lives; the program's code is the module table's first entry.
TProcessMemory FastReader() {
    const bool haveExe = crash.modules.Built() && crash.modules.Count() > 0;
    return TProcessMemory(CurrentStackPointer(), StackTop(), haveExe ? crash.modules.At(0).CodeStart : 0,
                          haveExe ? crash.modules.At(0).CodeEnd : 0);
}

void BuildModuleTable() {
    if (crash.modules.Built()) return;
    crash.modules.Clear();
    AddModule(GetModuleHandleA(nullptr), "mainexe");
    if (TPluginModuleSource source = crash.pluginSource.load()) {
        TCrashModule plugins[TModuleTable::kCapacity - 1] = {};
        std::size_t n = source(plugins, TModuleTable::kCapacity - 1);
        if (n > TModuleTable::kCapacity - 1) n = TModuleTable::kCapacity - 1;
        for (std::size_t i = 0; i < n; ++i) {
            if (plugins[i].Module)
                AddModule(plugins[i].Module, plugins[i].FileName ? plugins[i].FileName : "");
        }
    }
    crash.modules.MarkBuilt();
}

#if defined(__x86_64__)
// Return addresses up the stack from `context` (innermost first), found by
// the unwind tables the compiler writes for every function; frame pointers
// alone would miss the frames of functions that keep none. A function
// without an entry is a leaf whose return address is on top of its stack.
// `low` and `high` bound the stack the context runs on. The context is
// unwound in place: a thread that overflowed its stack has no room for a
// copy.
std::size_t UnwindReturnAddresses(CONTEXT& context, TAddress low, TAddress high, TAddress* out,
                                  std::size_t capacity) {
    const TProcessMemory memory;
    std::size_t n = 0;
    while (n < capacity) {
        const TAddress sp = context.Rsp;
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (function) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                             &establisher, nullptr);
        } else {
            DWORD64 ret = 0;
            if (!memory.Read(context.Rsp, &ret, sizeof(ret))) break;
            context.Rip = ret;
            context.Rsp += sizeof(ret);
        }
        // The stack pointer rises with every frame and stays on this
        // thread's stack; anything else is a damaged stack.
        if (context.Rip == 0 || context.Rsp <= sp || context.Rsp < low || context.Rsp > high) break;
        out[n++] = context.Rip;
    }
    return n;
}

// Replaces `text` with the trace from `context`, leaving out the `skip`
// innermost return addresses, without growing its buffer. The context runs
// on the stack from `low` to `high` (by default the calling thread's).
void CaptureTraceFrom(std::string& text, const CONTEXT& context, const char* prefix, std::size_t skip = 0,
                      TAddress low = StackLimit(), TAddress high = StackTop()) {
    BuildModuleTable();
    text.assign(prefix);
    crash.unwindContext = context;
    const std::size_t n = UnwindReturnAddresses(crash.unwindContext, low, high, crash.unwound, kMaxUnwound);
    if (n > skip)
        AppendTraceLines(crash.unwound + skip, n - skip, FastReader(), crash.modules, kAddressDigits, text,
                         kTraceCapacity);
}

// The trace from the frame of the function that calls this one, as the
// 32-bit walk gives it: its first line is the call of that function.
// `skip` leaves out as many more of the innermost lines.
__attribute__((noinline)) void CaptureTrace(std::string& text, const char* prefix, std::size_t skip = 0) {
    CONTEXT context{};
    RtlCaptureContext(&context);
    // The first return address found leads back into the calling function.
    CaptureTraceFrom(text, context, prefix, 1 + skip);
}
#else
// Replaces `text` with the trace from `frame`, without growing its buffer.
void CaptureTraceFrom(std::string& text, TAddress frame, const char* prefix) {
    BuildModuleTable();
    text.assign(prefix);
    WalkFrames(frame, StackTop(), FastReader(), crash.modules, text, kTraceCapacity);
}

// The trace from the frame of the function that calls this one.
__attribute__((always_inline)) inline void CaptureTrace(std::string& text, const char* prefix) {
    CaptureTraceFrom(text, Address(__builtin_frame_address(0)), prefix);
}
#endif

void CaptureDump() {
    crash.capture.StackDump.clear();
    // The first 64 KiB of the address space are never mapped: no dump
    // before a fault has set its start.
    if (crash.capture.DumpStart >= 0x10000)
        FormatStackDump(crash.capture.DumpStart, FastReader(), crash.capture.StackDump);
}

std::string Demangle(const char* name) {
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string out = (status == 0 && plain) ? plain : name;
    std::free(plain);
    return out;
}

// A class of our own is named without its scopes.
std::string OwnClassName(const std::type_info& type) {
    return UnqualifiedName(Demangle(type.name()));
}

// The class text for an object that is not one of our exceptions.
std::string ForeignClassText(const std::string& name) {
    return "Exception object " + name + " is not of class Exception.";
}

bool IsNt() {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    return GetVersionExA(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReportFolderNow() {
    return crash.hooks.ReportFolder.empty() ? CurrentReportFolder() : crash.hooks.ReportFolder;
}

bool WriteReport(const std::string& message, const std::string& classText, TAddress address,
                 std::uint32_t flags) {
    const std::string folder = ReportFolderNow();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    TReportPathChoice choice = ChooseReportPath(folder, PathExists, [&] { return unit(crash.reportRandom); });
    crash.capture.ReportPath = choice.Path;
    if (!choice.Exists) EnsureFolder(folder);
    TKernelHandle file(CreateFileA(crash.capture.ReportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;

    TReportData d;
    d.Message = message;
    d.ClassText = classText;
    d.Address = address;
    d.AddressDigits = kAddressDigits;
    d.Flags = flags;
    d.Version = kAppVersion;
    d.System = SystemText();
    d.Processor = ProcessorText();
    d.Memory = MemoryText();
    if ((flags & (kCaughtByEntry | kCaughtInLoader)) == 0) {
        d.OpenGLVersion = OpenGLVersionText();
        d.Acceleration = AccelerationText();
        d.Adapter = AdapterText();
    }
    d.Resolution = ResolutionText(crash.reportWindow.load());
    d.Registers = crash.capture.Registers;
    d.FaultCode = crash.capture.FaultRecord.ExceptionCode;
    d.FaultParamCount = crash.capture.FaultRecord.NumberParameters;
    d.FaultParams[0] = crash.capture.FaultRecord.ExceptionInformation[0];
    d.FaultParams[1] = crash.capture.FaultRecord.ExceptionInformation[1];
    d.FrameValue = crash.capture.FrameValue;
    d.StackTrace = crash.capture.StackTrace;
    d.StackDump = crash.capture.StackDump;

    crash.pageBuffer.clear();
    BuildReportPage(d, kBugReportPage, crash.pageBuffer);
    DWORD written = 0;
    return WriteFile(file.Get(), crash.pageBuffer.data(), DWORD(crash.pageBuffer.size()), &written,
                     nullptr) &&
           written == crash.pageBuffer.size();
}

// A full-screen saver on a non-NT system keeps the foreground; close it so
// that the browser can be seen.
void CloseSaverWindowOn9x(std::uint32_t flags) {
    if (!(flags & kRunFullScreen) || IsNt()) return;
    HWND foreground = GetForegroundWindow();
    char title[256] = {};
    if (foreground && GetWindowTextA(foreground, title, sizeof(title)) > 0 && std::strstr(title, "Quorvane"))
        PostMessageA(foreground, WM_CLOSE, 0, 0);
}

void ShowReport(std::uint32_t flags) {
    // The program is named by full path: a bare name would be looked for in
    // the program's folder and the current folder first, where anything
    // called explorer.exe (say, beside photos the user picked) would run
    // instead.
    const std::string application =
        crash.hooks.ViewerPath.empty() ? ReportViewerPath() : crash.hooks.ViewerPath;
    if (application.empty()) return;
    std::string command = "\"" + application + "\"";
    command += " \"" + crash.capture.ReportPath + "\"";
    std::vector<char> commandLine(command.begin(), command.end());
    commandLine.push_back('\0');
    char desktop[] = "Default";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.lpDesktop = desktop;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
        return;
    TKernelHandle process(pi.hProcess);
    TKernelHandle thread(pi.hThread);
    // A full-screen run under NT sits on the screen-saver desktop: keep the
    // process (and with it that desktop) alive until the browser was started.
    const bool fullScreenOnly = (flags & kRunFullScreen) && !(flags & (kRunDialog | kRunPreview));
    if (fullScreenOnly && IsNt()) {
        DWORD code = 0;
        while (GetExitCodeProcess(process.Get(), &code) && code == STILL_ACTIVE) Sleep(500);
    }
}

[[noreturn]] void EndProcess(UINT code) {
    // Terminate rather than exit: in a damaged process the DLL detach
    // notifications and static destructors are the likeliest next crash.
    TerminateProcess(GetCurrentProcess(), code);
    ExitProcess(code);
}

std::uint32_t MxcsrOf(const CONTEXT& c) {
#if defined(__x86_64__)
    if ((c.ContextFlags & CONTEXT_FLOATING_POINT) != CONTEXT_FLOATING_POINT) return 0;
    return c.MxCsr;
#else
    if ((c.ContextFlags & CONTEXT_EXTENDED_REGISTERS) != CONTEXT_EXTENDED_REGISTERS) return 0;
    std::uint32_t mxcsr;
    std::memcpy(&mxcsr, c.ExtendedRegisters + 24, 4);  // FXSAVE layout
    return mxcsr;
#endif
}

// The register lines of the fault's context (all zero when none was seen).
std::string RegisterLines(const CONTEXT& c) {
#if defined(__x86_64__)
    TRegisterValues64 r;
    r.Rax = c.Rax, r.Rbx = c.Rbx, r.Rcx = c.Rcx, r.Rdx = c.Rdx;
    r.Rsi = c.Rsi, r.Rdi = c.Rdi, r.Rbp = c.Rbp, r.Rsp = c.Rsp;
    r.R8 = c.R8, r.R9 = c.R9, r.R10 = c.R10, r.R11 = c.R11;
    r.R12 = c.R12, r.R13 = c.R13, r.R14 = c.R14, r.R15 = c.R15;
    r.Rip = c.Rip;
    return FormatRegisters(r);
#else
    TRegisterValues r;
    r.Eax = c.Eax;
    r.Ebx = c.Ebx;
    r.Ecx = c.Ecx;
    r.Edx = c.Edx;
    r.Esi = c.Esi;
    r.Edi = c.Edi;
    r.Ebp = c.Ebp;
    r.Esp = c.Esp;
    return FormatRegisters(r);
#endif
}

DWORD WINAPI DeferredReportThread(void*) {
#if defined(__x86_64__)
    if (crash.captureOnFreshStack) {
        try {
            CaptureTraceFrom(crash.capture.StackTrace, crash.capture.FaultContext, "", 0,
                             crash.overflowStackLow, crash.overflowStackHigh);
            CaptureDump();
        } catch (...) {
            crash.capture.StackTrace = "failed";
        }
    }
#endif
    ReportException(crash.deferredReport.text.Message, crash.deferredReport.text.ClassText,
                    crash.deferredReport.address, crash.deferredReport.flags);
}

[[noreturn]] void ReportOnFreshStack(const TFaultText& text, TAddress address, std::uint32_t flags) {
    crash.deferredReport.text = text;
    crash.deferredReport.address = address;
    crash.deferredReport.flags = flags;
    TKernelHandle thread(CreateThread(nullptr, 256 * 1024, DeferredReportThread, nullptr, 0, nullptr));
    // The report ends the process; the wait only keeps this thread still.
    if (thread) WaitForSingleObject(thread.Get(), INFINITE);
    ReportException(text.Message, text.ClassText, address, flags);
}

}  // namespace

// ---- Hooks -------------------------------------------------------------

extern "C" {
[[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*));

// Every C++ throw of the program passes here (linked with --wrap=__cxa_throw).
[[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
    void* raiseAddress = __builtin_return_address(0);
    crash.lastRaiseAddress.store(Address(raiseAddress));
    if (TRaiseHook hook = crash.raiseHookSlot.load()) {
        void* frames[1] = {CallerFrame()};
        hook(object, raiseAddress, 1, frames);
    }
    __real___cxa_throw(object, type, destructor);
}
}

TRaiseHook SetRaiseHook(TRaiseHook hook) {
    return crash.raiseHookSlot.exchange(hook);
}

void RaiseHook(void* object, void* raiseAddress, std::uint32_t frameCount, void* const* frames) {
    if (crash.filterRunning.load() || crash.hookRunning.exchange(true)) return;
    if (!crash.reportInProgress.load()) {
        if (!(Address(raiseAddress) == crash.capture.FaultMarker && crash.capture.StackTrace != "no")) {
            try {
                CaptureTrace(crash.capture.StackTrace, "\r\n");
                CaptureDump();
            } catch (...) {
                crash.capture.StackTrace = "failed1";
            }
        }
        if (frameCount == 0 || !frames) {
            crash.capture.FrameValue = -2;
        } else {
            std::uint32_t first = 0;
            crash.capture.FrameValue =
                FastReader().Read(Address(frames), &first, 4) ? std::int32_t(first) : -1;
        }
    }
    if (crash.previousRaiseHook) crash.previousRaiseHook(object, raiseAddress, frameCount, frames);
    crash.hookRunning.store(false);
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* pointers) {
    // A fault inside guarded code ends that code, not the process; this does
    // not return then.
    ResumeGuardedFault(*pointers->ExceptionRecord);
    if (crash.filterRunning.exchange(true)) return EXCEPTION_CONTINUE_SEARCH;
    if (!crash.reportInProgress.load()) {
        try {
            crash.capture.FaultRecord = *pointers->ExceptionRecord;
            crash.capture.FaultContext = *pointers->ContextRecord;
            crash.capture.FaultMarker = Address(crash.capture.FaultRecord.ExceptionAddress) + 5;
#if defined(__x86_64__)
            crash.capture.DumpStart = crash.capture.FaultContext.Rsp;
            if (crash.capture.FaultRecord.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
                crash.captureOnFreshStack = true;
                crash.overflowStackLow = StackLimit();
                crash.overflowStackHigh = StackTop();
            } else {
                CaptureTraceFrom(crash.capture.StackTrace, crash.capture.FaultContext, "");
                CaptureDump();
            }
#else
            crash.capture.DumpStart = crash.capture.FaultContext.Esp;
            CaptureTraceFrom(crash.capture.StackTrace, crash.capture.FaultContext.Ebp, "");
            CaptureDump();
#endif
        } catch (...) {
            crash.capture.StackTrace = "failed";
        }
    }
    const LONG verdict = crash.previousFilter ? crash.previousFilter(pointers) : EXCEPTION_EXECUTE_HANDLER;
    crash.filterRunning.store(false);
    crash.capture.FrameValue = 0;
    if (verdict == EXCEPTION_CONTINUE_EXECUTION) return verdict;

    // Nothing takes the fault, and C++ cannot catch it: this is the last
    // place that can still tell the user what happened.
    const EXCEPTION_RECORD& r = *pointers->ExceptionRecord;
    TAddress params[2] = {0, 0};
    for (DWORD i = 0; i < 2 && i < r.NumberParameters; ++i) params[i] = r.ExceptionInformation[i];
    TFaultText text = DescribeFault(r.ExceptionCode, Address(r.ExceptionAddress), r.NumberParameters, params,
                                    MxcsrOf(*pointers->ContextRecord), kAddressDigits);
    const std::uint32_t flags = RunState.Flags.load() | kCaughtAtThreadTop;
    if (r.ExceptionCode == EXCEPTION_STACK_OVERFLOW)
        ReportOnFreshStack(text, Address(r.ExceptionAddress), flags);
    ReportException(text.Message, text.ClassText, Address(r.ExceptionAddress), flags);
}

void ThreadTopHandler() {
    ReportCurrentException(RunState.Flags.load() | kCaughtAtThreadTop);
}

#if defined(__x86_64__)
namespace {

// After a stack overflow the 64-bit exception dispatch may have too little
// stack left to reach the unhandled-exception filter (under Wine it never
// does); a vectored handler is called first, with what little there is.
// Nothing in the program recovers from an overflow, so it goes straight to
// the filter, which hands the report to a fresh thread.
LONG WINAPI OverflowHandler(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    return UnhandledFilter(pointers);
}

}  // namespace
#endif

// ---- Installation ------------------------------------------------------

void InstallCrashHooks() {
    // The state of a process that has seen nothing; the buffers after it.
    crash.capture = TCaptureRecord{};
    crash.capture.StackTrace.reserve(kTraceCapacity);
    crash.capture.StackDump.reserve(kDumpCapacity);
    crash.capture.Registers.reserve(128);
    crash.capture.ReportPath.reserve(2 * MAX_PATH);
    crash.pageBuffer.reserve(kPageCapacity);
    crash.reportRandom.seed(GetTickCount());

    std::set_terminate(ThreadTopHandler);
    crash.previousFilter = SetUnhandledExceptionFilter(UnhandledFilter);
#if defined(__x86_64__)
    if (!crash.overflowHandler) crash.overflowHandler = AddVectoredExceptionHandler(1, OverflowHandler);
#endif
    crash.previousRaiseHook = SetRaiseHook(RaiseHook);
}

// ---- Reporting ---------------------------------------------------------

std::string GetStackTrace() {
    std::string text;
    text.reserve(kTraceCapacity);
#if defined(__x86_64__)
    CaptureTrace(text, "", 1);
#else
    CaptureTraceFrom(text, Address(CallerFrame()), "");
#endif
    return text;
}

const TModuleTable& CrashModules() {
    return crash.modules;
}

void SetPluginModuleSource(TPluginModuleSource source) {
    crash.pluginSource.store(source);
}

void SetReportWindow(HWND window) {
    crash.reportWindow.store(window);
}

TCrashCapture CapturedState() {
    TCrashCapture copy;
    copy.StackTrace = crash.capture.StackTrace;
    copy.StackDump = crash.capture.StackDump;
    copy.DumpStart = crash.capture.DumpStart;
    copy.FrameValue = crash.capture.FrameValue;
    return copy;
}

void SetCrashReportHooks(const TCrashReportHooks& replacement) {
    crash.hooks = replacement;
}

std::string ReportViewerPath() {
    char folder[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryA(folder, sizeof(folder));
    if (n == 0 || n >= sizeof(folder)) return std::string();
    std::string path(folder, n);
    if (path.back() != '\\') path += '\\';
    return path + "explorer.exe";
}

void SetReportInstallFolder(const std::string& installPath) {
    crash.installPath = installPath;
}

std::string CurrentReportFolder() {
    return ReportFolder(ShellFolder("AppData"), crash.installPath);
}

void ReportException(const std::string& message, const std::string& classText, TAddress address,
                     std::uint32_t flags) {
    if (crash.reportInProgress.exchange(true)) EndProcess(0);

    if (crash.capture.StackTrace == "no") {
        try {
            crash.capture.DumpStart = CurrentStackPointer();
            CaptureTrace(crash.capture.StackTrace, "");
            CaptureDump();
        } catch (...) {
            crash.capture.StackTrace = "failed2";
        }
    }

    crash.capture.Registers = RegisterLines(crash.capture.FaultContext);

    bool written = false;
    try {
        written = WriteReport(message, classText, address, flags);
    } catch (...) {
        written = false;
    }
    if (written) {
        CloseSaverWindowOn9x(flags);
        ShowReport(flags);
    }
    EndProcess(kReportExitCode);
}

void ReportException(const std::exception* e, std::uint32_t flags) {
    const TAddress address = crash.lastRaiseAddress.load();
    // Inside a catch block the exception being handled says the most.
    if (!e && std::current_exception()) ReportCurrentException(flags);
    if (!e) ReportException("", ForeignClassText("(unknown)"), address, flags);
    if (auto* ours = dynamic_cast<const Exception*>(e))
        ReportException(ours->what(), OwnClassName(typeid(*ours)), address, flags);
    ReportException("", ForeignClassText(Demangle(typeid(*e).name())), address, flags);
}

void ReportCurrentException(std::uint32_t flags) {
    const TAddress address = crash.lastRaiseAddress.load();
    if (!std::current_exception()) ReportException("", ForeignClassText("(none)"), address, flags);
    try {
        throw;
    } catch (const Exception& e) {
        ReportException(e.what(), OwnClassName(typeid(e)), address, flags);
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        ReportException("", ForeignClassText(type ? Demangle(type->name()) : "(unknown)"), address, flags);
    }
}
