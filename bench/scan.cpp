// Folder scan speed beside a bare FindFirstFileA / FindNextFileA walk of the
// same tree in the same run. The tree (100 files in each of 1,000 folders,
// a tenth of them pictures, every name plain ASCII) is made in the
// temporary folder on first use and kept for later runs. Each figure is
// the best of the rounds, as wall-clock time and as the process's own
// processor time, which the machine's other work disturbs far less.
//   bench_scan [FOLDERS] [FILES_PER_FOLDER] [ROUNDS]
#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/scan_win32.h"

#include "bench/bench_timing.h"

namespace {

// Ten top folders, each holding folders/10 subfolders; files only in the
// subfolders.
void MakeTree(const std::string& root, int folders, int files) {
    ::CreateDirectoryA(root.c_str(), nullptr);
    for (int top = 0; top < 10; ++top) {
        const std::string topDir = root + "\\Top" + std::to_string(top);
        ::CreateDirectoryA(topDir.c_str(), nullptr);
        for (int sub = 0; sub < folders / 10; ++sub) {
            const std::string dir = topDir + "\\Folder" + std::to_string(sub);
            ::CreateDirectoryA(dir.c_str(), nullptr);
            for (int f = 0; f < files; ++f) {
                const std::string name = dir + "\\file" + std::to_string(f) + (f % 10 == 0 ? ".jpg" : ".txt");
                HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
                if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
            }
        }
    }
}

// Enumerates everything and builds only the folder paths it must recurse
// into: what any walk of this tree has to pay.
std::size_t BareWalk(const std::string& dir) {
    std::size_t files = 0;
    WIN32_FIND_DATAA found;
    HANDLE find = ::FindFirstFileA((dir + "\\*.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        const char* name = found.cFileName;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            files += BareWalk(dir + "\\" + name);
        else
            ++files;
    } while (::FindNextFileA(find, &found));
    ::FindClose(find);
    return files;
}

// Processor time of this process (user and kernel), in milliseconds.
double CpuMs() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    auto ticks = [](const FILETIME& t) {
        return double(ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e4;  // 100 ns ticks
}

struct TBest {
    double wall = 1e300;
    double cpu = 1e300;
    // Runs `body` once and keeps the better figures.
    void Time(const std::function<void()>& body) {
        const double cpuStart = CpuMs();
        wall = std::min(wall, BestMs(1, body));
        cpu = std::min(cpu, CpuMs() - cpuStart);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int folders = std::max(10, argc > 1 ? std::atoi(argv[1]) : 1000);
    const int files = std::max(1, argc > 2 ? std::atoi(argv[2]) : 100);
    const int rounds = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string root =
        std::string(temp) + "bench_scan_" + std::to_string(folders) + "x" + std::to_string(files);
    const std::string marker = root + "\\complete";
    if (::GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("making %d folders of %d files in %s ...\n", folders, files, root.c_str());
        MakeTree(root, folders, files);
        ::CloseHandle(::CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    const std::vector<std::string> extensions = {".jpg", ".png", ".gif"};

    std::size_t walked = 0;
    std::size_t pictures = 0;
    TBest bare;
    TBest scan;
    // Interleaved, so both see the same cache state.
    for (int round = 0; round < rounds; ++round) {
        bare.Time([&] { walked = BareWalk(root); });
        scan.Time([&] { pictures = ScanFolder(root, true, extensions).Found.size(); });
    }
    std::printf("tree: %zu files, %zu pictures found, best of %d rounds\n", walked, pictures, rounds);
    std::printf("%-34s %9.2f ms   %-34s %9.2f ms   ratio %.2f\n", "ScanFolder", scan.wall,
                "bare FindFirstFileA walk", bare.wall, scan.wall / bare.wall);
    std::printf("%-34s %9.2f ms   %-34s %9.2f ms   ratio %.2f\n", "ScanFolder, processor time", scan.cpu,
                "bare walk, processor time", bare.cpu, scan.cpu / bare.cpu);
    return 0;
}
#else
#include <cstdio>
int main() {
    std::puts("bench_scan walks folders with the Win32 API: run the Windows build under Wine");
    return 0;
}
#endif
