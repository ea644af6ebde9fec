#include "diag/crash_report_win32.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/exception.h"
#include "base/run_state.h"
#include "base/handles_win32.h"
#include "diag/sysinfo_win32.h"
#include "tests/win32/test_files.h"

#include <tlhelp32.h>

// Each death test runs its statement in a fresh copy of this program, which
// installs the hooks, crashes for real and writes its report into a folder
// under the temporary folder; the parent then reads that report.

namespace {

std::size_t ListKernel32(TCrashModule* out, std::size_t capacity) {
    if (capacity < 1) return 0;
    out[0] = {GetModuleHandleA("kernel32.dll"), "kernel32.dll"};
    return 1;
}
// Set before any trace can build the module table.
const bool kPluginSourceSet = (SetPluginModuleSource(ListKernel32), true);

std::string TestFolder(const char* name) {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string root = std::string(temp) + "qv_crash_test";
    CreateDirectoryA(root.c_str(), nullptr);
    return root + "\\" + name;
}

// Empties (and creates) a test folder.
std::string FreshFolder(const char* name) {
    std::string folder = TestFolder(name);
    CreateDirectoryA(folder.c_str(), nullptr);
    WIN32_FIND_DATAA fd;
    TFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &fd));
    if (find) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((folder + "\\" + fd.cFileName).c_str());
        } while (FindNextFileA(find.Get(), &fd));
    }
    return folder;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    TFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &fd));
    if (find) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
        } while (FindNextFileA(find.Get(), &fd));
    }
    return names;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The lines that follow `caption` (on its own line or on the next ones) up
// to the next empty line.
std::vector<std::string> Block(const std::string& page, const std::string& caption) {
    std::vector<std::string> lines;
    std::size_t pos = page.find(caption);
    if (pos == std::string::npos) return lines;
    pos += caption.size();
    if (page.compare(pos, 2, "\r\n") == 0) pos += 2;
    for (std::size_t end; (end = page.find("\r\n", pos)) != std::string::npos && end != pos; pos = end + 2)
        lines.push_back(page.substr(pos, end - pos));
    return lines;
}

// The stand-in for the browser: a copy of the planted program, which leaves
// its mark beside itself and ends at once.
std::string StandInViewer() {
    return TestFolder("viewer") + "\\viewer.exe";
}
std::string StandInViewerMark() {
    return TestFolder("viewer") + "\\planted-ran.txt";
}

void Arm(const std::string& folder) {
    InstallCrashHooks();
    CreateDirectoryA(TestFolder("viewer").c_str(), nullptr);
    // Fails harmlessly while an earlier copy still runs: it is the same program.
    CopyFileA((std::string(QV_BIN_DIR) + "/planted_program.exe").c_str(), StandInViewer().c_str(), FALSE);
    SetCrashReportHooks({folder, StandInViewer()});
}

TAddress ToAddress(const void* p) {
    return TAddress(reinterpret_cast<std::uintptr_t>(p));
}

// The program's code range, from the module table.
TCodeRange MainCode() {
    GetStackTrace();
    const TModuleInfo& m = CrashModules().At(0);
    return {m.CodeStart, m.CodeEnd};
}

bool InRange(TAddress a, const TCodeRange& r) {
    return a >= r.Start && a < r.End;
}

// An address as the report writes it: 8 hex digits in the 32-bit program,
// 16 in the 64-bit one.
const std::string kHexAddress = "[0-9A-F]{" + std::to_string(kAddressDigits) + "}";

TAddress ParseAddress(const std::string& text) {
    return TAddress(std::stoull(text, nullptr, 16));
}

std::vector<TAddress> TraceAddresses(const std::vector<std::string>& lines) {
    std::vector<TAddress> out;
    for (const std::string& l : lines) {
        EXPECT_TRUE(std::regex_match(l, std::regex(kHexAddress))) << l;
        out.push_back(ParseAddress(l));
    }
    return out;
}

#if defined(__x86_64__)
const char* const kRegisterLines =
    "RAX=[0-9A-F]{16} RBX=[0-9A-F]{16} RCX=[0-9A-F]{16} RDX=[0-9A-F]{16}\r\n"
    "RSI=[0-9A-F]{16} RDI=[0-9A-F]{16} RBP=[0-9A-F]{16} RSP=[0-9A-F]{16}\r\n"
    "R8=[0-9A-F]{16} R9=[0-9A-F]{16} R10=[0-9A-F]{16} R11=[0-9A-F]{16}\r\n"
    "R12=[0-9A-F]{16} R13=[0-9A-F]{16} R14=[0-9A-F]{16} R15=[0-9A-F]{16}\r\n"
    "RIP=[0-9A-F]{16}\r\n";
const char* const kZeroStackPointer = "RSP=0000000000000000";
const char* const kZeroRegisters = "RAX=0000000000000000 RBX=0000000000000000 RCX=0000000000000000";
#else
const char* const kRegisterLines =
    "EAX=[0-9A-F]{8} EBX=[0-9A-F]{8} ECX=[0-9A-F]{8} EDX=[0-9A-F]{8} ESI=[0-9A-F]{8} EDI=[0-9A-F]{8} "
    "EBP=[0-9A-F]{8} ESP=[0-9A-F]{8}\r\n";
const char* const kZeroStackPointer = "ESP=00000000";
const char* const kZeroRegisters = "EAX=00000000 EBX=00000000 ECX=00000000 EDX=00000000";
#endif

volatile std::uintptr_t zeroAddress = 0;

__attribute__((noinline)) void WriteThrough(volatile int* p) {
    *p = 1;
}

__attribute__((noinline, noclone)) std::string TraceHere() {
    std::string t = GetStackTrace();
    asm volatile("" ::: "memory");
    return t;
}
__attribute__((noinline, noclone)) std::string TraceMiddle() {
    std::string t = TraceHere();
    asm volatile("" ::: "memory");
    return t + "";
}
__attribute__((noinline, noclone)) std::string TraceOuter() {
    std::string t = TraceMiddle();
    asm volatile("" ::: "memory");
    return t + "";
}

// The target of the direct call instruction at `site`, or 0.
TAddress CallTarget(TAddress site) {
    const auto* code = reinterpret_cast<const std::uint8_t*>(std::uintptr_t(site));
    if (code[0] != 0xE8) return 0;
    std::int32_t rel;
    std::memcpy(&rel, code + 1, 4);
    return site + 5 + TAddress(std::int64_t(rel));
}

}  // namespace

TEST(CrashTrace, ModuleTableListsTheProgramAsMainexeThenPlugins) {
    ASSERT_TRUE(kPluginSourceSet);
    TCodeRange main = MainCode();
    const TModuleTable& t = CrashModules();
    ASSERT_EQ(t.Count(), 2u);
    EXPECT_STREQ(t.At(0).Name, "mainexe");
    EXPECT_TRUE(InRange(ToAddress(reinterpret_cast<const void*>(&TraceMiddle)), main));
    EXPECT_STREQ(t.At(1).Name, "kernel32.dll");
    // The plug-in's range comes from its own headers: inside its image.
    const TAddress base = ToAddress(GetModuleHandleA("kernel32.dll"));
    EXPECT_GT(t.At(1).CodeStart, base);
    EXPECT_GT(t.At(1).CodeEnd, t.At(1).CodeStart);
    EXPECT_FALSE(InRange(t.At(1).CodeStart, main));
}

// Along saved frame pointers in the 32-bit program, by the unwind tables in
// the 64-bit one: either way the trace names the callers in order.
TEST(CrashTrace, StackWalkFindsTheCallingFunctions) {
    std::istringstream lines(TraceOuter());
    std::vector<std::string> text;
    for (std::string l; std::getline(lines, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        text.push_back(l);
    }
    std::vector<TAddress> sites = TraceAddresses(text);
    ASSERT_GE(sites.size(), 3u);
    // The first two call sites are the direct calls in TraceMiddle and
    // TraceOuter; each names its callee exactly.
    EXPECT_EQ(CallTarget(sites[0]), ToAddress(reinterpret_cast<const void*>(&TraceHere)));
    EXPECT_EQ(CallTarget(sites[1]), ToAddress(reinterpret_cast<const void*>(&TraceMiddle)));
    // Then the test body and gtest's runner in the program's code, and
    // below them the system's start-up code in the listed kernel32.
    TCodeRange main = MainCode();
    EXPECT_TRUE(InRange(sites[2], main));
    for (TAddress s : sites) EXPECT_TRUE(CrashModules().InCode(s)) << std::hex << s;
}

TEST(CrashTrace, RaiseHookRecordsEveryThrow) {
    InstallCrashHooks();
    const TCrashCapture before = CapturedState();
    EXPECT_EQ(before.StackTrace, "no");
    EXPECT_EQ(before.FrameValue, 0);
    try {
        throw Exception("caught at once");
    } catch (const Exception&) {
    }
    const TCrashCapture after = CapturedState();
    EXPECT_EQ(after.StackTrace.substr(0, 2), "\r\n");
    EXPECT_GE(after.StackTrace.size(), 12u);
    EXPECT_NE(after.FrameValue, 0);
    // No fault happened in this process, so the dump starts nowhere.
    EXPECT_EQ(after.DumpStart, 0u);
    EXPECT_EQ(after.StackDump, "");
    // Later tests of other modules throw by the thousand; they need not pay
    // for traces nobody reads.
    SetRaiseHook(nullptr);
}

TEST(CrashTrace, SystemTextsOfThisMachine) {
    EXPECT_TRUE(std::regex_match(SystemText(), std::regex("Windows (NT )?[0-9]+\\.[0-9]+ Build: [0-9]+ .*")))
        << SystemText();
    EXPECT_TRUE(std::regex_match(ProcessorText(), std::regex("([0-9]+x )?.+, [0-9]+ MHz")))
        << ProcessorText();
    EXPECT_GT(IdentifyCpu().RawMHz, 0);
    EXPECT_TRUE(std::regex_match(MemoryText(), std::regex("[0-9]+ of [0-9]+ MB"))) << MemoryText();
    EXPECT_EQ(OpenGLVersionText(), "");  // no current context on this thread
    EXPECT_EQ(AdapterText(), "");
    EXPECT_EQ(ResolutionText(nullptr), "0x0");
    const std::string accel = AccelerationText();
    EXPECT_TRUE(accel == "ICD" || accel == "MCD" || accel == "No") << accel;
}

TEST(CrashTrace, ReportFolderIsUnderTheUsersAppData) {
    std::string folder = CurrentReportFolder();
    ASSERT_GE(folder.size(), 10u);
    EXPECT_EQ(folder.substr(folder.size() - 9), "\\Quorvane");
}

// ---- Real crashes ------------------------------------------------------

namespace {

// A window with a current OpenGL context on the calling thread, kept for
// the rest of the (crashing) process.
void MakeCurrentGLContext() {
    HWND wnd =
        CreateWindowExA(0, "STATIC", "gl", WS_POPUP, 0, 0, 320, 200, nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(wnd);
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(pfd);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 24;
    SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd);
    wglMakeCurrent(dc, wglCreateContext(dc));
    SetReportWindow(wnd);
}

}  // namespace

TEST(CrashReportDeathTest, WriteToAddressZeroWritesTheReport) {
    const std::string folder = FreshFolder("av");
    EXPECT_EXIT(
        {
            Arm(folder);
            MakeCurrentGLContext();
            RunState.Flags = kRunFullScreen | kRunRenderLoop;
            WriteThrough(reinterpret_cast<volatile int*>(zeroAddress));
        },
        ::testing::ExitedWithCode(217), "");
    const std::string page = ReadAll(folder + "\\BugReport.html");
    ASSERT_FALSE(page.empty());
    EXPECT_TRUE(Contains(page, "\r\nExceptionInfo: Error when write to " + HexAddress(0, kAddressDigits) + "\r\n"));
    EXPECT_TRUE(Contains(page, "\r\nException class: EAccessViolation\r\n"));
    EXPECT_TRUE(Contains(page, "\r\nApp mode: 274\r\n"));  // 0x12 | 0x100
    EXPECT_TRUE(Contains(page, "\r\nApp version: 1.1.0.0\r\n"));
    EXPECT_TRUE(Contains(page, "\r\nOpenGL version: ")) << page;
    EXPECT_TRUE(Contains(page, "Mesa")) << page;
    EXPECT_TRUE(Contains(page, "\r\nResolution: 320x200\r\n")) << page;
    EXPECT_TRUE(std::regex_search(page, std::regex(std::string("\r\nRegisters:\r\n") + kRegisterLines))) << page;
    EXPECT_FALSE(Contains(page, kZeroStackPointer));
    EXPECT_FALSE(Contains(page, "\r\nFrame: "));

    // The fault's address and every trace line lie in the program's code.
    TCodeRange main = MainCode();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page, m, std::regex("Exception address: (" + kHexAddress + ")\r\n")));
    EXPECT_TRUE(InRange(ParseAddress(m[1]), main));
    std::vector<TAddress> trace = TraceAddresses(Block(page, "StackTrace: "));
    ASSERT_GE(trace.size(), 2u);
    // The walk starts at the faulting function's frame: its first line is
    // the call of that function (the child runs this same image).
    EXPECT_EQ(CallTarget(trace[0]), ToAddress(reinterpret_cast<const void*>(&WriteThrough)));
    for (TAddress a : trace) EXPECT_TRUE(CrashModules().InCode(a)) << std::hex << a;

    std::vector<std::string> dump = Block(page, "Raw stack dump: ");
    ASSERT_EQ(dump.size(), 20u);
    for (const std::string& l : dump)
        EXPECT_TRUE(std::regex_match(l, std::regex("([0-9A-F]{2} ){8}-( [0-9A-F]{2}){8}"))) << l;
}

TEST(CrashReportDeathTest, ExceptionEscapingAThreadIsReportedEscaped) {
    const std::string folder = FreshFolder("thread");
    EXPECT_EXIT(
        {
            Arm(folder);
            RunState.Flags = 0;
            std::thread worker([] { throw Exception("Loader <broke> & \"stopped\""); });
            worker.join();
        },
        ::testing::ExitedWithCode(217), "");
    const std::string page = ReadAll(folder + "\\BugReport.html");
    ASSERT_FALSE(page.empty());
    EXPECT_TRUE(Contains(page, "\r\nException: Loader &lt;broke&gt; &amp; &quot;stopped&quot;\r\n")) << page;
    EXPECT_TRUE(Contains(page, "\r\nException class: Exception\r\n"));
    EXPECT_TRUE(Contains(page, "\r\nApp mode: 256\r\n"));
    EXPECT_TRUE(Contains(page, "\r\nOpenGL version: \r\n"));  // no context on that thread
    EXPECT_FALSE(Contains(page, "ExceptionInfo"));
    EXPECT_TRUE(std::regex_search(page, std::regex("\r\nFrame: [0-9A-F]{8}\r\n")));
    // Registers of no fault at all.
    EXPECT_TRUE(Contains(page, kZeroRegisters));

    TCodeRange main = MainCode();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page, m, std::regex("Exception address: (" + kHexAddress + ")\r\n")));
    EXPECT_TRUE(InRange(ParseAddress(m[1]), main));
    // The raise hook's trace starts with an empty line.
    EXPECT_TRUE(Contains(page, "\r\nStackTrace: \r\n"));
    std::vector<TAddress> trace = TraceAddresses(Block(page, "\r\nStackTrace: "));
    ASSERT_GE(trace.size(), 1u);
    for (TAddress a : trace) EXPECT_TRUE(CrashModules().InCode(a)) << std::hex << a;
    // No fault set the dump's start: the dump is empty.
    EXPECT_TRUE(Contains(page, "\r\nRaw stack dump: \r\n\r\n\r\n\r\n</TEXTAREA>"));
}

TEST(CrashReportDeathTest, EntryErrorWithAnExistingReportGoesToANumberedFile) {
    const std::string folder = FreshFolder("numbered");
    {
        std::ofstream old(folder + "\\BugReport.html", std::ios::binary);
        old << "earlier report";
    }
    EXPECT_EXIT(
        {
            Arm(folder);
            RunState.Flags = kRunDialog;
            try {
                throw 42;
            } catch (...) {
                ReportCurrentException(RunState.Flags | kCaughtByEntry);
            }
        },
        ::testing::ExitedWithCode(217), "");
    EXPECT_EQ(ReadAll(folder + "\\BugReport.html"), "earlier report");
    std::vector<std::string> files = FilesIn(folder);
    ASSERT_EQ(files.size(), 2u);
    std::string numbered = files[0] == "BugReport.html" ? files[1] : files[0];
    std::smatch m;
    ASSERT_TRUE(std::regex_match(numbered, m, std::regex("BugReport([0-9]{1,4})\\.html"))) << numbered;
    const std::string page = ReadAll(folder + "\\" + numbered);
    EXPECT_TRUE(Contains(page, "\r\nException: \r\n"));
    EXPECT_TRUE(Contains(page, "\r\nException class: Exception object int is not of class Exception.\r\n"));
    EXPECT_TRUE(Contains(page, "\r\nApp mode: 33\r\n"));
    EXPECT_FALSE(Contains(page, "OpenGL version"));
    EXPECT_FALSE(Contains(page, "Hardware Aceleration"));
    EXPECT_FALSE(Contains(page, "Graphics Accelerator"));
}

namespace {

FILETIME Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now;
}

// Ends the report viewers (explorer.exe) that started after `since`: under
// Wine the viewer opens a window and stays (and shows as the system folder's
// explorer.exe). Wine's desktop process is an explorer.exe too, maybe started
// meanwhile; the windows of later tests need it.
void EndViewersStartedAfter(const FILETIME& since) {
    DWORD desktop = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &desktop);
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
        TKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                          entry.th32ProcessID));
        if (!process) continue;
        char image[MAX_PATH] = {};
        DWORD size = sizeof(image);
        FILETIME created, exited, kernel, user;
        if (entry.th32ProcessID == desktop || !QueryFullProcessImageNameA(process.Get(), 0, image, &size) ||
            size < 13 || lstrcmpiA(image + size - 13, "\\explorer.exe") != 0 ||
            !GetProcessTimes(process.Get(), &created, &exited, &kernel, &user) ||
            CompareFileTime(&created, &since) < 0)
            continue;
        TerminateProcess(process.Get(), 0);
    }
}

}  // namespace

TEST(CrashReportViewer, IsTheWindowsFoldersExplorerWhateverTheCurrentFolder) {
    char windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryA(windows, sizeof(windows)), 0u);
    const std::string folder = FreshFolder("viewer_path");
    char before[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof(before), before);
    ASSERT_TRUE(CopyFileA((std::string(QV_BIN_DIR) + "/planted_program.exe").c_str(),
                          (folder + "\\explorer.exe").c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    const std::string viewer = ReportViewerPath();
    SetCurrentDirectoryA(before);
    EXPECT_EQ(viewer, std::string(windows) + (std::string(windows).back() == '\\' ? "" : "\\") + "explorer.exe");
}

// A program named explorer.exe in the current folder (say, among photos the
// user picked with the open-file dialog) must not be what opens the report.
TEST(CrashReportDeathTest, AProgramPlantedInTheCurrentFolderDoesNotRun) {
    const std::string folder = FreshFolder("planted");
    const std::string marker = folder + "\\planted-ran.txt";
    ASSERT_TRUE(CopyFileA((std::string(QV_BIN_DIR) + "/planted_program.exe").c_str(),
                          (folder + "\\explorer.exe").c_str(), FALSE));
    // The bare name, started from that folder, finds the planted program
    // before the system's: what a report opened that way would run.
    {
        char before[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof(before), before);
        SetCurrentDirectoryA(folder.c_str());
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        char command[] = "explorer.exe";
        const BOOL started = CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        SetCurrentDirectoryA(before);
        ASSERT_TRUE(started);
        TKernelHandle process(pi.hProcess), thread(pi.hThread);
        WaitForSingleObject(process.Get(), 10000);
        ASSERT_NE(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the bare name found another program";
        DeleteFileA(marker.c_str());
    }

    const FILETIME started = Now();
    EXPECT_EXIT(
        {
            Arm(folder);
            SetCrashReportHooks({folder, ""});  // the product's own viewer
            SetCurrentDirectoryA(folder.c_str());
            ReportException("planted", "Exception", 0, kRunDialog);
        },
        ::testing::ExitedWithCode(217), "");
    EXPECT_NE(ReadAll(folder + "\\BugReport.html"), "");
    Sleep(1000);  // a planted program would have had time to run
    EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the planted explorer.exe ran";
    EndViewersStartedAfter(started);
}

namespace {

// Starts a second report while the first one builds its module table.
std::size_t ReportAgain(TCrashModule*, std::size_t) {
    ReportException("second", "Exception", 0, 0);
}

}  // namespace

TEST(CrashReportDeathTest, SecondReportEndsTheProcessWithZero) {
    const std::string folder = FreshFolder("second");
    EXPECT_EXIT(
        {
            Arm(folder);
            SetPluginModuleSource(ReportAgain);
            ReportException("first", "Exception", 0, 0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(FilesIn(folder).empty());
}

TEST(CrashReportDeathTest, UnwritableFolderEndsWith217AndNoFile) {
    FreshFolder("missing");
    RemoveDirectoryA(TestFolder("missing").c_str());
    // Only one level is created, so a folder two levels below a missing one
    // cannot receive the report.
    const std::string folder = TestFolder("missing") + "\\deeper";
    EXPECT_EXIT(
        {
            Arm(folder);
            ReportException("no room", "Exception", 0, 0);
        },
        ::testing::ExitedWithCode(217), "");
    EXPECT_EQ(GetFileAttributesA(TestFolder("missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CrashReportDeathTest, FullScreenRunWaitsForTheViewerThenEnds) {
    const std::string folder = FreshFolder("fullscreen");
    DeleteFileA(StandInViewerMark().c_str());
    EXPECT_EXIT(
        {
            Arm(folder);
            ReportException("full screen", "Exception", 0, kRunFullScreen);
        },
        ::testing::ExitedWithCode(217), "");
    EXPECT_NE(ReadAll(folder + "\\BugReport.html"), "");
    // The report was opened with the viewer; the process waited for it, so
    // its mark is there by now.
    EXPECT_NE(GetFileAttributesA(StandInViewerMark().c_str()), INVALID_FILE_ATTRIBUTES);
}

namespace {

volatile int recursionLimit = 1 << 30;

__attribute__((noinline)) int Recurse(int depth) {
    volatile char pad[512];
    pad[0] = char(depth);
    if (depth >= recursionLimit) return pad[0];
    return Recurse(depth + 1) + pad[0];
}

}  // namespace

TEST(CrashReportDeathTest, StackOverflowIsReportedFromAFreshStack) {
    const std::string folder = FreshFolder("overflow");
    EXPECT_EXIT(
        {
            Arm(folder);
            Recurse(0);
        },
        ::testing::ExitedWithCode(217), "");
    const std::string page = ReadAll(folder + "\\BugReport.html");
    EXPECT_TRUE(Contains(page, "\r\nException: Stack overflow\r\n")) << page.substr(0, 600);
    // The trace along thousands of recursive frames is cut, not lost.
    std::vector<std::string> trace = Block(page, "StackTrace: ");
    EXPECT_GE(trace.size(), 100u);
    EXPECT_EQ(Block(page, "Raw stack dump: ").size(), 20u);
}

namespace {

volatile float zeroDivisor = 0.0f;

__attribute__((noinline)) float DivideWithTraps(float x) {
    _mm_setcsr(_mm_getcsr() & ~_MM_MASK_DIV_ZERO);
    return x / zeroDivisor;
}

}  // namespace

// The show's crash-test key divides by zero with the SSE trap unmasked.
TEST(CrashReportDeathTest, SseDivisionByZeroIsNamed) {
    const std::string folder = FreshFolder("divide");
    EXPECT_EXIT(
        {
            Arm(folder);
            RunState.Flags = kRunFullScreen | kRunRenderLoop;
            std::printf("%f", double(DivideWithTraps(1.0f)));
        },
        ::testing::ExitedWithCode(217), "");
    const std::string page = ReadAll(folder + "\\BugReport.html");
    EXPECT_TRUE(Contains(page, "\r\nException: Floating point division by zero\r\n")) << page.substr(0, 700);
    EXPECT_TRUE(Contains(page, "\r\nException class: EZeroDivide\r\n"));
    EXPECT_EQ(Block(page, "Raw stack dump: ").size(), 20u);
    std::vector<TAddress> trace = TraceAddresses(Block(page, "StackTrace: "));
    ASSERT_GE(trace.size(), 1u);
    EXPECT_EQ(CallTarget(trace[0]), ToAddress(reinterpret_cast<const void*>(&DivideWithTraps)));
}
