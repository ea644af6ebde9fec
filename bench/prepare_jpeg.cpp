// Picture preparation against a bare WIC decode of the same file.
//
// For a 6000 x 4000 JPEG (quality 90), a 1920 x 1080 PNG and a 12-megapixel
// JPEG tagged Display P3 it measures, each in a fresh child process so that
// peak memory is per job:
//   decode      - the baseline: WIC decodes the file to 32-bit pixels, nothing else
//   prepare     - LoadPicture into a 960 x 540 target, FitMode 2, whole picture
//   prepare-rt  - the same with progressive resizing (rtresize on)
//   colours     - the tagged JPEG prepared with its colours converted (the
//                 "prepare" of it leaves them as stored)
// Prints the best of several runs and the peak memory (peak working set, see
// PeakMemory) beside the baseline's, with the ratios.
#ifdef _WIN32
#include <windows.h>

#include <psapi.h>
#include <wincodec.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session/settings.h"
#include "base/handles_win32.h"
#include "base/system_win32.h"
#include "imaging/colour_convert_win32.h"
#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"

#include "bench/bench_timing.h"
#include "bench/wic_write.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

constexpr int kRuns = 5;

// Looked up at run time: the benchmark links like the other benchmarks,
// without the WIC import library.
HRESULT ConvertBitmapSource(REFWICPixelFormatGUID format, IWICBitmapSource* source, IWICBitmapSource** out) {
    using TConvert = HRESULT(WINAPI*)(REFWICPixelFormatGUID, IWICBitmapSource*, IWICBitmapSource**);
    static const auto convert =
        ProcAddress<TConvert>(::LoadLibraryA("windowscodecs.dll"), "WICConvertBitmapSource");
    return convert ? convert(format, source, out) : E_NOTIMPL;
}

// Wine keeps no peak of the private bytes (its PeakPagefileUsage follows
// the current value), but it does keep the peak working set, which for these
// jobs is the private memory touched plus the same loaded modules in both.
SIZE_T PeakMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

std::string ExeFolder() {
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\'));
}

// A photograph-like picture: smooth gradients with fine texture.
bool WriteFixture(const std::string& path, const GUID& container, UINT w, UINT h) {
    std::uint32_t noise = 12345;
    auto clamp = [](int v) { return static_cast<BYTE>(std::min(255, std::max(0, v))); };
    return WriteWicPicture(
        path, container, w, h,
        [&](UINT y, BYTE* row) {
            for (UINT x = 0; x < w; ++x, row += 3) {
                noise = noise * 1103515245u + 12345u;
                const int n = static_cast<int>((noise >> 16) & 15) - 8;
                row[0] = clamp(static_cast<int>(x * 255 / w) + n);
                row[1] = clamp(static_cast<int>(y * 255 / h) + n);
                row[2] = clamp(static_cast<int>(((x / 64 + y / 64) & 1) * 120 + 60) + n);
            }
        },
        0.9f);
}

// Display P3: its published primaries, D65 white, the sRGB curve.
const TRgbPrimaries kDisplayP3 = {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, {0.3127, 0.3290}};

// Puts a Display P3 profile into the JPEG at `path`, as phones do.
bool TagDisplayP3(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    {
        TKernelHandle file(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 4) return false;
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
            read != bytes.size())
            return false;
    }
    const std::vector<std::uint8_t> tagged = WithIccSegments(bytes, MakeRgbProfile(kDisplayP3, 0.0, "Display P3"));
    TKernelHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), tagged.data(), static_cast<DWORD>(tagged.size()), &written, nullptr) &&
           written == tagged.size();
}

// The baseline: WIC alone, file to 32-bit pixels in memory.
bool BareDecode(const std::string& path) {
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICBitmapSource* bgr = nullptr;
    std::wstring wide(path.begin(), path.end());
    UINT w = 0, h = 0;
    bool ok =
        SUCCEEDED(::CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                     reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&w, &h)) &&
        SUCCEEDED(ConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame, &bgr));
    if (ok) {
        std::vector<BYTE> pixels(static_cast<std::size_t>(w) * h * 4);
        ok = SUCCEEDED(bgr->CopyPixels(nullptr, w * 4, static_cast<UINT>(pixels.size()), pixels.data()));
    }
    if (bgr) bgr->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    if (factory) factory->Release();
    return ok;
}

int Child(const std::string& mode, const std::string& path) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool prepare = mode != "decode";
    std::unique_ptr<TBitmap> target;
    TColourConverter converter;
    const bool colours = mode == "colours";
    if (prepare) {
        Session.Settings.InstallPath = ExeFolder();
        Session.Settings.FitMode = 2;
        Session.Settings.rtresize = mode == "prepare-rt";
        Session.Settings.ShrinkToFit = true;
        LoadSessionPlugins();
        target = std::make_unique<TBitmap>(960, 540);
    }
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        const double start = Seconds();
        bool ok = true;
        if (prepare) {
            PictureInfo info;
            LoadPicture(*target, path, info, SessionPrepare({colours, &converter}));
            ok = info.Width > 0 && info.ColourConverted == colours;
        } else {
            ok = BareDecode(path);
        }
        const double ms = (Seconds() - start) * 1000.0;
        if (!ok) {
            std::printf("failed\n");
            return 1;
        }
        if (ms < best) best = ms;
    }
    std::printf("%.1f %lu\n", best, static_cast<unsigned long>(PeakMemory()));
    return 0;
}

bool RunChild(const std::string& mode, const std::string& path, double& ms, double& peak) {
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" child " + mode + " \"" + path + "\"";
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &sa, 0)) return false;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    const BOOL started =
        ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    ::CloseHandle(writeEnd);
    std::string out;
    if (started) {
        char buf[256];
        DWORD n = 0;
        while (::ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::CloseHandle(readEnd);
    unsigned long bytes = 0;
    if (std::sscanf(out.c_str(), "%lf %lu", &ms, &bytes) != 2) return false;
    peak = bytes / 1048576.0;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "child") == 0) return Child(argv[2], argv[3]);
    // "keep" leaves the fixtures in the temporary folder, for comparisons
    // with other programs on the very same files.
    const bool keep = argc == 2 && std::strcmp(argv[1], "keep") == 0;
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    struct Fixture {
        const char* name;
        const GUID* container;
        UINT w, h;
        bool p3;  // tagged Display P3
    } fixtures[] = {{"qvbench_6000x4000_q90.jpg", &GUID_ContainerFormatJpeg, 6000, 4000, false},
                    {"qvbench_1920x1080.png", &GUID_ContainerFormatPng, 1920, 1080, false},
                    {"qvbench_4000x3000_p3.jpg", &GUID_ContainerFormatJpeg, 4000, 3000, true}};
    std::printf("%-28s %-11s %10s %10s %8s %8s\n", "file", "job", "ms", "peak MB", "x time", "x peak");
    for (const Fixture& f : fixtures) {
        const std::string path = std::string(temp) + f.name;
        if (!WriteFixture(path, *f.container, f.w, f.h) || (f.p3 && !TagDisplayP3(path))) {
            std::printf("%s: could not write the fixture\n", f.name);
            return 1;
        }
        double baseMs = 0, basePeak = 0, prepareMs = 0;
        const std::vector<const char*> modes = f.p3 ? std::vector<const char*>{"decode", "prepare", "colours"}
                                                    : std::vector<const char*>{"decode", "prepare", "prepare-rt"};
        for (const char* mode : modes) {
            double ms = 0, peak = 0;
            if (!RunChild(mode, path, ms, peak)) {
                std::printf("%-28s %-11s failed\n", f.name, mode);
                continue;
            }
            if (std::strcmp(mode, "decode") == 0) {
                baseMs = ms;
                basePeak = peak;
            }
            if (std::strcmp(mode, "prepare") == 0) prepareMs = ms;
            std::printf("%-28s %-11s %10.1f %10.1f %8.2f %8.2f\n", f.name, mode, ms, peak, ms / baseMs,
                        peak / basePeak);
            if (std::strcmp(mode, "colours") == 0 && prepareMs > 0)
                std::printf("%-28s the conversion adds %.1f ms, %.1f %% of prepare (goal <= 5 %%)\n", f.name,
                            ms - prepareMs, 100.0 * (ms - prepareMs) / prepareMs);
        }
        if (!keep) ::DeleteFileA(path.c_str());
    }
    return 0;
}
#else
#include <cstdio>
int main() {
    std::puts("prepare_jpeg: Windows only (runs under Wine)");
    return 0;
}
#endif
