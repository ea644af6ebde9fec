#include "diag/report_text.h"

#include <cmath>
#include <cstring>

#include "base/exception.h"

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string UnqualifiedName(std::string_view name) {
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '<' || c == '(') ++depth;
        if ((c == '>' || c == ')') && depth > 0) --depth;
        if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') start = i + 2;
    }
    return std::string(name.substr(start));
}

void AppendHex(std::string& out, std::uint64_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

void AppendHex8(std::string& out, std::uint32_t value) {
    AppendHex(out, value, 8);
}

std::string Hex8(std::uint32_t value) {
    std::string out;
    AppendHex8(out, value);
    return out;
}

std::string HexAddress(TAddress value, int digits) {
    std::string out;
    AppendHex(out, value, digits);
    return out;
}

std::string VersionText(std::uint32_t version) {
    return std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF) + "." +
           std::to_string((version >> 8) & 0xFF) + "." + std::to_string(version & 0xFF);
}

std::string FormatRegisters(const TRegisterValues& regs) {
    const struct {
        const char* name;
        std::uint32_t value;
    } fields[] = {{"EAX=", regs.Eax},  {" EBX=", regs.Ebx}, {" ECX=", regs.Ecx}, {" EDX=", regs.Edx},
                  {" ESI=", regs.Esi}, {" EDI=", regs.Edi}, {" EBP=", regs.Ebp}, {" ESP=", regs.Esp}};
    std::string out;
    for (const auto& f : fields) {
        out += f.name;
        AppendHex8(out, f.value);
    }
    return out;
}

std::string FormatRegisters(const TRegisterValues64& regs) {
    const struct {
        const char* name;
        std::uint64_t value;
    } fields[] = {{"RAX=", regs.Rax}, {"RBX=", regs.Rbx}, {"RCX=", regs.Rcx}, {"RDX=", regs.Rdx},
                  {"RSI=", regs.Rsi}, {"RDI=", regs.Rdi}, {"RBP=", regs.Rbp}, {"RSP=", regs.Rsp},
                  {"R8=", regs.R8},   {"R9=", regs.R9},   {"R10=", regs.R10}, {"R11=", regs.R11},
                  {"R12=", regs.R12}, {"R13=", regs.R13}, {"R14=", regs.R14}, {"R15=", regs.R15},
                  {"RIP=", regs.Rip}};
    // Four to a line keeps each line inside the report's 60-column text area
    // as far as 16-digit values allow.
    std::string out;
    int column = 0;
    for (const auto& f : fields) {
        if (column == 4) {
            out += "\r\n";
            column = 0;
        } else if (column > 0) {
            out += ' ';
        }
        out += f.name;
        AppendHex(out, f.value, 16);
        ++column;
    }
    return out;
}

// ---- Module table ------------------------------------------------------

void TModuleTable::Clear() {
    count_ = 0;
    built_ = false;
}

bool TModuleTable::Add(TAddress codeStart, TAddress codeEnd, std::string_view name) {
    if (count_ >= kCapacity) return false;
    TModuleInfo& m = entries_[count_++];
    m.CodeStart = codeStart;
    m.CodeEnd = codeEnd;
    std::size_t n = name.size() < sizeof(m.Name) - 1 ? name.size() : sizeof(m.Name) - 1;
    std::memcpy(m.Name, name.data(), n);
    m.Name[n] = '\0';
    return true;
}

bool TModuleTable::InCode(TAddress address) const {
    for (std::size_t i = 0; i < count_; ++i) {
        if (address >= entries_[i].CodeStart && address < entries_[i].CodeEnd) return true;
    }
    return false;
}

namespace {

bool ReadU32(const TMemoryReader& memory, TAddress address, std::uint32_t& value) {
    std::uint8_t b[4];
    if (!memory.Read(address, b, 4)) return false;
    value = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
            std::uint32_t(b[3]) << 24;
    return true;
}

}  // namespace

TCodeRange ModuleCodeRange(const TMemoryReader& memory, TAddress base) {
    std::uint8_t mz[2];
    std::uint32_t peOffset = 0;
    if (!memory.Read(base, mz, 2) || mz[0] != 'M' || mz[1] != 'Z' || !ReadU32(memory, base + 0x3C, peOffset))
        throw Exception("Not a valid MZ-file!");
    const TAddress pe = base + peOffset;
    std::uint8_t sig[4];
    if (!memory.Read(pe, sig, 4) || sig[0] != 'P' || sig[1] != 'E' || sig[2] != 0 || sig[3] != 0)
        throw Exception("Not a valid PE-file!");
    // The optional header follows the 4-byte signature and the 20-byte file header.
    const TAddress optional = pe + 24;
    std::uint32_t sizeOfCode = 0, baseOfCode = 0;
    if (!ReadU32(memory, optional + 4, sizeOfCode) || !ReadU32(memory, optional + 20, baseOfCode))
        throw Exception("Not a valid PE-file!");
    TCodeRange r;
    r.Start = base + baseOfCode;
    r.End = r.Start + sizeOfCode;
    return r;
}

// ---- Stack trace -------------------------------------------------------

int CallInstructionLength(const std::uint8_t (&bytes)[8]) {
    // b(-k) is bytes[8 - k]. An indirect call is FF with /2 in the ModR/M byte.
    auto b = [&](int k) { return bytes[8 - k]; };
    auto indirectAt = [&](int k) { return b(k) == 0xFF && ((b(k - 1) >> 3) & 7) == 2; };
    if (b(5) == 0xE8) return 5;
    for (int k : {2, 3, 4, 6, 7}) {
        if (indirectAt(k)) return k;
    }
    return 0;
}

TAddress CallAddress(TAddress returnAddress, const TMemoryReader& memory, const TModuleTable& modules) {
    if (returnAddress <= 8 || !modules.InCode(returnAddress - 8)) return returnAddress;
    std::uint8_t bytes[8];
    if (!memory.Read(returnAddress - 8, bytes, 8)) return returnAddress;
    return returnAddress - TAddress(CallInstructionLength(bytes));
}

void WalkFrames(TAddress startFrame, TAddress stackTop, const TMemoryReader& memory,
                const TModuleTable& modules, std::string& out, std::size_t maxChars) {
    const TAddress lower = startFrame - 1;
    auto usable = [&](TAddress f) { return f > lower && f < stackTop; };
    TAddress frame = startFrame;
    while (usable(frame)) {
        std::uint32_t saved = 0, ret = 0;
        if (!ReadU32(memory, frame, saved) || !ReadU32(memory, frame + 4, ret)) break;
        if (modules.InCode(ret) && usable(saved)) {
            if (out.size() + 10 > maxChars) break;
            AppendHex8(out, std::uint32_t(CallAddress(ret, memory, modules)));
            out += "\r\n";
        }
        if (saved <= frame) break;
        frame = saved;
    }
}

void AppendTraceLines(const TAddress* returnAddresses, std::size_t count, const TMemoryReader& memory,
                      const TModuleTable& modules, int digits, std::string& out, std::size_t maxChars) {
    for (std::size_t i = 0; i < count; ++i) {
        const TAddress ret = returnAddresses[i];
        if (!modules.InCode(ret)) continue;
        if (out.size() + std::size_t(digits) + 2 > maxChars) break;
        AppendHex(out, CallAddress(ret, memory, modules), digits);
        out += "\r\n";
    }
}

// ---- Raw stack dump ----------------------------------------------------

void AppendDumpLine(std::string& out, const std::uint8_t (&bytes)[16]) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        if (i == 8) out += "- ";
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
        if (i != 15) out += ' ';
    }
    out += "\r\n";
}

void FormatStackDump(TAddress start, const TMemoryReader& memory, std::string& out) {
    for (int line = 0; line < kDumpLines; ++line) {
        std::uint8_t bytes[16];
        if (!memory.Read(start + TAddress(line) * 16, bytes, 16)) break;
        AppendDumpLine(out, bytes);
    }
}

// ---- Operating-system faults -------------------------------------------

TFaultText DescribeFault(std::uint32_t code, TAddress address, std::uint32_t paramCount,
                         const TAddress (&params)[2], std::uint32_t mxcsr, int digits) {
    switch (code) {
    case kAccessViolation: {
        std::string m = "Access violation at address " + HexAddress(address, digits);
        if (paramCount >= 2)
            m += std::string(params[0] == 0 ? ": read from " : ": write to ") + HexAddress(params[1], digits);
        return {m, "EAccessViolation"};
    }
    case 0xC0000094u:
        return {"Integer division by zero", "EDivByZero"};
    case 0xC0000095u:
        return {"Integer overflow", "EIntOverflow"};
    case 0xC000008Eu:
        return {"Floating point division by zero", "EZeroDivide"};
    case 0xC0000091u:
        return {"Floating point overflow", "EOverflow"};
    case 0xC0000093u:
        return {"Floating point underflow", "EUnderflow"};
    case 0xC000008Du:
    case 0xC000008Fu:
    case 0xC0000090u:
    case 0xC0000092u:
        return {"Invalid floating point operation", "EInvalidOp"};
    case 0xC00002B4u:
    case 0xC00002B5u:
        // SSE traps share one code; the status word says which one fired.
        if (mxcsr & 0x04) return {"Floating point division by zero", "EZeroDivide"};
        if (mxcsr & 0x08) return {"Floating point overflow", "EOverflow"};
        if (mxcsr & 0x10) return {"Floating point underflow", "EUnderflow"};
        return {"Invalid floating point operation", "EInvalidOp"};
    case 0xC00000FDu:
        return {"Stack overflow", "EStackOverflow"};
    case 0xC0000096u:
        return {"Privileged instruction", "EPrivilege"};
    case 0xC000001Du:
        return {"Illegal instruction at address " + HexAddress(address, digits), "EExternalException"};
    default:
        return {"Processor exception " + Hex8(code) + " at address " + HexAddress(address, digits),
                "EExternalException"};
    }
}

// ---- The page ----------------------------------------------------------

namespace {

void Line(std::string& out, std::string_view text) {
    out += text;
    out += "\r\n";
}

void Field(std::string& out, const char* caption, std::string_view value) {
    out += caption;
    out += HtmlEscape(value);
    out += "\r\n";
}

}  // namespace

void BuildReportPage(const TReportData& d, const char* formAction, std::string& out) {
    Line(out, "<html><head><title>Exception report: Quorvane</title></head><BODY>");
    Line(out, "Exception occured in Quorvane. This form help you to send report to developer.<BR><BR>");
    out += "<FORM action=\"";
    out += formAction;
    Line(out, "\" method=post>");
    Line(out, "Contact email (optional):<BR><INPUT id=email size=47 name=email><BR><BR>");
    Line(out, "Exception information: (do not edit)<BR>");
    Line(out, "<TEXTAREA id=message name=message rows=11 wrap=PHYSICAL cols=60>");
    Field(out, "Exception: ", d.Message);
    Field(out, "Exception class: ", d.ClassText);
    Field(out, "Exception address: ", HexAddress(d.Address, d.AddressDigits));
    Field(out, "App mode: ", std::to_string(d.Flags));
    Field(out, "App version: ", VersionText(d.Version));
    Field(out, "System: ", d.System);
    Field(out, "Processor: ", d.Processor);
    Field(out, "Memory: ", d.Memory);
    // Errors caught by the entry or the loader happen away from the render
    // thread's context, so its OpenGL facts would be empty or misleading.
    if ((d.Flags & (0x20 | 0x40)) == 0) {
        Field(out, "OpenGL version: ", d.OpenGLVersion);
        Field(out, "Hardware Aceleration: ", d.Acceleration);
        Field(out, "Graphics Accelerator: ", d.Adapter);
    }
    Field(out, "Resolution: ", d.Resolution);
    Line(out, "");
    Line(out, "Registers:");
    Line(out, HtmlEscape(d.Registers));
    Line(out, "");
    if (d.FaultCode == kAccessViolation) {
        out += "ExceptionInfo: Error when ";
        out += d.FaultParams[0] == 0 ? "read from " : "write to ";
        AppendHex(out, d.FaultParams[1], d.AddressDigits);
        out += "\r\n";
    }
    if (d.FrameValue != 0) Field(out, "Frame: ", Hex8(std::uint32_t(d.FrameValue)));
    Field(out, "StackTrace: ", d.StackTrace);
    Line(out, "");
    out += "Raw stack dump: \r\n";
    Line(out, HtmlEscape(d.StackDump));
    Line(out, "");
    Line(out, "");
    Line(out, "</TEXTAREA><BR><BR>");
    Line(out, "");
    Line(out, "");
    Line(out, "<INPUT type=submit value=\"Send Report\" name=Submit>");
    Line(out, "</FORM>");
    Line(out, "</BODY></html>");
}

// ---- Where the report goes ---------------------------------------------

std::string ReportFolder(const std::string& appData, const std::string& installPath) {
    if (appData.empty()) return installPath;
    return appData + "\\Quorvane";
}

TReportPathChoice ChooseReportPath(const std::string& folder,
                                   const std::function<bool(const std::string&)>& exists,
                                   const std::function<double()>& random) {
    TReportPathChoice choice;
    choice.Path = folder + "\\BugReport.html";
    choice.Exists = exists(choice.Path);
    for (int tries = 0; choice.Exists && tries < kReportNameTries; ++tries) {
        // Halves go to the even neighbour.
        long n = std::lrint(random() * 9999.0);
        choice.Path = folder + "\\BugReport" + std::to_string(n) + ".html";
        choice.Exists = exists(choice.Path);
    }
    return choice;
}
