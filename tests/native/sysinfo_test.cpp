#include "diag/sysinfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace {

// A processor described by its CPUID answers; unlisted levels read as zeros.
class TFakeCpu : public TCpuidSource {
public:
    bool hasCpuid = true;
    std::map<std::uint32_t, TCpuidRegs> levels;
    mutable std::map<std::uint32_t, int> queries;

    bool HasCpuid() const override { return hasCpuid; }
    TCpuidRegs Query(std::uint32_t leaf) const override {
        ++queries[leaf];
        auto it = levels.find(leaf);
        return it == levels.end() ? TCpuidRegs{} : it->second;
    }

    void Vendor(const char (&name)[13], std::uint32_t maxLevel) {
        TCpuidRegs r;
        r.Eax = maxLevel;
        std::memcpy(&r.Ebx, name, 4);
        std::memcpy(&r.Edx, name + 4, 4);
        std::memcpy(&r.Ecx, name + 8, 4);
        levels[0] = r;
    }
    void Signature(std::uint32_t leaf, int family, int model, int stepping, std::uint32_t features,
                   std::uint32_t ebx = 0) {
        TCpuidRegs r;
        r.Eax = std::uint32_t(family << 8 | model << 4 | stepping);
        r.Ebx = ebx;
        r.Edx = features;
        levels[leaf] = r;
    }
    void Brand(const std::string& text) {
        char buf[48] = {};
        std::memcpy(buf, text.data(), text.size() < 48 ? text.size() : 48);
        for (std::uint32_t i = 0; i < 3; ++i) {
            TCpuidRegs r;
            std::memcpy(&r.Eax, buf + 16 * i, 4);
            std::memcpy(&r.Ebx, buf + 16 * i + 4, 4);
            std::memcpy(&r.Ecx, buf + 16 * i + 8, 4);
            std::memcpy(&r.Edx, buf + 16 * i + 12, 4);
            levels[0x80000002u + i] = r;
        }
    }
};

std::string Name(std::uint8_t vendor, int family, int model, std::int32_t l2 = 512, int brand = 0,
                 int stepping = 0) {
    return CpuNameFor(vendor, family, model, stepping, l2, brand, "kept");
}

}  // namespace

TEST(CpuNames, IntelTable) {
    EXPECT_EQ(Name(kVendorIntel, 4, 1), "Intel 486DX Processor");
    EXPECT_EQ(Name(kVendorIntel, 4, 2), "Intel 486SX Processor");
    EXPECT_EQ(Name(kVendorIntel, 4, 3), "Intel DX2 Processor");
    EXPECT_EQ(Name(kVendorIntel, 4, 5), "Intel SX2 Processor");
    EXPECT_EQ(Name(kVendorIntel, 4, 7), "Write-Back Enhanced Intel DX2 Processor");
    EXPECT_EQ(Name(kVendorIntel, 4, 8), "Intel DX4 Processor");
    EXPECT_EQ(Name(kVendorIntel, 4, 4), "Intel 486 Processor");
    EXPECT_EQ(Name(kVendorIntel, 5, 9), "Pentium");
    EXPECT_EQ(Name(kVendorIntel, 6, 1), "Pentium Pro");
    EXPECT_EQ(Name(kVendorIntel, 6, 3), "Pentium II");
    EXPECT_EQ(Name(kVendorIntel, 6, 5, 0), "Celeron");
    EXPECT_EQ(Name(kVendorIntel, 6, 5, 1024), "Pentium II Xeon");
    EXPECT_EQ(Name(kVendorIntel, 6, 5, 2048), "Pentium II Xeon");
    EXPECT_EQ(Name(kVendorIntel, 6, 5, 512), "Pentium II");
    EXPECT_EQ(Name(kVendorIntel, 6, 6, 0), "Celeron");
    EXPECT_EQ(Name(kVendorIntel, 6, 6, 128), "Celeron");
    EXPECT_EQ(Name(kVendorIntel, 6, 6, 256), "Pentium II");
    EXPECT_EQ(Name(kVendorIntel, 6, 7, 1024), "Pentium III Xeon");
    EXPECT_EQ(Name(kVendorIntel, 6, 7, 512), "Pentium III");
    EXPECT_EQ(Name(kVendorIntel, 6, 8, 0, 1), "Celeron");
    EXPECT_EQ(Name(kVendorIntel, 6, 8, 0, 3), "Pentium III Xeon");
    EXPECT_EQ(Name(kVendorIntel, 6, 8, 0, 2), "Pentium III");
    EXPECT_EQ(Name(kVendorIntel, 6, 10), "Pentium III Xeon");
    EXPECT_EQ(Name(kVendorIntel, 6, 11), "Pentium III");
    EXPECT_EQ(Name(kVendorIntel, 6, 14), "P6 (Model 14)");
    EXPECT_EQ(Name(kVendorIntel, 15, 2, 0, 1), "Celeron");
    EXPECT_EQ(Name(kVendorIntel, 15, 2, 0, 14), "Xeon");
    EXPECT_EQ(Name(kVendorIntel, 15, 2, 0, 9), "Pentium 4");
    EXPECT_EQ(Name(kVendorIntel, 7, 3, 0, 0, 9), "Intel(Family:7 Model:3 Stepping:9)");
}

TEST(CpuNames, CyrixAndAmdTables) {
    EXPECT_EQ(Name(kVendorCyrix, 4, 0), "Cyrix MediaGX");
    EXPECT_EQ(Name(kVendorCyrix, 5, 2), "Cyrix 6x86");
    EXPECT_EQ(Name(kVendorCyrix, 5, 4), "Cyrix GXm");
    EXPECT_EQ(Name(kVendorCyrix, 5, 3), "kept");
    EXPECT_EQ(Name(kVendorCyrix, 6, 0), "6x86MX");
    EXPECT_EQ(Name(kVendorCyrix, 7, 0), "7x86");
    EXPECT_EQ(Name(kVendorAmd, 4, 3), "Am486(R) or Am5x86");
    for (int m = 0; m <= 3; ++m)
        EXPECT_EQ(Name(kVendorAmd, 5, m), "AMD-K5 (Model " + std::to_string(m) + ")");
    EXPECT_EQ(Name(kVendorAmd, 5, 6), "AMD-K6(R)");
    EXPECT_EQ(Name(kVendorAmd, 5, 7), "AMD-K6");
    EXPECT_EQ(Name(kVendorAmd, 5, 8), "AMD-K6(R) -2");
    EXPECT_EQ(Name(kVendorAmd, 5, 9), "AMD-K6(R) -3");
    EXPECT_EQ(Name(kVendorAmd, 5, 12), "Unknown AMD Model (12)");
    EXPECT_EQ(Name(kVendorAmd, 6, 4, 0, 0, 2), "AMD(Family:6 Model:4 Stepping:2)");
}

TEST(IdentifyCpu, IntelSignatureDescriptorsAndBrandIndex) {
    TFakeCpu cpu;
    cpu.Vendor("GenuineIntel", 2);
    cpu.Signature(1, 6, 8, 3, kFeatureTsc | 1, /*ebx brand index*/ 0x00000003);
    // Two level-2 calls; the first carries 0x41 (128 KB) which the second's
    // 0x44 (1024 KB) replaces; a register with bit 31 set is ignored.
    cpu.levels[2] = TCpuidRegs{0x00004102, 0x80000045, 0, 0};
    TCpuInfo info = IdentifyCpuFrom(cpu);
    EXPECT_EQ(cpu.queries[2], 2);
    EXPECT_EQ(info.Vendor, kVendorIntel);
    EXPECT_EQ(info.Family, 6);
    EXPECT_EQ(info.Model, 8);
    EXPECT_EQ(info.Stepping, 3);
    EXPECT_EQ(info.BrandIndex, 3);
    EXPECT_EQ(info.L2Cache, 128);
    EXPECT_EQ(info.CpuName, "Pentium III Xeon");
    EXPECT_TRUE(CanMeasureSpeed(info));

    cpu.levels[2] = TCpuidRegs{0x00000001, 0x00000044, 0, 0};
    cpu.Signature(1, 6, 5, 0, 0);
    info = IdentifyCpuFrom(cpu);
    EXPECT_EQ(info.L2Cache, 1024);
    EXPECT_EQ(info.CpuName, "Pentium II Xeon");
    EXPECT_FALSE(CanMeasureSpeed(info));
}

TEST(IdentifyCpu, AmdBrandStringIsCutTo47Characters) {
    TFakeCpu cpu;
    cpu.Vendor("AuthenticAMD", 1);
    cpu.levels[0x80000000u] = TCpuidRegs{0x80000008u, 0, 0, 0};
    cpu.Signature(0x80000001u, 15, 1, 2, kFeatureTsc);
    const std::string brand = "AMD Athlon(tm) 64 X2 Dual Core Processor 4800+ ABCDEFGH";
    cpu.Brand(brand);
    TCpuInfo info = IdentifyCpuFrom(cpu);
    EXPECT_EQ(info.Vendor, kVendorAmd);
    EXPECT_EQ(info.Family, 15);
    EXPECT_EQ(info.CpuName, brand.substr(0, 47));
    EXPECT_EQ(info.Features, kFeatureTsc);
    EXPECT_EQ(cpu.queries[0x80000005u], 1);

    cpu.Brand("AMD Athlon");
    EXPECT_EQ(IdentifyCpuFrom(cpu).CpuName, "AMD Athlon");
}

TEST(IdentifyCpu, AmdWithoutExtendedLevelsUsesTheTable) {
    TFakeCpu cpu;
    cpu.Vendor("AuthenticAMD", 1);
    cpu.levels[0x80000000u] = TCpuidRegs{0x80000000u, 0, 0, 0};
    cpu.Signature(1, 5, 8, 0, kFeatureTsc);
    TCpuInfo info = IdentifyCpuFrom(cpu);
    EXPECT_EQ(info.CpuName, "AMD-K6(R) -2");
    EXPECT_EQ(cpu.queries.count(0x80000001u), 0u);

    // Extended levels without a brand string fall back to the table too.
    cpu.levels[0x80000000u] = TCpuidRegs{0x80000001u, 0, 0, 0};
    cpu.Signature(0x80000001u, 5, 9, 0, 0);
    EXPECT_EQ(IdentifyCpuFrom(cpu).CpuName, "AMD-K6(R) -3");
}

TEST(IdentifyCpu, CyrixTransmetaAndOthers) {
    TFakeCpu cpu;
    cpu.Vendor("CyrixInstead", 1);
    cpu.Signature(1, 5, 3, 0, 0);
    EXPECT_EQ(IdentifyCpuFrom(cpu).CpuName, "");  // keeps the name it had: none
    cpu.Signature(1, 5, 4, 0, 0);
    EXPECT_EQ(IdentifyCpuFrom(cpu).CpuName, "Cyrix GXm");

    cpu.Vendor("GenuineTMx86", 1);
    TCpuInfo t = IdentifyCpuFrom(cpu);
    EXPECT_EQ(t.Vendor, kVendorTransmeta);
    EXPECT_EQ(t.CpuName, "Crusoe");

    cpu.Vendor("SomeOtherCPU", 1);
    TCpuInfo o = IdentifyCpuFrom(cpu);
    EXPECT_EQ(o.Vendor, kVendorUnknown);
    EXPECT_EQ(o.CpuName, "Unknown");

    cpu.hasCpuid = false;
    EXPECT_FALSE(IdentifyCpuFrom(cpu).HasCpuid);
}

// ---- Speed ------------------------------------------------------------

namespace {

// A performance counter at 1 MHz that advances one count per read, and a
// time-stamp counter that advances `cyclesPerCount` per counter count, with
// an optional wobble on the first passes.
class TFakeClock : public TSpeedClock {
public:
    std::int64_t frequency = 1000000;
    std::int64_t cyclesPerCount = 800;
    int wobblyPasses = 0;
    int passes = 0, raised = 0, restored = 0;
    std::int64_t Frequency() override { return frequency; }
    std::int64_t Counter() override { return ++counter_; }
    std::uint64_t TimeStamp() override {
        std::int64_t extra = passes < wobblyPasses ? (passes % 2 ? 40 : -40) : 0;
        return std::uint64_t(counter_ * (cyclesPerCount + extra));
    }
    void RaisePriority() override { ++raised; }
    void RestorePriority() override {
        ++restored;
        ++passes;
    }

private:
    std::int64_t counter_ = 1000;
};

}  // namespace

TEST(MeasureSpeed, SteadyClockSettlesAfterThreePasses) {
    TFakeClock clock;
    EXPECT_EQ(MeasureSpeed(clock), 800);
    EXPECT_EQ(clock.passes, 3);
    EXPECT_EQ(clock.raised, clock.restored);
}

TEST(MeasureSpeed, UnsteadyClockRunsUpToTwentyPasses) {
    TFakeClock clock;
    clock.wobblyPasses = 100;
    MeasureSpeed(clock);
    EXPECT_EQ(clock.passes, 20);

    TFakeClock settling;
    settling.wobblyPasses = 6;
    MeasureSpeed(settling);
    EXPECT_EQ(settling.passes, 6 + 3);
}

TEST(MeasureSpeed, NoPerformanceCounterGivesZero) {
    TFakeClock clock;
    clock.frequency = 0;
    EXPECT_EQ(MeasureSpeed(clock), 0);
    EXPECT_EQ(clock.raised, 0);
    EXPECT_EQ(ProcessorText(1, "Pentium", 0), "Pentium, 0 MHz");
}

TEST(MeasureSpeed, SettledRule) {
    const std::int64_t a[3] = {800, 801, 800};
    const std::int64_t b[3] = {800, 802, 800};
    const std::int64_t c[3] = {799, 801, 800};
    EXPECT_TRUE(SpeedSettled(a));   // 3*801 - 2401 = 2
    EXPECT_FALSE(SpeedSettled(b));  // 3*802 - 2402 = 4
    EXPECT_TRUE(SpeedSettled(c));   // 3*799 - 2400 = -3
}

// ---- Other texts ------------------------------------------------------

TEST(SystemTexts, PlatformsProcessorsMemoryDisplay) {
    EXPECT_EQ(SystemText(2, 6, 1, 7601, "Service Pack 1"), "Windows NT 6.1 Build: 7601 Service Pack 1");
    EXPECT_EQ(SystemText(1, 4, 10, 0x040A0B6E, "A "), "Windows 4.10 Build: 2926 A ");
    EXPECT_EQ(SystemText(2, 10, 0, 0x040A0B6E, ""), "Windows NT 10.0 Build: 67767150 ");
    EXPECT_EQ(ProcessorText(1, "Pentium III", 800), "Pentium III, 800 MHz");
    EXPECT_EQ(ProcessorText(2, "Pentium III", 800), "2x Pentium III, 800 MHz");
    EXPECT_EQ(ProcessorText(16, "X", 3000), "16x X, 3000 MHz");
    EXPECT_EQ(MemoryText(1048575, 3 * 1048576ull + 5), "0 of 3 MB");
    EXPECT_EQ(MemoryText(6000ull * 1048576, 8192ull * 1048576), "6000 of 8192 MB");
    EXPECT_EQ(AccelerationText(0x24), "ICD");
    EXPECT_EQ(AccelerationText(0x40 | 0x1000), "MCD");
    EXPECT_EQ(AccelerationText(0x40), "No");
    EXPECT_EQ(AccelerationText(0x1000), "No");
    EXPECT_EQ(AdapterText("Mesa", "llvmpipe (LLVM 15.0.6, 256 bits)"),
              "Mesa (llvmpipe (LLVM 15.0.6, 256 bits))");
    EXPECT_EQ(ResolutionText(0, 0), "0x0");
    EXPECT_EQ(ResolutionText(1280, 1024), "1280x1024");
}
