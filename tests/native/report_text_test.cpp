#include "diag/report_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <vector>

#include "base/exception.h"

namespace {

// A made-up address space: one readable block at `base`.
class TFakeMemory : public TMemoryReader {
public:
    TFakeMemory(TAddress base, std::size_t size) : base_(base), bytes_(size, 0) {}
    bool Read(TAddress address, void* out, std::size_t size) const override {
        if (address < base_ || address - base_ > bytes_.size() || size > bytes_.size() - (address - base_))
            return false;
        std::memcpy(out, bytes_.data() + (address - base_), size);
        return true;
    }
    void Put32(TAddress address, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[address - base_ + i] = std::uint8_t(v >> (8 * i));
    }
    void PutBytes(TAddress address, std::initializer_list<std::uint8_t> bytes) {
        std::size_t i = 0;
        for (std::uint8_t b : bytes) bytes_[address - base_ + i++] = b;
    }
    std::uint8_t& At(TAddress address) { return bytes_[address - base_]; }

private:
    TAddress base_;
    std::vector<std::uint8_t> bytes_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos - start));
    EXPECT_EQ(start, text.size()) << "text does not end with CR LF";
    return lines;
}

TReportData SampleReport() {
    TReportData d;
    d.Message = "Floating point division by zero";
    d.ClassText = "EZeroDivide";
    d.Address = 0x0040ABCD;
    d.Flags = 0x12;
    d.Version = 0x01010000;
    d.System = "Windows NT 6.1 Build: 7601 Service Pack 1";
    d.Processor = "2x Pentium III, 800 MHz";
    d.Memory = "100 of 512 MB";
    d.OpenGLVersion = "4.5 (Compatibility Profile) Mesa 22.3.6";
    d.Acceleration = "ICD";
    d.Adapter = "Mesa (llvmpipe)";
    d.Resolution = "1280x1024";
    d.Registers =
        "EAX=00000001 EBX=00000002 ECX=00000003 EDX=00000004 ESI=00000005 EDI=00000006 "
        "EBP=00000007 ESP=00000008";
    d.StackTrace = "\r\n00401000\r\n00402000\r\n";
    d.StackDump = "00 01 02 03 04 05 06 07 - 08 09 0A 0B 0C 0D 0E 0F\r\n";
    return d;
}

}  // namespace

// ---- Escaping ---------------------------------------------------------

TEST(ReportEscape, ReplacesTheFourMarkupCharacters) {
    EXPECT_EQ(HtmlEscape("a & b < c > d \"e\" 'f'"), "a &amp; b &lt; c &gt; d &quot;e&quot; 'f'");
    EXPECT_EQ(HtmlEscape("&amp;"), "&amp;amp;");
    EXPECT_EQ(HtmlEscape(""), "");
}

TEST(ReportClassName, DropsScopesButNotTemplateArguments) {
    EXPECT_EQ(UnqualifiedName("(anonymous namespace)::EZeroDivide"), "EZeroDivide");
    EXPECT_EQ(UnqualifiedName("EListError"), "EListError");
    EXPECT_EQ(UnqualifiedName("a::b::TOuter::EInner"), "EInner");
    EXPECT_EQ(UnqualifiedName("ns::EBox<std::pair<int, ns::T>>"), "EBox<std::pair<int, ns::T>>");
    EXPECT_EQ(UnqualifiedName("::"), "");
    EXPECT_EQ(UnqualifiedName(""), "");
}

TEST(ReportEscape, NoInsertedTextCanCloseTheTextArea) {
    TReportData d = SampleReport();
    d.Message = "</TEXTAREA><script>alert(1)</script>";
    d.ClassText = "T<x>";
    d.System = "Sys \"quoted\" & more";
    d.Adapter = "</TEXTAREA>";
    std::string page;
    BuildReportPage(d, "https://site.example/bugreport.php", page);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    std::size_t first = page.find("</TEXTAREA>");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(page.find("</TEXTAREA>", first + 1), std::string::npos) << "only the page's own end tag";
    EXPECT_NE(page.find("Exception: &lt;/TEXTAREA&gt;&lt;script&gt;alert(1)&lt;/script&gt;\r\n"),
              std::string::npos);
    EXPECT_NE(page.find("Exception class: T&lt;x&gt;\r\n"), std::string::npos);
    EXPECT_NE(page.find("System: Sys &quot;quoted&quot; &amp; more\r\n"), std::string::npos);
}

// ---- Page lines -------------------------------------------------------

TEST(ReportPage, LinesInOrderForAFrameError) {
    TReportData d = SampleReport();
    d.FaultCode = kAccessViolation;
    d.FaultParamCount = 2;
    d.FaultParams[0] = 1;
    d.FaultParams[1] = 0;
    d.FrameValue = -2;
    std::string page;
    BuildReportPage(d, "https://www.quorvane.example/bugreport.php", page);
    const std::vector<std::string> expected = {
        "<html><head><title>Exception report: Quorvane</title></head><BODY>",
        "Exception occured in Quorvane. This form help you to send report to developer.<BR><BR>",
        "<FORM action=\"https://www.quorvane.example/bugreport.php\" method=post>",
        "Contact email (optional):<BR><INPUT id=email size=47 name=email><BR><BR>",
        "Exception information: (do not edit)<BR>",
        "<TEXTAREA id=message name=message rows=11 wrap=PHYSICAL cols=60>",
        "Exception: Floating point division by zero",
        "Exception class: EZeroDivide",
        "Exception address: 0040ABCD",
        "App mode: 18",
        "App version: 1.1.0.0",
        "System: Windows NT 6.1 Build: 7601 Service Pack 1",
        "Processor: 2x Pentium III, 800 MHz",
        "Memory: 100 of 512 MB",
        "OpenGL version: 4.5 (Compatibility Profile) Mesa 22.3.6",
        "Hardware Aceleration: ICD",
        "Graphics Accelerator: Mesa (llvmpipe)",
        "Resolution: 1280x1024",
        "",
        "Registers:",
        "EAX=00000001 EBX=00000002 ECX=00000003 EDX=00000004 ESI=00000005 EDI=00000006 EBP=00000007 "
        "ESP=00000008",
        "",
        "ExceptionInfo: Error when write to 00000000",
        "Frame: FFFFFFFE",
        "StackTrace: ",
        "00401000",
        "00402000",
        "",
        "",
        "Raw stack dump: ",
        "00 01 02 03 04 05 06 07 - 08 09 0A 0B 0C 0D 0E 0F",
        "",
        "",
        "",
        "</TEXTAREA><BR><BR>",
        "",
        "",
        "<INPUT type=submit value=\"Send Report\" name=Submit>",
        "</FORM>",
        "</BODY></html>",
    };
    EXPECT_EQ(Lines(page), expected);
}

TEST(ReportPage, EntryAndLoaderErrorsHaveNoOpenGLLines) {
    for (std::uint32_t extra : {0x20u, 0x40u, 0x60u}) {
        TReportData d = SampleReport();
        d.Flags = 0x02 | extra;
        std::string page;
        BuildReportPage(d, "x", page);
        EXPECT_EQ(page.find("OpenGL version: "), std::string::npos) << extra;
        EXPECT_EQ(page.find("Hardware Aceleration: "), std::string::npos) << extra;
        EXPECT_EQ(page.find("Graphics Accelerator: "), std::string::npos) << extra;
        EXPECT_NE(page.find("Memory: 100 of 512 MB\r\nResolution: 1280x1024\r\n"), std::string::npos);
    }
    // A thread-top error (0x100) and a frame error keep them.
    TReportData d = SampleReport();
    d.Flags = 0x112;
    std::string page;
    BuildReportPage(d, "x", page);
    EXPECT_NE(page.find("App mode: 274\r\n"), std::string::npos);
    EXPECT_NE(page.find("Hardware Aceleration: ICD\r\n"), std::string::npos);
}

TEST(ReportPage, FaultAndFrameLinesOnlyWhenTheyApply) {
    TReportData d = SampleReport();
    std::string page;
    BuildReportPage(d, "x", page);
    EXPECT_EQ(page.find("ExceptionInfo"), std::string::npos);
    EXPECT_EQ(page.find("Frame: "), std::string::npos);

    d.FaultCode = kAccessViolation;
    d.FaultParams[0] = 0;
    d.FaultParams[1] = 0xDEADBEEF;
    d.FrameValue = 0x0012FF40;
    page.clear();
    BuildReportPage(d, "x", page);
    EXPECT_NE(
        page.find("\r\n\r\nExceptionInfo: Error when read from DEADBEEF\r\nFrame: 0012FF40\r\nStackTrace: "),
        std::string::npos);

    d.FaultCode = 0xC0000094;  // another fault code: no access line
    page.clear();
    BuildReportPage(d, "x", page);
    EXPECT_EQ(page.find("ExceptionInfo"), std::string::npos);
}

TEST(ReportText, RegistersVersionAndHex) {
    TRegisterValues r;
    r.Eax = 0xDEADBEEF;
    r.Esp = 0x0012FF00;
    r.Ebp = 0xA;
    EXPECT_EQ(FormatRegisters(r),
              "EAX=DEADBEEF EBX=00000000 ECX=00000000 EDX=00000000 ESI=00000000 EDI=00000000 EBP=0000000A "
              "ESP=0012FF00");
    EXPECT_EQ(VersionText(0x01010000), "1.1.0.0");
    EXPECT_EQ(VersionText(0xFF0A0302), "255.10.3.2");
    EXPECT_EQ(HexAddress(0x00007FF6DEADBEEFull, 16), "00007FF6DEADBEEF");
    EXPECT_EQ(HexAddress(0x12345678ull, 8), "12345678");
}

TEST(ReportText, SixtyFourBitRegistersFourToALine) {
    TRegisterValues64 r;
    r.Rax = 0xFFFFFFFF00000001ull;
    r.Rsp = 0x000000000022FE10ull;
    r.R8 = 8;
    r.R15 = 0xF;
    r.Rip = 0x00007FF600001234ull;
    const std::string z = "0000000000000000";
    EXPECT_EQ(FormatRegisters(r),
              "RAX=FFFFFFFF00000001 RBX=" + z + " RCX=" + z + " RDX=" + z + "\r\n" +  //
                  "RSI=" + z + " RDI=" + z + " RBP=" + z + " RSP=000000000022FE10\r\n" +
                  "R8=0000000000000008 R9=" + z + " R10=" + z + " R11=" + z + "\r\n" +  //
                  "R12=" + z + " R13=" + z + " R14=" + z + " R15=000000000000000F\r\n" +
                  "RIP=00007FF600001234");
}

TEST(ReportText, SixtyFourBitAddressesKeepTheirHighHalf) {
    // A value cut to 32 bits would read 00401234 and 00000000.
    TReportData d = SampleReport();
    d.Address = 0x0000000140001234ull;
    d.AddressDigits = 16;
    d.FaultCode = kAccessViolation;
    d.FaultParams[0] = 0;
    d.FaultParams[1] = 0x00000001DEADBEEFull;
    std::string page;
    BuildReportPage(d, "x", page);
    EXPECT_NE(page.find("\r\nException address: 0000000140001234\r\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\r\nExceptionInfo: Error when read from 00000001DEADBEEF\r\n"), std::string::npos);
}

// ---- Raw stack dump ---------------------------------------------------

TEST(StackDump, TwentyLinesOfSixteenBytes) {
    TFakeMemory mem(0x1000, 0x1000);
    for (std::uint32_t i = 0; i < 0x1000; ++i) mem.At(0x1000 + i) = std::uint8_t(i * 7);
    std::string dump;
    FormatStackDump(0x1010, mem, dump);
    std::vector<std::string> lines = Lines(dump);
    ASSERT_EQ(lines.size(), 20u);
    // Bytes 0x10 * 7 = 0x70 onward, modulo 256.
    EXPECT_EQ(lines[0], "70 77 7E 85 8C 93 9A A1 - A8 AF B6 BD C4 CB D2 D9");
    for (const std::string& l : lines) EXPECT_EQ(l.size(), 49u);
}

TEST(StackDump, UnreadableMemoryEndsTheDump) {
    TFakeMemory mem(0x1000, 0x38);  // three whole lines and half of a fourth
    std::string dump;
    FormatStackDump(0x1000, mem, dump);
    EXPECT_EQ(Lines(dump).size(), 3u);
    std::string none;
    FormatStackDump(0, mem, none);
    EXPECT_EQ(none, "");
}

// ---- Call recognition -------------------------------------------------

TEST(CallRecognition, DirectAndEveryIndirectForm) {
    struct Case {
        std::vector<std::uint8_t> tail;  // bytes just before the return address
        int length;
    };
    const Case cases[] = {
        {{0xE8, 0x10, 0x20, 0x30, 0x40}, 5},              // call rel32
        {{0xFF, 0xD0}, 2},                                // call eax
        {{0xFF, 0x55, 0x08}, 3},                          // call [ebp+8]
        {{0xFF, 0x54, 0x24, 0x04}, 4},                    // call [esp+4]
        {{0xFF, 0x15, 0x00, 0x10, 0x40, 0x00}, 6},        // call [abs32]
        {{0xFF, 0x94, 0x24, 0x00, 0x01, 0x00, 0x00}, 7},  // call [esp+disp32]
        {{0xFF, 0xE0}, 0},                                // jmp eax is not a call
        {{0x90, 0x90}, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t bytes[8] = {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90};
        std::memcpy(bytes + 8 - c.tail.size(), c.tail.data(), c.tail.size());
        EXPECT_EQ(CallInstructionLength(bytes), c.length) << "tail of " << c.tail.size();
    }
}

TEST(CallRecognition, TestOrderDecidesAmbiguousBytes) {
    // E8 at -5 wins over an indirect form at -2.
    std::uint8_t a[8] = {0, 0, 0, 0xE8, 0, 0, 0xFF, 0xD0};
    EXPECT_EQ(CallInstructionLength(a), 5);
    // Indirect at -3 is tested before -6.
    std::uint8_t b[8] = {0, 0, 0xFF, 0x15, 0, 0xFF, 0x55, 0};
    EXPECT_EQ(CallInstructionLength(b), 3);
}

// ---- Module headers ---------------------------------------------------

namespace {

void MakeImage(TFakeMemory& mem, TAddress base, std::uint32_t baseOfCode, std::uint32_t sizeOfCode) {
    mem.PutBytes(base, {'M', 'Z'});
    mem.Put32(base + 0x3C, 0x80);
    mem.PutBytes(base + 0x80, {'P', 'E', 0, 0});
    mem.Put32(base + 0x80 + 24 + 4, sizeOfCode);
    mem.Put32(base + 0x80 + 24 + 20, baseOfCode);
}

}  // namespace

TEST(ModuleTable, CodeRangeFromPeHeaders) {
    TFakeMemory mem(0x400000, 0x400);
    MakeImage(mem, 0x400000, 0x1000, 0x2345);
    TCodeRange r = ModuleCodeRange(mem, 0x400000);
    EXPECT_EQ(r.Start, 0x401000u);
    EXPECT_EQ(r.End, 0x403345u);
}

TEST(ModuleTable, CodeRangeOfAnImageAboveFourGigabytes) {
    const TAddress base = 0x00007FF612340000ull;
    TFakeMemory mem(base, 0x400);
    MakeImage(mem, base, 0x1000, 0x2345);
    TCodeRange r = ModuleCodeRange(mem, base);
    EXPECT_EQ(r.Start, base + 0x1000);
    EXPECT_EQ(r.End, base + 0x3345);
    TModuleTable t;
    t.Add(r.Start, r.End, "mainexe");
    EXPECT_TRUE(t.InCode(base + 0x1000));
    EXPECT_FALSE(t.InCode(0x12341000u));  // the same low half, 4 GiB lower
}

TEST(ModuleTable, BadHeadersGiveTheirMessages) {
    TFakeMemory mem(0x400000, 0x400);
    MakeImage(mem, 0x400000, 0x1000, 0x100);
    mem.At(0x400001) = 'X';
    try {
        ModuleCodeRange(mem, 0x400000);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Not a valid MZ-file!");
    }
    mem.At(0x400001) = 'Z';
    mem.At(0x400082) = 1;
    try {
        ModuleCodeRange(mem, 0x400000);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Not a valid PE-file!");
    }
    mem.Put32(0x40003C, 0x7FFFFFF0);  // header offset out of the image
    EXPECT_THROW(ModuleCodeRange(mem, 0x400000), Exception);
    EXPECT_THROW(ModuleCodeRange(mem, 0x10), Exception);  // unreadable image
}

TEST(ModuleTable, HoldsTwentyOneEntriesAndCutsLongNames) {
    TModuleTable t;
    for (std::uint32_t i = 0; i < 21; ++i) EXPECT_TRUE(t.Add(i * 0x100, i * 0x100 + 0x80, "m"));
    EXPECT_FALSE(t.Add(0x9000, 0x9100, "extra"));
    EXPECT_TRUE(t.InCode(0x100));
    EXPECT_TRUE(t.InCode(0x17F));
    EXPECT_FALSE(t.InCode(0x180));
    EXPECT_FALSE(t.InCode(0x9000));
    t.Clear();
    EXPECT_TRUE(t.Add(0, 1, std::string(300, 'a')));
    EXPECT_EQ(std::strlen(t.At(0).Name), sizeof(t.At(0).Name) - 1);
}

// ---- Frame walk -------------------------------------------------------

namespace {

// Stack 0x10000..0x10400, code 0x401000..0x402000.
struct TFakeProcess {
    TFakeMemory stack{0x10000, 0x400};
    TFakeMemory code{0x401000, 0x1000};
    TModuleTable modules;
    struct Both : TMemoryReader {
        const TFakeProcess* p;
        bool Read(TAddress a, void* out, std::size_t n) const override {
            return p->stack.Read(a, out, n) || p->code.Read(a, out, n);
        }
    } memory;
    TFakeProcess() {
        modules.Add(0x401000, 0x402000, "mainexe");
        memory.p = this;
    }
    void Frame(TAddress at, std::uint32_t saved, std::uint32_t ret) {
        stack.Put32(at, saved);
        stack.Put32(at + 4, ret);
    }
};

}  // namespace

TEST(FrameWalk, FollowsTheChainAndNamesCallSites) {
    TFakeProcess p;
    p.code.PutBytes(0x401100 - 5, {0xE8, 1, 2, 3, 4});  // direct call before 0x401100
    p.code.PutBytes(0x401200 - 2, {0xFF, 0xD2});        // call edx before 0x401200
    p.Frame(0x10100, 0x10140, 0x401100);
    p.Frame(0x10140, 0x10180, 0x00777777);  // return outside code: skipped
    p.Frame(0x10180, 0x101C0, 0x401200);
    p.Frame(0x101C0, 0x101F0, 0x401300);  // no call recognised: the return address itself
    p.Frame(0x101F0, 0, 0x401400);        // saved pointer unusable: skipped, walk ends
    std::string out;
    WalkFrames(0x10100, 0x10400, p.memory, p.modules, out, 1 << 16);
    EXPECT_EQ(out, "004010FB\r\n004011FE\r\n00401300\r\n");
}

TEST(FrameWalk, EndsOnCyclesBoundsAndCapacity) {
    TFakeProcess p;
    p.Frame(0x10100, 0x10140, 0x401100);
    p.Frame(0x10140, 0x10100, 0x401200);  // points back down: a cycle
    std::string out;
    WalkFrames(0x10100, 0x10400, p.memory, p.modules, out, 1 << 16);
    EXPECT_EQ(out, "00401100\r\n00401200\r\n");

    out.clear();
    WalkFrames(0x10100, 0x10100, p.memory, p.modules, out, 1 << 16);  // start at the stack top
    EXPECT_EQ(out, "");

    for (std::uint32_t f = 0x10000; f < 0x103F0; f += 0x10) p.Frame(f, f + 0x10, 0x401500);
    out.clear();
    WalkFrames(0x10000, 0x10400, p.memory, p.modules, out, 35);
    EXPECT_EQ(out, "00401500\r\n00401500\r\n00401500\r\n");
}

// ---- Unwound trace ----------------------------------------------------

TEST(UnwoundTrace, NamesCallSitesOfReturnAddressesInCode) {
    const TAddress code = 0x00007FF600001000ull;
    TFakeMemory mem(code, 0x1000);
    TModuleTable modules;
    modules.Add(code, code + 0x1000, "mainexe");
    mem.PutBytes(code + 0x100 - 5, {0xE8, 1, 2, 3, 4});  // call rel32
    mem.PutBytes(code + 0x200 - 6, {0xFF, 0x15, 0, 0, 0, 0});  // call [rip+disp32]
    const TAddress returns[] = {code + 0x100, 0x00007FFA00001000ull /* a system library */, code + 0x200,
                                code + 0x300 /* no call before it */};
    std::string out = "x";
    AppendTraceLines(returns, 4, mem, modules, 16, out, 1 << 16);
    EXPECT_EQ(out, "x00007FF6000010FB\r\n00007FF6000011FA\r\n00007FF600001300\r\n");
    // Capacity counts whole lines.
    out.clear();
    AppendTraceLines(returns, 4, mem, modules, 16, out, 35);
    EXPECT_EQ(out, "00007FF6000010FB\r\n");
    out.clear();
    AppendTraceLines(returns, 0, mem, modules, 16, out, 1 << 16);
    EXPECT_EQ(out, "");
}

// ---- Report path ------------------------------------------------------

TEST(ReportPath, FolderFromAppDataOrInstallation) {
    EXPECT_EQ(ReportFolder("C:\\Users\\u\\AppData", "C:\\Prog"), "C:\\Users\\u\\AppData\\Quorvane");
    EXPECT_EQ(ReportFolder("", "C:\\Prog"), "C:\\Prog");
}

TEST(ReportPath, FirstFreeNameWins) {
    std::set<std::string> existing;
    int draws = 0;
    auto exists = [&](const std::string& p) { return existing.count(p) > 0; };
    auto random = [&] {
        ++draws;
        return 0.5;
    };
    TReportPathChoice c = ChooseReportPath("F", exists, random);
    EXPECT_EQ(c.Path, "F\\BugReport.html");
    EXPECT_FALSE(c.Exists);
    EXPECT_EQ(draws, 0);

    existing.insert("F\\BugReport.html");
    c = ChooseReportPath("F", exists, random);
    EXPECT_EQ(c.Path, "F\\BugReport5000.html");  // 4999.5 rounds to the even 5000
    EXPECT_FALSE(c.Exists);

    // Numbers span 0 to 9999.
    std::vector<double> values = {0.0, 0.99999999};
    std::size_t next = 0;
    existing.insert("F\\BugReport0.html");
    c = ChooseReportPath("F", exists, [&] { return values[next++]; });
    EXPECT_EQ(c.Path, "F\\BugReport9999.html");
}

TEST(ReportPath, GivesUpAfterTenThousandTries) {
    int draws = 0;
    TReportPathChoice c = ChooseReportPath(
        "F", [](const std::string&) { return true; },
        [&] {
            ++draws;
            return 0.25;
        });
    EXPECT_EQ(draws, 10000);
    EXPECT_EQ(c.Path, "F\\BugReport2500.html");
    EXPECT_TRUE(c.Exists);
}

// ---- Processor faults -------------------------------------------------

TEST(FaultText, AccessViolationAndSseDivision) {
    TAddress write0[2] = {1, 0};
    TFaultText t = DescribeFault(kAccessViolation, 0x00401234, 2, write0, 0);
    EXPECT_EQ(t.Message, "Access violation at address 00401234: write to 00000000");
    EXPECT_EQ(t.ClassText, "EAccessViolation");
    TAddress read64[2] = {0, 0x0000000200000010ull};
    EXPECT_EQ(DescribeFault(kAccessViolation, 0x0000000140001000ull, 2, read64, 0, 16).Message,
              "Access violation at address 0000000140001000: read from 0000000200000010");
    TAddress none[2] = {0, 0};
    EXPECT_EQ(DescribeFault(0xC00002B4, 0, 0, none, 0x1F80 | 0x04).Message,
              "Floating point division by zero");
    EXPECT_EQ(DescribeFault(0xC00002B4, 0, 0, none, 0x1F80 | 0x01).ClassText, "EInvalidOp");
    EXPECT_EQ(DescribeFault(0xC000008E, 0, 0, none, 0).ClassText, "EZeroDivide");
    EXPECT_EQ(DescribeFault(0xE0001234, 0x10, 0, none, 0).Message,
              "Processor exception E0001234 at address 00000010");
}
