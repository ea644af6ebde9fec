#pragma once
#include <cstdint>
#include <string>

// Descriptions of the machine for the crash report, built from plain values
// so that every rule can be checked without the hardware it describes. The
// Win32 layer (sysinfo_win32) feeds them from the system.

enum TCpuVendor : std::uint8_t {
    kVendorUnknown = 0,
    kVendorIntel = 1,
    kVendorCyrix = 2,
    kVendorAmd = 3,
    kVendorTransmeta = 4,
};

struct TCpuInfo {
    bool HasCpuid = false;
    std::uint8_t Vendor = kVendorUnknown;
    std::uint8_t Family = 0, Model = 0, Stepping = 0;
    std::uint32_t Features = 0;   // standard flags, or the extended ones for AMD and Cyrix
    std::int32_t L2Cache = 0;     // kilobytes, Intel descriptors 0x40..0x45
    std::uint8_t BrandIndex = 0;  // Intel, low byte of EBX of level 1
    std::string CpuName;          // at most kCpuNameMax characters
    std::int32_t RawMHz = 0;      // 0 when not measured
};

constexpr std::size_t kCpuNameMax = 47;
constexpr std::uint32_t kFeatureTsc = 1u << 4;

struct TCpuidRegs {
    std::uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
};

// The CPUID instruction, or a recording of one.
class TCpuidSource {
public:
    virtual bool HasCpuid() const = 0;
    virtual TCpuidRegs Query(std::uint32_t leaf) const = 0;

protected:
    ~TCpuidSource() = default;
};

// Everything but the speed: vendor, signature, features, cache, name.
TCpuInfo IdentifyCpuFrom(const TCpuidSource& cpu);

// Whether MeasureSpeed applies to this processor.
inline bool CanMeasureSpeed(const TCpuInfo& info) {
    return info.HasCpuid && (info.Features & kFeatureTsc) != 0;
}

// The name tables. `current` is returned where the tables keep the name the
// processor already had (a Cyrix family 5 of an unlisted model).
std::string CpuNameFor(std::uint8_t vendor, int family, int model, int stepping, std::int32_t l2Cache,
                       int brandIndex, const std::string& current);

// The clocks MeasureSpeed compares.
class TSpeedClock {
public:
    virtual std::int64_t Frequency() = 0;  // performance-counter counts per second; 0 when absent
    virtual std::int64_t Counter() = 0;
    virtual std::uint64_t TimeStamp() = 0;
    virtual void RaisePriority() = 0;  // for one measurement pass
    virtual void RestorePriority() = 0;

protected:
    ~TSpeedClock() = default;
};

constexpr int kSpeedMinPasses = 3;
constexpr int kSpeedMaxPasses = 20;

// True when each of the last three estimates, times three, lies within 3 of
// their sum: the measurement has settled.
bool SpeedSettled(const std::int64_t (&lastThree)[3]);

// Processor clock in MHz from the time-stamp counter against the
// performance counter; 0 without a performance counter.
std::int32_t MeasureSpeed(TSpeedClock& clock);

// "Windows NT 6.1 Build: 7601 Service Pack 1"; on other platforms the build
// keeps only its low 16 bits.
std::string SystemText(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor,
                       std::uint32_t build, const std::string& servicePack);

// "2x Pentium III, 800 MHz"; no count prefix for one processor.
std::string ProcessorText(std::uint32_t processors, const std::string& cpuName, std::int32_t mhz);

// "<available> of <total> MB", each whole mebibytes rounded down.
std::string MemoryText(std::uint64_t availableBytes, std::uint64_t totalBytes);

// "MCD", "ICD" or "No" from a pixel format's flags.
std::string AccelerationText(std::uint32_t pixelFormatFlags);

// "<vendor> (<renderer>)".
std::string AdapterText(const std::string& vendor, const std::string& renderer);

// "<width>x<height>".
std::string ResolutionText(int width, int height);
