// Catalogue load and save speed, each beside a baseline measured in the
// same run: moving the same number of bytes in one call.
//   bench_piclist [PICTURES] [ENTRIES]     (default 1000000 in 100 entries)
// On Windows the catalogue goes through a real file (LoadFromFile,
// SaveToFile against one ReadFile / WriteFile); natively through memory
// (LoadFromStream, SaveToStream against one memcpy).
#ifdef _WIN32
#include <windows.h>
// psapi.h needs the types windows.h declares.
#include <psapi.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "catalogue/piclist.h"

#include "bench/bench_timing.h"

namespace {

void Report(const char* what, double ms, const char* baseline, double baseMs) {
    std::printf("%-34s %9.2f ms   %-34s %9.2f ms   ratio %.2f\n", what, ms, baseline, baseMs, ms / baseMs);
}

void Fill(TPicList& list, int pictures, int entries) {
    list.AddFolder("Root");
    char path[96];
    for (int e = 1; e <= entries; ++e) {
        TFolderItem& item =
            list.ItemAt(list.AddFolder("C:\\Users\\Someone\\Pictures\\Folder" + std::to_string(e)));
        const int own = pictures / entries + (e <= pictures % entries ? 1 : 0);
        for (int p = 0; p < own; ++p) {
            std::snprintf(path, sizeof path, "C:\\Users\\Someone\\Pictures\\Folder%d\\IMG_%06d.jpg", e, p);
            item.Pictures.Add(path);
        }
    }
}

#ifdef _WIN32
std::size_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int entries = std::max(1, argc > 2 ? std::atoi(argv[2]) : 100);
    TPicList source;
    Fill(source, pictures, entries);
    std::string bytes;
    TStringSink sink(bytes);
    source.SaveToStream(sink);
    std::printf("catalogue: %d pictures in %d entries, %zu bytes\n", source.TotalCount(), entries,
                bytes.size());

#ifdef _WIN32
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "bench_piclist.dat";
    const std::string rawPath = std::string(temp) + "bench_raw.dat";

    const double save = BestMs(3, [&] { source.SaveToFile(path); });
    const double rawWrite = BestMs(3, [&] {
        HANDLE f = ::CreateFileA(rawPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD wrote = 0;
        ::WriteFile(f, bytes.data(), DWORD(bytes.size()), &wrote, nullptr);
        ::FlushFileBuffers(f);
        ::CloseHandle(f);
    });
    Report("SaveToFile", save, "one WriteFile + flush", rawWrite);

    // Into fresh memory each time, as a loader must: the pages are new to
    // the process on every run, as they are for the catalogue.
    const double rawRead = BestMs(5, [&] {
        std::unique_ptr<char[]> raw(new char[bytes.size()]);
        HANDLE f =
            ::CreateFileA(rawPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD got = 0;
        ::ReadFile(f, raw.get(), DWORD(bytes.size()), &got, nullptr);
        ::CloseHandle(f);
    });
    const double load = BestMs(5, [&] {
        TPicList list;
        list.LoadFromFile(path);
        if (list.TotalCount() != source.TotalCount()) std::abort();
    });
    Report("LoadFromFile", load, "one ReadFile, fresh memory", rawRead);
    // The same read into memory already mapped: the floor no loader that
    // keeps its result can reach, shown for comparison.
    std::string warm(bytes.size(), '\0');
    const double warmRead = BestMs(5, [&] {
        HANDLE f =
            ::CreateFileA(rawPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD got = 0;
        ::ReadFile(f, &warm[0], DWORD(warm.size()), &got, nullptr);
        ::CloseHandle(f);
    });
    Report("LoadFromFile", load, "one ReadFile, reused buffer", warmRead);

    const std::size_t before = PrivateBytes();
    TPicList held;
    held.LoadFromFile(path);
    const std::size_t after = PrivateBytes();
    std::printf("catalogue memory after load: %.1f MiB for a %.1f MiB file (%.2f x)\n",
                (after - before) / 1048576.0, bytes.size() / 1048576.0,
                double(after - before) / double(bytes.size()));
    ::DeleteFileA(path.c_str());
    ::DeleteFileA(rawPath.c_str());
#else
    std::string out;
    const double save = BestMs(3, [&] {
        out.clear();
        TStringSink s(out);
        source.SaveToStream(s);
    });
    std::string copy(bytes.size(), '\0');
    const double copyMs = BestMs(5, [&] { std::memcpy(&copy[0], bytes.data(), bytes.size()); });
    Report("SaveToStream", save, "one memcpy", copyMs);
    const double load = BestMs(5, [&] {
        TPicList list;
        TMemorySource s(bytes);
        list.LoadFromStream(s);
        if (list.TotalCount() != source.TotalCount()) std::abort();
    });
    Report("LoadFromStream", load, "one memcpy", copyMs);
#endif
    return 0;
}
