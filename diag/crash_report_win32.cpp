#include "diag/crash_report_win32.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <typeinfo>
#include <vector>

#include "app/exception.h"
#include "app/handles_win32.h"
#include "app/settings.h"
#include "app/settings_win32.h"
#include "app/site.h"
#include "app/state.h"
#include "diag/sysinfo_win32.h"

EXCEPTION_RECORD FaultRecord;
CONTEXT FaultContext;
std::uint32_t FaultMarker = 0;
std::string StackTraceText = "no";
std::string StackDumpText = "no";
std::uint32_t DumpStart = 0;
std::string RegistersText;
std::int32_t FrameValue = 0;
std::string ReportPath;

namespace {

constexpr UINT kReportExitCode = 217;
// Room for about 1600 trace lines; a deeper chain (runaway recursion) is cut.
constexpr std::size_t kTraceCapacity = 16384;
constexpr std::size_t kDumpCapacity = kDumpLines * 64;
constexpr std::size_t kPageCapacity = 64 * 1024;

// Busy marks. The first report wins, so its mark is taken with an exchange.
std::atomic<bool> filterRunning{false};
std::atomic<bool> hookRunning{false};
std::atomic<bool> reportInProgress{false};

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
TRaiseHook previousRaiseHook = nullptr;
std::atomic<TRaiseHook> raiseHookSlot{nullptr};
// Return address of the last C++ throw: where a reported exception was raised.
std::atomic<std::uint32_t> lastRaiseAddress{0};

TModuleTable modules;
std::atomic<TPluginModuleSource> pluginSource{nullptr};
std::atomic<HWND> reportWindow{nullptr};
std::string folderForTests;

// Prepared at installation so that the report does not depend on the heap
// for its largest pieces.
std::string pageBuffer;
std::mt19937 reportRandom;

// Reads this process's memory without faulting: through the system for
// anything that may be unmapped, directly for the two ranges that cannot be
// (the live part of the calling thread's stack, and the program's own code).
// The raise hook reads on every throw, so the direct path matters.
class TProcessMemory : public TMemoryReader {
public:
    TProcessMemory() = default;
    TProcessMemory(std::uint32_t stackLow, std::uint32_t stackHigh, std::uint32_t codeStart,
                   std::uint32_t codeEnd)
        : stackLow_(stackLow), stackHigh_(stackHigh), codeStart_(codeStart), codeEnd_(codeEnd) {}

    bool Read(std::uint32_t address, void* out, std::size_t size) const override {
        const std::uint64_t end = std::uint64_t(address) + size;
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
    std::uint32_t stackLow_ = 0, stackHigh_ = 0;
    std::uint32_t codeStart_ = 0, codeEnd_ = 0;
};

std::uint32_t Address(const void* p) {
    return std::uint32_t(reinterpret_cast<std::uintptr_t>(p));
}

// The current thread's stack base, from its thread information block.
std::uint32_t StackTop() {
    std::uint32_t base;
    __asm__("movl %%fs:4, %0" : "=r"(base));
    return base;
}

// The caller's frame: with frame pointers kept, a frame's first word is the
// saved frame pointer of the function that called it.
inline __attribute__((always_inline)) void* CallerFrame() {
    return *static_cast<void**>(__builtin_frame_address(0));
}

void AddModule(HMODULE module, const char* name) {
    TCodeRange r = ModuleCodeRange(TProcessMemory(), Address(module));
    modules.Add(r.Start, r.End, name);
}

std::uint32_t CurrentStackPointer() {
    std::uint32_t sp;
    __asm__ volatile("movl %%esp, %0" : "=r"(sp));
    return sp;
}

// A reader whose direct ranges are valid for as long as the caller's frame
// lives; the program's code is the module table's first entry.
TProcessMemory FastReader() {
    const bool haveExe = modules.Built() && modules.Count() > 0;
    return TProcessMemory(CurrentStackPointer(), StackTop(), haveExe ? modules.At(0).CodeStart : 0,
                          haveExe ? modules.At(0).CodeEnd : 0);
}

void BuildModuleTable() {
    if (modules.Built()) return;
    modules.Clear();
    AddModule(GetModuleHandleA(nullptr), "mainexe");
    if (TPluginModuleSource source = pluginSource.load()) {
        TCrashModule plugins[TModuleTable::kCapacity - 1] = {};
        std::size_t n = source(plugins, TModuleTable::kCapacity - 1);
        if (n > TModuleTable::kCapacity - 1) n = TModuleTable::kCapacity - 1;
        for (std::size_t i = 0; i < n; ++i) {
            if (plugins[i].Module)
                AddModule(plugins[i].Module, plugins[i].FileName ? plugins[i].FileName : "");
        }
    }
    modules.MarkBuilt();
}

// Replaces `text` with the trace from `frame`, without growing its buffer.
void CaptureTrace(std::string& text, std::uint32_t frame, const char* prefix) {
    BuildModuleTable();
    text.assign(prefix);
    WalkFrames(frame, StackTop(), FastReader(), modules, text, kTraceCapacity);
}

void CaptureDump() {
    StackDumpText.clear();
    // The first 64 KiB of the address space are never mapped: no dump
    // before a fault has set its start.
    if (DumpStart >= 0x10000) FormatStackDump(DumpStart, FastReader(), StackDumpText);
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
    return folderForTests.empty() ? CurrentReportFolder() : folderForTests;
}

bool WriteReport(const std::string& message, const std::string& classText, std::uint32_t address,
                 std::uint32_t flags) {
    const std::string folder = ReportFolderNow();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    TReportPathChoice choice = ChooseReportPath(folder, PathExists, [&] { return unit(reportRandom); });
    ReportPath = choice.Path;
    if (!choice.Exists) EnsureFolder(folder);
    TKernelHandle file(CreateFileA(ReportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;

    TReportData d;
    d.Message = message;
    d.ClassText = classText;
    d.Address = address;
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
    d.Resolution = ResolutionText(reportWindow.load());
    d.Registers = RegistersText;
    d.FaultCode = FaultRecord.ExceptionCode;
    d.FaultParamCount = FaultRecord.NumberParameters;
    d.FaultParams[0] = std::uint32_t(FaultRecord.ExceptionInformation[0]);
    d.FaultParams[1] = std::uint32_t(FaultRecord.ExceptionInformation[1]);
    d.FrameValue = FrameValue;
    d.StackTrace = StackTraceText;
    d.StackDump = StackDumpText;

    pageBuffer.clear();
    BuildReportPage(d, kBugReportPage, pageBuffer);
    DWORD written = 0;
    return WriteFile(file.Get(), pageBuffer.data(), DWORD(pageBuffer.size()), &written, nullptr) &&
           written == pageBuffer.size();
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
    // The process environment, not the C run time's copy of it: tests set
    // the variable after start-up.
    char viewer[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableA("QV_REPORT_VIEWER", viewer, sizeof(viewer));
    std::string command = (n > 0 && n < sizeof(viewer)) ? viewer : "explorer.exe";
    command += " \"" + ReportPath + "\"";
    std::vector<char> commandLine(command.begin(), command.end());
    commandLine.push_back('\0');
    char desktop[] = "Default";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.lpDesktop = desktop;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
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
    if ((c.ContextFlags & CONTEXT_EXTENDED_REGISTERS) != CONTEXT_EXTENDED_REGISTERS) return 0;
    std::uint32_t mxcsr;
    std::memcpy(&mxcsr, c.ExtendedRegisters + 24, 4);  // FXSAVE layout
    return mxcsr;
}

// A stack overflow leaves the faulting thread a few kilobytes of stack,
// too little for writing the report: that runs on a thread of its own.
struct TDeferredReport {
    TFaultText text;
    std::uint32_t address = 0;
    std::uint32_t flags = 0;
};
TDeferredReport deferredReport;

DWORD WINAPI DeferredReportThread(void*) {
    ReportException(deferredReport.text.Message, deferredReport.text.ClassText, deferredReport.address,
                    deferredReport.flags);
}

[[noreturn]] void ReportOnFreshStack(const TFaultText& text, std::uint32_t address, std::uint32_t flags) {
    deferredReport.text = text;
    deferredReport.address = address;
    deferredReport.flags = flags;
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
    lastRaiseAddress.store(Address(raiseAddress));
    if (TRaiseHook hook = raiseHookSlot.load()) {
        void* frames[1] = {CallerFrame()};
        hook(object, raiseAddress, 1, frames);
    }
    __real___cxa_throw(object, type, destructor);
}
}

TRaiseHook SetRaiseHook(TRaiseHook hook) {
    return raiseHookSlot.exchange(hook);
}

void RaiseHook(void* object, void* raiseAddress, std::uint32_t frameCount, void* const* frames) {
    if (filterRunning.load() || hookRunning.exchange(true)) return;
    if (!reportInProgress.load()) {
        if (!(Address(raiseAddress) == FaultMarker && StackTraceText != "no")) {
            try {
                CaptureTrace(StackTraceText, Address(__builtin_frame_address(0)), "\r\n");
                CaptureDump();
            } catch (...) {
                StackTraceText = "failed1";
            }
        }
        if (frameCount == 0 || !frames) {
            FrameValue = -2;
        } else {
            std::uint32_t first = 0;
            FrameValue = FastReader().Read(Address(frames), &first, 4) ? std::int32_t(first) : -1;
        }
    }
    if (previousRaiseHook) previousRaiseHook(object, raiseAddress, frameCount, frames);
    hookRunning.store(false);
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* pointers) {
    if (filterRunning.exchange(true)) return EXCEPTION_CONTINUE_SEARCH;
    if (!reportInProgress.load()) {
        try {
            FaultRecord = *pointers->ExceptionRecord;
            FaultContext = *pointers->ContextRecord;
            FaultMarker = Address(FaultRecord.ExceptionAddress) + 5;
            DumpStart = FaultContext.Esp;
            CaptureTrace(StackTraceText, FaultContext.Ebp, "");
            CaptureDump();
        } catch (...) {
            StackTraceText = "failed";
        }
    }
    const LONG verdict = previousFilter ? previousFilter(pointers) : EXCEPTION_EXECUTE_HANDLER;
    filterRunning.store(false);
    FrameValue = 0;
    if (verdict == EXCEPTION_CONTINUE_EXECUTION) return verdict;

    // Nothing takes the fault, and C++ cannot catch it: this is the last
    // place that can still tell the user what happened.
    const EXCEPTION_RECORD& r = *pointers->ExceptionRecord;
    std::uint32_t params[2] = {0, 0};
    for (DWORD i = 0; i < 2 && i < r.NumberParameters; ++i)
        params[i] = std::uint32_t(r.ExceptionInformation[i]);
    TFaultText text = DescribeFault(r.ExceptionCode, Address(r.ExceptionAddress), r.NumberParameters, params,
                                    MxcsrOf(*pointers->ContextRecord));
    const std::uint32_t flags = RunFlags.load() | kCaughtAtThreadTop;
    if (r.ExceptionCode == EXCEPTION_STACK_OVERFLOW)
        ReportOnFreshStack(text, Address(r.ExceptionAddress), flags);
    ReportException(text.Message, text.ClassText, Address(r.ExceptionAddress), flags);
}

void ThreadTopHandler() {
    ReportCurrentException(RunFlags.load() | kCaughtAtThreadTop);
}

// ---- Installation ------------------------------------------------------

void InstallCrashHooks() {
    StackTraceText.reserve(kTraceCapacity);
    StackDumpText.reserve(kDumpCapacity);
    RegistersText.reserve(128);
    ReportPath.reserve(2 * MAX_PATH);
    pageBuffer.reserve(kPageCapacity);
    reportRandom.seed(GetTickCount());

    std::set_terminate(ThreadTopHandler);
    previousFilter = SetUnhandledExceptionFilter(UnhandledFilter);
    previousRaiseHook = SetRaiseHook(RaiseHook);
}

// ---- Reporting ---------------------------------------------------------

std::string GetStackTrace(std::uint32_t frame) {
    std::string text;
    text.reserve(kTraceCapacity);
    CaptureTrace(text, frame ? frame : Address(CallerFrame()), "");
    return text;
}

const TModuleTable& CrashModules() {
    return modules;
}

void SetPluginModuleSource(TPluginModuleSource source) {
    pluginSource.store(source);
}

void SetReportWindow(HWND window) {
    reportWindow.store(window);
}

void SetReportFolderForTests(const std::string& folder) {
    folderForTests = folder;
}

std::string CurrentReportFolder() {
    return ReportFolder(ShellFolder("AppData"), Settings.InstallPath);
}

void ReportException(const std::string& message, const std::string& classText, std::uint32_t address,
                     std::uint32_t flags) {
    if (reportInProgress.exchange(true)) EndProcess(0);

    if (StackTraceText == "no") {
        try {
            DumpStart = CurrentStackPointer();
            CaptureTrace(StackTraceText, Address(__builtin_frame_address(0)), "");
            CaptureDump();
        } catch (...) {
            StackTraceText = "failed2";
        }
    }

    TRegisterValues regs;
    regs.Eax = FaultContext.Eax;
    regs.Ebx = FaultContext.Ebx;
    regs.Ecx = FaultContext.Ecx;
    regs.Edx = FaultContext.Edx;
    regs.Esi = FaultContext.Esi;
    regs.Edi = FaultContext.Edi;
    regs.Ebp = FaultContext.Ebp;
    regs.Esp = FaultContext.Esp;
    RegistersText = FormatRegisters(regs);

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
    const std::uint32_t address = lastRaiseAddress.load();
    // Inside a catch block the exception being handled says the most.
    if (!e && std::current_exception()) ReportCurrentException(flags);
    if (!e) ReportException("", ForeignClassText("(unknown)"), address, flags);
    if (auto* ours = dynamic_cast<const Exception*>(e))
        ReportException(ours->what(), OwnClassName(typeid(*ours)), address, flags);
    ReportException("", ForeignClassText(Demangle(typeid(*e).name())), address, flags);
}

void ReportCurrentException(std::uint32_t flags) {
    const std::uint32_t address = lastRaiseAddress.load();
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
