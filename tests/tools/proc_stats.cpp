// Prints what a running program holds, for the soak runs:
//   proc_stats NAME
// one line per process whose executable file is NAME (case-insensitive):
//   pid=N handles=N gdi=N user=N threads=N ws_kb=N peak_ws_kb=N
// Exits 1 when no such process runs.
#include <windows.h>
// tlhelp32.h and psapi.h need the types windows.h declares.
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The system's handle table, for a handle count where GetProcessHandleCount
// answers 0 (as Wine's does).
struct THandleEntry {
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE Flags;
    USHORT Value;
    PVOID Object;
    ULONG Access;
};
struct THandleTable {
    ULONG Count;
    THandleEntry Entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
using TQuerySystem = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

unsigned long TableHandleCount(DWORD pid) {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    auto query = reinterpret_cast<TQuerySystem>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (!query) return 0;
    std::vector<unsigned char> buffer(1 << 20);
    for (int tries = 0; tries < 8; ++tries) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto* table = reinterpret_cast<const THandleTable*>(buffer.data());
            unsigned long count = 0;
            for (ULONG i = 0; i < table->Count; ++i) count += table->Entries[i].OwnerPid == pid;
            return count;
        }
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: proc_stats NAME\n");
        return 2;
    }
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    int found = 0;
    PROCESSENTRY32 process{};
    process.dwSize = sizeof(process);
    for (BOOL more = ::Process32First(snapshot, &process); more; more = ::Process32Next(snapshot, &process)) {
        if (::lstrcmpiA(process.szExeFile, argv[1]) != 0) continue;
        HANDLE h = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process.th32ProcessID);
        if (!h) continue;
        DWORD handles = 0;
        ::GetProcessHandleCount(h, &handles);
        if (handles == 0) handles = TableHandleCount(process.th32ProcessID);
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof(memory);
        ::GetProcessMemoryInfo(h, &memory, sizeof(memory));
        std::printf("pid=%lu handles=%lu gdi=%lu user=%lu threads=%lu ws_kb=%llu peak_ws_kb=%llu\n",
                    process.th32ProcessID, handles, ::GetGuiResources(h, GR_GDIOBJECTS),
                    ::GetGuiResources(h, GR_USEROBJECTS), process.cntThreads,
                    static_cast<unsigned long long>(memory.WorkingSetSize / 1024),
                    static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024));
        ::CloseHandle(h);
        ++found;
    }
    ::CloseHandle(snapshot);
    return found ? 0 : 1;
}
