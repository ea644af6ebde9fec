#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Text builders of the crash report. Nothing here touches the operating
// system: memory is read through TMemoryReader, so the same code walks a
// real stack in the program and a made-up one in the tests.

// An address of the process being described: 32 bits wide in the 32-bit
// program, 64 in the 64-bit one. Texts show it with 8 or 16 hex digits, as
// the caller says (`digits`).
using TAddress = std::uint64_t;

// Reads `size` bytes at an address of the process being described.
// Returns false, with `out` unspecified, when any byte is unreadable.
class TMemoryReader {
public:
    virtual bool Read(TAddress address, void* out, std::size_t size) const = 0;

protected:
    ~TMemoryReader() = default;
};

// Replaces & < > and " with their character references, so that no text
// written into the report page can end its text area or add markup.
std::string HtmlEscape(std::string_view text);

// A class name without the namespaces and enclosing classes it is declared
// in ("(anonymous namespace)::EZeroDivide" gives "EZeroDivide"); qualifiers
// inside template arguments stay.
std::string UnqualifiedName(std::string_view name);

// Eight upper-case hex digits.
void AppendHex8(std::string& out, std::uint32_t value);
std::string Hex8(std::uint32_t value);

// `digits` upper-case hex digits of the low bits of `value` (8 or 16 for
// an address).
void AppendHex(std::string& out, std::uint64_t value, int digits);
std::string HexAddress(TAddress value, int digits);

// The version constant as its four bytes from the most significant, in
// decimal, joined by ".".
std::string VersionText(std::uint32_t version);

struct TRegisterValues {
    std::uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0, Esi = 0, Edi = 0, Ebp = 0, Esp = 0;
};

// "EAX=xxxxxxxx EBX=... ESP=xxxxxxxx": the 32-bit program's line.
std::string FormatRegisters(const TRegisterValues& regs);

struct TRegisterValues64 {
    std::uint64_t Rax = 0, Rbx = 0, Rcx = 0, Rdx = 0, Rsi = 0, Rdi = 0, Rbp = 0, Rsp = 0;
    std::uint64_t R8 = 0, R9 = 0, R10 = 0, R11 = 0, R12 = 0, R13 = 0, R14 = 0, R15 = 0;
    std::uint64_t Rip = 0;
};

// The 64-bit program's registers, 16 hex digits each, four to a line:
// "RAX=... RBX=... RCX=... RDX=...\r\n" up to "R12=... R15=...\r\nRIP=...".
std::string FormatRegisters(const TRegisterValues64& regs);

// ---- Module table ------------------------------------------------------

struct TModuleInfo {
    TAddress CodeStart = 0;
    TAddress CodeEnd = 0;  // CodeStart + size of code
    char Name[104] = {};        // "mainexe" or the plug-in's file name (at most 100 characters)
};

// The program and up to 20 plug-ins. A fixed array, so that building it in
// a damaged process does not need the heap.
class TModuleTable {
public:
    static constexpr std::size_t kCapacity = 21;

    bool Built() const { return built_; }
    void MarkBuilt() { built_ = true; }
    void Clear();
    // False when the table is full.
    bool Add(TAddress codeStart, TAddress codeEnd, std::string_view name);
    bool InCode(TAddress address) const;
    std::size_t Count() const { return count_; }
    const TModuleInfo& At(std::size_t i) const { return entries_[i]; }

private:
    TModuleInfo entries_[kCapacity];
    std::size_t count_ = 0;
    bool built_ = false;
};

struct TCodeRange {
    TAddress Start = 0;
    TAddress End = 0;
};

// The code range of the module image at `base`: base + BaseOfCode up to
// that plus SizeOfCode (both fields sit at the same place in 32-bit and
// 64-bit images). Throws Exception "Not a valid MZ-file!" or
// "Not a valid PE-file!" when the headers are not those of a PE image.
TCodeRange ModuleCodeRange(const TMemoryReader& memory, TAddress base);

// ---- Stack trace -------------------------------------------------------

// Length of the call instruction that ends just before a return address,
// from the eight bytes that precede it (bytes[0] is 8 before, bytes[7] is
// 1 before); 0 when none is recognised.
int CallInstructionLength(const std::uint8_t (&bytes)[8]);

// The address of the call that a return address returns from, or the
// return address itself when no call can be recognised there.
TAddress CallAddress(TAddress returnAddress, const TMemoryReader& memory, const TModuleTable& modules);

// The 32-bit program's walk: follows the chain of saved frame pointers
// (4-byte words) from `startFrame` up to (not including) `stackTop`,
// appending one "XXXXXXXX\r\n" line per frame whose return address lies in
// a module's code. Frames must rise strictly, so a corrupt chain that
// points back down ends the walk instead of looping. Stops adding lines
// when `out` would grow beyond `maxChars`.
void WalkFrames(TAddress startFrame, TAddress stackTop, const TMemoryReader& memory,
                const TModuleTable& modules, std::string& out, std::size_t maxChars);

// The 64-bit program's trace, from return addresses its unwinder found
// (innermost first): one line of `digits` hex digits per return address
// that lies in a module's code, naming the call it returns from. Stops
// adding lines when `out` would grow beyond `maxChars`.
void AppendTraceLines(const TAddress* returnAddresses, std::size_t count, const TMemoryReader& memory,
                      const TModuleTable& modules, int digits, std::string& out, std::size_t maxChars);

// ---- Raw stack dump ----------------------------------------------------

constexpr int kDumpLines = 20;

// "00 11 22 33 44 55 66 77 - 88 99 AA BB CC DD EE FF\r\n"
void AppendDumpLine(std::string& out, const std::uint8_t (&bytes)[16]);

// Up to 20 lines of 16 bytes from `start` upward; an unreadable line ends it.
void FormatStackDump(TAddress start, const TMemoryReader& memory, std::string& out);

// ---- Operating-system faults -------------------------------------------

struct TFaultText {
    std::string Message;
    std::string ClassText;
};

// Message and class text for a processor fault that no handler caught.
// `params` are the exception record's first two parameters; `mxcsr` is
// the SSE status word of the faulting context (0 when unknown), used to
// name the cause of an SSE floating-point trap. Addresses are shown with
// `digits` hex digits.
TFaultText DescribeFault(std::uint32_t code, TAddress address, std::uint32_t paramCount,
                         const TAddress (&params)[2], std::uint32_t mxcsr, int digits = 8);

// ---- The page ----------------------------------------------------------

struct TReportData {
    std::string Message;
    std::string ClassText;
    TAddress Address = 0;
    int AddressDigits = 8;  // 16 in the 64-bit program
    std::uint32_t Flags = 0;
    std::uint32_t Version = 0;
    std::string System, Processor, Memory;
    std::string OpenGLVersion, Acceleration, Adapter;
    std::string Resolution;
    std::string Registers;
    std::uint32_t FaultCode = 0;
    std::uint32_t FaultParamCount = 0;
    TAddress FaultParams[2] = {0, 0};
    std::int32_t FrameValue = 0;
    std::string StackTrace;
    std::string StackDump;
};

constexpr std::uint32_t kAccessViolation = 0xC0000005u;

// Appends the whole report page, every line ended by "\r\n". The form
// posts to `formAction`; every other inserted text is escaped.
void BuildReportPage(const TReportData& data, const char* formAction, std::string& out);

// ---- Where the report goes ---------------------------------------------

// "<appData>\Quorvane", or the installation folder when appData is empty.
std::string ReportFolder(const std::string& appData, const std::string& installPath);

struct TReportPathChoice {
    std::string Path;
    bool Exists = false;  // true only when all numbered tries were taken
};

constexpr int kReportNameTries = 10000;

// "<folder>\BugReport.html", or while that exists "<folder>\BugReport<n>.html"
// with n = Round(random() * 9999), at most 10000 times; the last
// candidate is kept even if it exists. `random` yields values in [0, 1).
TReportPathChoice ChooseReportPath(const std::string& folder,
                                   const std::function<bool(const std::string&)>& exists,
                                   const std::function<double()>& random);
