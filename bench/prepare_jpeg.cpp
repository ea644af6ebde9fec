// Picture preparation against a bare WIC decode of the same file.
//
// For a 6000 x 4000 JPEG (quality 90) and a 1920 x 1080 PNG it measures, each
// in a fresh child process so that peak memory is per job:
//   decode      - the baseline: WIC decodes the file to 32-bit pixels, nothing else
//   prepare     - LoadPicture into a 960 x 540 target, FitMode 2, whole picture
//   prepare-rt  - the same with progressive resizing (rtresize on)
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

#include "app/settings.h"
#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"

namespace {

const CLSID kWicFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kJpeg = {0x19e4a5aa, 0x5662, 0x4fc5, {0xa0, 0xc0, 0x17, 0x58, 0x02, 0x8e, 0x10, 0x57}};
const GUID kPng = {0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
const GUID kBgr24 = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};
const GUID kBgr32 = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0e}};

constexpr int kRuns = 5;

// Looked up at run time: the benchmark links like the other benchmarks,
// without the WIC import library.
HRESULT ConvertBitmapSource(REFWICPixelFormatGUID format, IWICBitmapSource* source, IWICBitmapSource** out) {
    using TConvert = HRESULT(WINAPI*)(REFWICPixelFormatGUID, IWICBitmapSource*, IWICBitmapSource**);
    static const auto convert = reinterpret_cast<TConvert>(reinterpret_cast<void*>(
        ::GetProcAddress(::LoadLibraryA("windowscodecs.dll"), "WICConvertBitmapSource")));
    return convert ? convert(format, source, out) : E_NOTIMPL;
}

double Now() {
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
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
    IWICImagingFactory* factory = nullptr;
    if (FAILED(::CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  reinterpret_cast<void**>(&factory))))
        return false;
    std::vector<BYTE> bgr(static_cast<std::size_t>(w) * h * 3);
    std::uint32_t noise = 12345;
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int n = static_cast<int>((noise >> 16) & 15) - 8;
            BYTE* p = &bgr[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = static_cast<BYTE>(std::min(255, std::max(0, static_cast<int>(x * 255 / w) + n)));
            p[1] = static_cast<BYTE>(std::min(255, std::max(0, static_cast<int>(y * 255 / h) + n)));
            p[2] = static_cast<BYTE>(
                std::min(255, std::max(0, static_cast<int>(((x / 64 + y / 64) & 1) * 120 + 60) + n)));
        }
    std::wstring wide(path.begin(), path.end());
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* props = nullptr;
    WICPixelFormatGUID format = kBgr24;
    bool ok = SUCCEEDED(factory->CreateStream(&stream)) &&
              SUCCEEDED(stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE)) &&
              SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, &props));
    if (ok && container == kJpeg) {
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT quality;
        ::VariantInit(&quality);
        quality.vt = VT_R4;
        quality.fltVal = 0.9f;
        props->Write(1, &option, &quality);
    }
    ok = ok && SUCCEEDED(frame->Initialize(props)) && SUCCEEDED(frame->SetSize(w, h)) &&
         SUCCEEDED(frame->SetPixelFormat(&format)) && format == kBgr24 &&
         SUCCEEDED(frame->WritePixels(h, w * 3, static_cast<UINT>(bgr.size()), bgr.data())) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    if (props) props->Release();
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    factory->Release();
    return ok;
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
        SUCCEEDED(ConvertBitmapSource(kBgr32, frame, &bgr));
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
    if (prepare) {
        Settings.InstallPath = ExeFolder();
        Settings.FitMode = 2;
        Settings.rtresize = mode == "prepare-rt";
        Settings.ShrinkToFit = true;
        LoadPlugins();
        target = std::make_unique<TBitmap>(960, 540);
    }
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        const double start = Now();
        bool ok = true;
        if (prepare) {
            PictureInfo info;
            LoadPicture(*target, path, info);
            ok = info.Width > 0;
        } else {
            ok = BareDecode(path);
        }
        const double ms = Now() - start;
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
    } fixtures[] = {{"qvbench_6000x4000_q90.jpg", &kJpeg, 6000, 4000},
                    {"qvbench_1920x1080.png", &kPng, 1920, 1080}};
    std::printf("%-28s %-11s %10s %10s %8s %8s\n", "file", "job", "ms", "peak MB", "x time", "x peak");
    for (const Fixture& f : fixtures) {
        const std::string path = std::string(temp) + f.name;
        if (!WriteFixture(path, *f.container, f.w, f.h)) {
            std::printf("%s: could not write the fixture\n", f.name);
            return 1;
        }
        double baseMs = 0, basePeak = 0;
        for (const char* mode : {"decode", "prepare", "prepare-rt"}) {
            double ms = 0, peak = 0;
            if (!RunChild(mode, path, ms, peak)) {
                std::printf("%-28s %-11s failed\n", f.name, mode);
                continue;
            }
            if (std::strcmp(mode, "decode") == 0) {
                baseMs = ms;
                basePeak = peak;
            }
            std::printf("%-28s %-11s %10.1f %10.1f %8.2f %8.2f\n", f.name, mode, ms, peak, ms / baseMs,
                        peak / basePeak);
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
