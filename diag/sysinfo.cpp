#include "diag/sysinfo.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

std::string VendorString(const TCpuidRegs& level0) {
    char text[13];
    std::memcpy(text, &level0.Ebx, 4);
    std::memcpy(text + 4, &level0.Edx, 4);
    std::memcpy(text + 8, &level0.Ecx, 4);
    text[12] = '\0';
    return text;
}

void ReadSignature(std::uint32_t signature, TCpuInfo& info) {
    info.Family = std::uint8_t((signature >> 8) & 0xF);
    info.Model = std::uint8_t((signature >> 4) & 0xF);
    info.Stepping = std::uint8_t(signature & 0xF);
}

// Second-level cache size of an Intel cache descriptor; -1 for any other.
int L2CacheOfDescriptor(std::uint8_t d) {
    static const int kSizes[] = {0, 128, 256, 512, 1024, 2048};
    if (d >= 0x40 && d <= 0x45) return kSizes[d - 0x40];
    return -1;
}

void ReadIntelLevels(const TCpuidSource& cpu, std::uint32_t maxLevel, TCpuInfo& info) {
    if (maxLevel < 1) return;
    TCpuidRegs l1 = cpu.Query(1);
    ReadSignature(l1.Eax, info);
    info.Features = l1.Edx;
    info.BrandIndex = std::uint8_t(l1.Ebx & 0xFF);
    if (maxLevel < 2) return;
    int calls = 1;
    for (int call = 0; call < calls; ++call) {
        TCpuidRegs l2 = cpu.Query(2);
        if (call == 0) calls = int(l2.Eax & 0xFF);
        const std::uint32_t regs[4] = {l2.Eax, l2.Ebx, l2.Ecx, l2.Edx};
        for (int r = 0; r < 4; ++r) {
            // Bit 31 set marks a register that holds no descriptors.
            if (regs[r] & 0x80000000u) continue;
            // The low byte of EAX is the call count, not a descriptor.
            for (int b = (r == 0 ? 1 : 0); b < 4; ++b) {
                int size = L2CacheOfDescriptor(std::uint8_t(regs[r] >> (8 * b)));
                if (size >= 0) info.L2Cache = size;
            }
        }
    }
}

// Brand string of extended levels 0x80000002..4, cut at its terminator.
std::string BrandString(const TCpuidSource& cpu) {
    char text[49];
    for (std::uint32_t i = 0; i < 3; ++i) {
        TCpuidRegs r = cpu.Query(0x80000002u + i);
        std::memcpy(text + 16 * i, &r.Eax, 4);
        std::memcpy(text + 16 * i + 4, &r.Ebx, 4);
        std::memcpy(text + 16 * i + 8, &r.Ecx, 4);
        std::memcpy(text + 16 * i + 12, &r.Edx, 4);
    }
    text[48] = '\0';
    return text;
}

// Names that vendor, family and model decide alone. A family's listed
// models come before its kAnyModel row, which names the rest.
constexpr int kAnyModel = -1;
struct TCpuName {
    std::uint8_t Vendor;
    int Family;
    int Model;
    const char* Name;
};
constexpr TCpuName kCpuNames[] = {
    {kVendorIntel, 4, 1, "Intel 486DX Processor"},
    {kVendorIntel, 4, 2, "Intel 486SX Processor"},
    {kVendorIntel, 4, 3, "Intel DX2 Processor"},
    {kVendorIntel, 4, 5, "Intel SX2 Processor"},
    {kVendorIntel, 4, 7, "Write-Back Enhanced Intel DX2 Processor"},
    {kVendorIntel, 4, 8, "Intel DX4 Processor"},
    {kVendorIntel, 4, kAnyModel, "Intel 486 Processor"},
    {kVendorIntel, 5, kAnyModel, "Pentium"},
    {kVendorIntel, 6, 1, "Pentium Pro"},
    {kVendorIntel, 6, 3, "Pentium II"},
    {kVendorIntel, 6, 10, "Pentium III Xeon"},
    {kVendorIntel, 6, 11, "Pentium III"},
    {kVendorCyrix, 4, kAnyModel, "Cyrix MediaGX"},
    {kVendorCyrix, 5, 2, "Cyrix 6x86"},
    {kVendorCyrix, 5, 4, "Cyrix GXm"},
    {kVendorCyrix, 6, kAnyModel, "6x86MX"},
    {kVendorAmd, 4, kAnyModel, "Am486(R) or Am5x86"},
    {kVendorAmd, 5, 6, "AMD-K6(R)"},
    {kVendorAmd, 5, 7, "AMD-K6"},
    {kVendorAmd, 5, 8, "AMD-K6(R) -2"},
    {kVendorAmd, 5, 9, "AMD-K6(R) -3"},
};

const char* ListedCpuName(std::uint8_t vendor, int family, int model) {
    for (const TCpuName& row : kCpuNames) {
        if (row.Vendor == vendor && row.Family == family && (row.Model == model || row.Model == kAnyModel))
            return row.Name;
    }
    return nullptr;
}

// Intel family 6 models that the level-2 cache size (KB) or the brand index
// tell apart; null for the other models.
const char* P6ByCacheOrBrand(int model, std::int32_t l2Cache, int brandIndex) {
    const bool xeonCache = l2Cache == 1024 || l2Cache == 2048;
    switch (model) {
    case 5:
        return l2Cache == 0 ? "Celeron" : xeonCache ? "Pentium II Xeon" : "Pentium II";
    case 6:
        return l2Cache == 0 || l2Cache == 128 ? "Celeron" : "Pentium II";
    case 7:
        return xeonCache ? "Pentium III Xeon" : "Pentium III";
    case 8:
        return brandIndex == 1 ? "Celeron" : brandIndex == 3 ? "Pentium III Xeon" : "Pentium III";
    default:
        return nullptr;
    }
}

}  // namespace

std::string CpuNameFor(std::uint8_t vendor, int family, int model, int stepping, std::int32_t l2Cache,
                       int brandIndex, const std::string& current) {
    if (const char* name = ListedCpuName(vendor, family, model)) return name;
    const std::string m = std::to_string(model);
    const std::string fms =
        "(Family:" + std::to_string(family) + " Model:" + m + " Stepping:" + std::to_string(stepping) + ")";
    switch (vendor) {
    case kVendorIntel:
        if (family == 6) {
            const char* name = P6ByCacheOrBrand(model, l2Cache, brandIndex);
            return name ? name : "P6 (Model " + m + ")";
        }
        if (family == 15) return brandIndex == 1 ? "Celeron" : brandIndex == 14 ? "Xeon" : "Pentium 4";
        return "Intel" + fms;
    case kVendorCyrix:
        return family == 5 ? current : std::to_string(family) + "x86";
    case kVendorAmd:
        if (family != 5) return "AMD" + fms;
        return model >= 0 && model <= 3 ? "AMD-K5 (Model " + m + ")" : "Unknown AMD Model (" + m + ")";
    default:
        return current;
    }
}

TCpuInfo IdentifyCpuFrom(const TCpuidSource& cpu) {
    TCpuInfo info;
    info.HasCpuid = cpu.HasCpuid();
    if (!info.HasCpuid) {
        info.CpuName = "Unknown";
        return info;
    }
    const TCpuidRegs level0 = cpu.Query(0);
    const std::uint32_t maxLevel = level0.Eax;
    const std::string vendor = VendorString(level0);
    bool named = false;
    if (vendor == "GenuineIntel") {
        info.Vendor = kVendorIntel;
        ReadIntelLevels(cpu, maxLevel, info);
    } else if (vendor == "AuthenticAMD" || vendor == "CyrixInstead") {
        info.Vendor = vendor == "AuthenticAMD" ? kVendorAmd : kVendorCyrix;
        const std::uint32_t maxExtended = cpu.Query(0x80000000u).Eax;
        if (maxExtended > 0x80000000u) {
            TCpuidRegs e1 = cpu.Query(0x80000001u);
            ReadSignature(e1.Eax, info);
            info.Features = e1.Edx;
            if (maxExtended >= 0x80000004u) {
                info.CpuName = BrandString(cpu);
                named = !info.CpuName.empty();
            }
            // Level 0x80000005 holds the first-level cache data, which no
            // name depends on; it is read for completeness of the probe.
            if (maxExtended >= 0x80000005u) (void)cpu.Query(0x80000005u);
        } else {
            ReadIntelLevels(cpu, maxLevel, info);
        }
    } else if (vendor == "GenuineTMx86") {
        info.Vendor = kVendorTransmeta;
        info.CpuName = "Crusoe";
        named = true;
    } else {
        info.CpuName = "Unknown";
        named = true;
    }
    if (!named) {
        info.CpuName = CpuNameFor(info.Vendor, info.Family, info.Model, info.Stepping, info.L2Cache,
                                  info.BrandIndex, info.CpuName);
    }
    if (info.CpuName.size() > kCpuNameMax) info.CpuName.resize(kCpuNameMax);
    return info;
}

bool SpeedSettled(const std::int64_t (&lastThree)[3]) {
    const std::int64_t sum = lastThree[0] + lastThree[1] + lastThree[2];
    for (std::int64_t e : lastThree) {
        if (std::llabs(e * 3 - sum) > 3) return false;
    }
    return true;
}

std::int32_t MeasureSpeed(TSpeedClock& clock) {
    const std::int64_t frequency = clock.Frequency();
    if (frequency <= 0) return 0;
    std::int64_t lastThree[3] = {0, 0, 0};
    double totalCycles = 0, totalMicroseconds = 0;
    for (int pass = 1; pass <= kSpeedMaxPasses; ++pass) {
        const std::int64_t start = clock.Counter();
        clock.RaisePriority();
        std::int64_t now;
        do {
            now = clock.Counter();
        } while (now - start < 50);
        const std::uint64_t tscStart = clock.TimeStamp();
        const std::int64_t countStart = now;
        std::uint64_t tscEnd;
        do {
            now = clock.Counter();
            tscEnd = clock.TimeStamp();
        } while (now - countStart < 1000);
        clock.RestorePriority();
        const double microseconds = double(now - countStart) * 1000000.0 / double(frequency);
        const double cycles = double(tscEnd - tscStart);
        totalCycles += cycles;
        totalMicroseconds += microseconds;
        lastThree[0] = lastThree[1];
        lastThree[1] = lastThree[2];
        lastThree[2] = microseconds > 0 ? std::llrint(cycles / microseconds) : 0;
        if (pass >= kSpeedMinPasses && SpeedSettled(lastThree)) break;
    }
    if (totalMicroseconds <= 0) return 0;
    return std::int32_t(std::lrint(totalCycles / totalMicroseconds));
}

std::string SystemText(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                       std::uint32_t build, const std::string& servicePack) {
    const bool nt = platformId == 2;
    const std::uint32_t shownBuild = nt ? build : (build & 0xFFFF);
    return std::string(nt ? "Windows NT " : "Windows ") + std::to_string(major) + "." +
           std::to_string(minor) + " Build: " + std::to_string(shownBuild) + " " + servicePack;
}

std::string ProcessorText(std::uint32_t processors, const std::string& cpuName, std::int32_t mhz) {
    std::string out;
    if (processors != 1) out = std::to_string(processors) + "x ";
    return out + cpuName + ", " + std::to_string(mhz) + " MHz";
}

std::string MemoryText(std::uint64_t availableBytes, std::uint64_t totalBytes) {
    return std::to_string(availableBytes / 1048576) + " of " + std::to_string(totalBytes / 1048576) + " MB";
}

std::string AccelerationText(std::uint32_t flags) {
    const bool generic = (flags & 0x40) != 0;
    const bool accelerated = (flags & 0x1000) != 0;
    if (generic && accelerated) return "MCD";
    if (!generic && !accelerated) return "ICD";
    return "No";
}

std::string AdapterText(const std::string& vendor, const std::string& renderer) {
    return vendor + " (" + renderer + ")";
}

std::string ResolutionText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}
