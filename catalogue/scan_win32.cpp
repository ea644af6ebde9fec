#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/handles_win32.h"
#include "app/settings.h"
#include "catalogue/catalogue_win32.h"
#include "catalogue/compare.h"
#include "catalogue/scan.h"

namespace {

// The native listing and identity calls. They are used because they share
// one open folder handle: a second open to read a folder's identity costs
// as much as listing it (under Wine, the identity query alone reads the
// volume's serial number, several times the listing's cost).
struct TIoStatus {
    union {
        LONG Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using TNtQueryInformationFile = LONG(NTAPI*)(HANDLE, TIoStatus*, PVOID, ULONG, int);
using TNtQueryDirectoryFile = LONG(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, TIoStatus*, PVOID, ULONG, int, BOOLEAN,
                                           PVOID, BOOLEAN);
constexpr int kFileDirectoryInformation = 1;
constexpr int kFileInternalInformation = 6;
constexpr LONG kStatusNoMoreFiles = LONG(0x80000006);

// FILE_DIRECTORY_INFORMATION: one listed entry.
struct TDirectoryRecord {
    ULONG NextEntryOffset;
    ULONG FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    ULONG FileAttributes;
    ULONG FileNameLength;  // bytes
    WCHAR FileName[1];
};

struct TNative {
    TNtQueryInformationFile queryInformation = nullptr;
    TNtQueryDirectoryFile queryDirectory = nullptr;
    TNative() {
        // ntdll is mapped into every process; nothing is loaded here.
        if (HMODULE ntdll = ::GetModuleHandleA("ntdll.dll")) {
            queryInformation = reinterpret_cast<TNtQueryInformationFile>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationFile")));
            queryDirectory = reinterpret_cast<TNtQueryDirectoryFile>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryDirectoryFile")));
        }
    }
};

bool findOnly = false;  // test seam: list every folder with the find functions

const TNative& Native() {
    static const TNative native;
    return native;
}

// A folder the walk is inside. Two paths reach the same folder (through a
// junction, a symbolic link or a bind mount) when file index and volume
// agree; the volume is read only when the indexes already do.
struct TOpenFolder {
    std::uint64_t index;
    HANDLE handle;       // owned by the Enter call that walks this folder
    DWORD volume = 0;
    bool volumeRead = false;
    bool volumeKnown = false;
};

DWORD VolumeOf(TOpenFolder& folder, bool& known) {
    if (!folder.volumeRead) {
        folder.volumeRead = true;
        BY_HANDLE_FILE_INFORMATION info;
        folder.volumeKnown = ::GetFileInformationByHandle(folder.handle, &info) != 0;
        if (folder.volumeKnown) folder.volume = info.dwVolumeSerialNumber;
    }
    known = folder.volumeKnown;
    return folder.volume;
}

bool FileIndexOf(HANDLE folder, std::uint64_t& index) {
    if (Native().queryInformation) {
        TIoStatus io;
        LARGE_INTEGER value;
        if (Native().queryInformation(folder, &io, &value, sizeof value, kFileInternalInformation) >= 0) {
            index = std::uint64_t(value.QuadPart);
            return true;
        }
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(folder, &info)) return false;
    index = std::uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

// The depth-first walk shared by ScanDirectory and ListAllFiles. It never
// enters a folder it is already inside, so a link that leads back up the
// tree is listed once, not until the path length runs out; a link to a
// folder outside the walk is followed.
class TFolderWalk {
public:
    // `extensions` null: every file is listed.
    TFolderWalk(const std::vector<std::string>* extensions, bool recurse, std::vector<std::string>& out)
        : extensions_(extensions), recurse_(recurse), out_(out) {
        codePage_ = ::AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    }

    void Run(const std::string& dir) { Enter(dir, 0); }

private:
    void Enter(const std::string& dir, DWORD attributes) {
        // "dir\*.*" must fit the ANSI functions' limit; a longer path would
        // be cut into a different one, so the folder is skipped instead.
        if (dir.size() + 4 >= MAX_PATH) return;
        TKernelHandle folder(::CreateFileA(dir.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        std::uint64_t index = 0;
        if (!folder || !FileIndexOf(folder.Get(), index)) {
            // Without an identity a link cannot be proven safe to follow.
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
            ListWithFind(dir);
            return;
        }
        if (AlreadyInside(folder.Get(), index)) return;
        open_.push_back(TOpenFolder{index, folder.Get()});
        if (!ListWithHandle(folder.Get(), dir)) ListWithFind(dir);
        open_.pop_back();
    }

    bool AlreadyInside(HANDLE folder, std::uint64_t index) {
        TOpenFolder probe{index, folder};
        for (TOpenFolder& open : open_) {
            if (open.index != index) continue;
            bool knownHere = false;
            bool knownThere = false;
            const DWORD here = VolumeOf(probe, knownHere);
            const DWORD there = VolumeOf(open, knownThere);
            // When a volume cannot be read, the matching index is taken as
            // the same folder: a skipped folder is better than a loop.
            if (!knownHere || !knownThere || here == there) return true;
        }
        return false;
    }

    // Lists through the open folder handle; false when that is not
    // possible and nothing was listed, so the find functions must do it.
    bool ListWithHandle(HANDLE folder, const std::string& dir) {
        if (!Native().queryDirectory || findOnly) return false;
        std::vector<std::uint64_t> buffer(kListBuffer / sizeof(std::uint64_t));  // records are 8-byte aligned
        std::string path = dir + "\\";
        char name[2 * MAX_PATH];
        for (bool first = true;; first = false) {
            TIoStatus io;
            const LONG status = Native().queryDirectory(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                                                        ULONG(kListBuffer), kFileDirectoryInformation, FALSE,
                                                        nullptr, first ? TRUE : FALSE);
            if (status == kStatusNoMoreFiles) return true;
            if (status < 0) return !first;  // a folder that fails part-way keeps what was listed
            const char* record = reinterpret_cast<const char*>(buffer.data());
            for (;;) {
                const auto* entry = reinterpret_cast<const TDirectoryRecord*>(record);
                const int length = ::WideCharToMultiByte(codePage_, 0, entry->FileName,
                                                         int(entry->FileNameLength / sizeof(WCHAR)), name,
                                                         int(sizeof name), nullptr, nullptr);
                if (length > 0) Visit(path, std::string_view(name, std::size_t(length)), entry->FileAttributes);
                if (entry->NextEntryOffset == 0) break;
                record += entry->NextEntryOffset;
            }
        }
    }

    void ListWithFind(const std::string& dir) {
        WIN32_FIND_DATAA found;
        TFindHandle find(::FindFirstFileA((dir + "\\*.*").c_str(), &found));
        if (!find) return;
        std::string path = dir + "\\";
        do {
            Visit(path, std::string_view(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName)),
                  found.dwFileAttributes);
        } while (::FindNextFileA(find.Get(), &found));
    }

    // `path` is the folder followed by "\".
    void Visit(const std::string& path, std::string_view name, DWORD attributes) {
        if (name == "." || name == "..") return;
        if (path.size() + name.size() >= MAX_PATH) return;  // never truncated into another path
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recurse_) Enter(std::string(path).append(name), attributes);
        } else if (!extensions_ || IsPictureName(name, *extensions_)) {
            out_.push_back(std::string(path).append(name));
        }
    }

    static constexpr std::size_t kListBuffer = 16 * 1024;

    const std::vector<std::string>* extensions_;  // not owned; null lists every file
    bool recurse_;
    std::vector<std::string>& out_;  // not owned
    UINT codePage_;                  // the one the ANSI file functions use
    std::vector<TOpenFolder> open_;  // the folders the walk is inside, outermost first
};

}  // namespace

void SetScanListsWithFindOnly(bool on) { findOnly = on; }

void ScanDirectory(const std::string& dir, std::vector<std::string>& list) {
    TFolderWalk(&ExtensionList, Settings.ScanSubfolders, list).Run(dir);
}

void ListAllFiles(const std::string& dir, std::vector<std::string>& list, bool recurse) {
    // ScanSubfolders holds the recurse choice for the length of the walk,
    // as everything else that reads it during the walk expects.
    struct TRestore {
        bool saved;
        ~TRestore() { Settings.ScanSubfolders = saved; }
    } restore{Settings.ScanSubfolders};
    Settings.ScanSubfolders = recurse;
    TFolderWalk(nullptr, recurse, list).Run(dir);
}

void ScanFolder(const std::string& path) {
    FoundList.clear();
    if (path.empty()) return;
    std::string dir = path;
    if (dir.back() == '\\') dir.pop_back();
    {
        const std::string probe = dir + "\\*";
        if (probe.size() >= MAX_PATH) return;
        WIN32_FIND_DATAA found;
        TFindHandle find(::FindFirstFileA(probe.c_str(), &found));
        if (!find) return;
    }
    ScanRoot = dir;
    std::vector<std::string> list;
    ScanDirectory(dir, list);
    std::sort(list.begin(), list.end(), CatalogueLess);
    FoundList = std::move(list);
}
