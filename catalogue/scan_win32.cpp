#include "catalogue/scan_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "base/compare.h"
#include "base/handles_win32.h"
#include "base/path_text.h"
#include "base/system_win32.h"
#include "catalogue/hooks_win32.h"
#include "catalogue/ansi_names_win32.h"
#include "imaging/extension.h"

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
constexpr int kFileBothDirectoryInformation = 3;
constexpr int kFileInternalInformation = 6;
constexpr LONG kStatusNoMoreFiles = LONG(0x80000006);

// FILE_BOTH_DIR_INFORMATION: one listed entry with its short name, which
// the file system hands out with the long one at no extra cost.
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
    ULONG EaSize;
    CCHAR ShortNameLength;  // bytes; 0 when the entry has no short name
    WCHAR ShortName[12];
    WCHAR FileName[1];
};
static_assert(offsetof(TDirectoryRecord, ShortName) == 70 && offsetof(TDirectoryRecord, FileName) == 94,
              "FILE_BOTH_DIR_INFORMATION layout");

struct TNative {
    TNtQueryInformationFile queryInformation = nullptr;
    TNtQueryDirectoryFile queryDirectory = nullptr;
    TNative() {
        // ntdll is mapped into every process; nothing is loaded here.
        if (HMODULE ntdll = ::GetModuleHandleA("ntdll.dll")) {
            queryInformation = ProcAddress<TNtQueryInformationFile>(ntdll, "NtQueryInformationFile");
            queryDirectory = ProcAddress<TNtQueryDirectoryFile>(ntdll, "NtQueryDirectoryFile");
        }
    }
};

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

// The depth-first walk shared by ScanFolder and ListAllFiles. It never
// enters a folder it is already inside, so a link that leads back up the
// tree is listed once, not until the path length runs out; a link to a
// folder outside the walk is followed.
class TFolderWalk {
public:
    // `extensions` null: every file is listed. `skipped` null: what is left
    // out is not counted.
    TFolderWalk(const std::vector<std::string>* extensions, bool recurse, std::vector<std::string>& out,
                TScanSkipped* skipped)
        : extensions_(extensions), recurse_(recurse), out_(out), skipped_(skipped) {}

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
        const TNtQueryDirectoryFile queryDirectory =
            hooks_.NoNativeListing ? nullptr : Native().queryDirectory;
        if (!queryDirectory) return false;
        std::vector<std::uint64_t> buffer(kListBuffer / sizeof(std::uint64_t));  // records are 8-byte aligned
        std::string path = dir + "\\";
        for (bool first = true;; first = false) {
            TIoStatus io;
            const LONG status =
                queryDirectory(folder, nullptr, nullptr, nullptr, &io, buffer.data(), ULONG(kListBuffer),
                               kFileBothDirectoryInformation, FALSE, nullptr, first ? TRUE : FALSE);
            if (status == kStatusNoMoreFiles) return true;
            if (status < 0) return !first;  // a folder that fails part-way keeps what was listed
            const char* record = reinterpret_cast<const char*>(buffer.data());
            for (;;) {
                const auto* entry = reinterpret_cast<const TDirectoryRecord*>(record);
                const std::size_t shortBytes = static_cast<unsigned char>(entry->ShortNameLength);
                const std::size_t shortUnits = std::min<std::size_t>(shortBytes / sizeof(WCHAR), 12);
                Visit(path, entry->FileName, int(entry->FileNameLength / sizeof(WCHAR)), entry->ShortName,
                      int(ShortNameUnits(hooks_, shortUnits)), entry->FileAttributes);
                if (entry->NextEntryOffset == 0) break;
                record += entry->NextEntryOffset;
            }
        }
    }

    void ListWithFind(const std::string& dir) {
        WIN32_FIND_DATAW found;
        TFindHandle find(::FindFirstFileW((names_.Widen(dir) + L"\\*.*").c_str(), &found));
        if (!find) return;
        std::string path = dir + "\\";
        do {
            Visit(path, found.cFileName, int(wcsnlen(found.cFileName, MAX_PATH)), found.cAlternateFileName,
                  int(ShortNameUnits(hooks_, wcsnlen(found.cAlternateFileName, 14))), found.dwFileAttributes);
        } while (::FindNextFileW(find.Get(), &found));
    }

    // One listed entry, with its short name when it has one; `path` is the
    // folder followed by "\".
    void Visit(const std::string& path, const WCHAR* name, int length, const WCHAR* shortName,
               int shortLength, DWORD attributes) {
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder && !recurse_) return;
        char spelled[kNameBytes];
        int n = names_.Convert(name, length, spelled, int(sizeof spelled));
        if (n >= 0) {
            const std::string_view as(spelled, std::size_t(n));
            if (as == "." || as == "..") return;
            if (folder || !extensions_ || HasListedExtension(as, *extensions_)) Add(path, as, attributes);
            return;
        }
        // The code page cannot spell the name. Its own extension still says
        // whether it is a picture (a short one is cut to three letters); its
        // short name goes into the path.
        if (!folder && extensions_ && !PictureExtension(name, length)) return;
        n = shortLength > 0 ? names_.Convert(shortName, shortLength, spelled, int(sizeof spelled)) : -1;
        if (n > 0) {
            Add(path, std::string_view(spelled, std::size_t(n)), attributes);
        } else if (skipped_) {
            ++(folder ? skipped_->Folders : skipped_->Pictures);
        }
    }

    // The extension rule on a name the code page cannot spell as a whole.
    bool PictureExtension(const WCHAR* name, int length) const {
        int dot = length;
        while (dot > 0 && name[dot - 1] != L'.') --dot;
        if (dot == 0) return false;
        char extension[32];
        const int n = names_.Convert(name + dot - 1, length - dot + 1, extension, int(sizeof extension));
        return n > 0 && HasListedExtension(std::string_view(extension, std::size_t(n)), *extensions_);
    }

    void Add(const std::string& path, std::string_view name, DWORD attributes) {
        if (path.size() + name.size() >= MAX_PATH) return;  // never truncated into another path
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            Enter(std::string(path).append(name), attributes);
        else
            out_.push_back(std::string(path).append(name));
    }

    static constexpr std::size_t kListBuffer = 16 * 1024;
    // A name of 255 UTF-16 units in the longest spelling any code page has.
    static constexpr std::size_t kNameBytes = 3 * MAX_PATH;

    const std::vector<std::string>* extensions_;  // not owned; null lists every file
    bool recurse_;
    std::vector<std::string>& out_;  // not owned
    TScanSkipped* skipped_;          // not owned; may be null
    const TAnsiNames names_;
    const TCatalogueHooks hooks_ = CatalogueHooks();  // as they stood when the walk began
    std::vector<TOpenFolder> open_;                   // the folders the walk is inside, outermost first
};

// True when `dir`, which could not be listed with `error`, is really gone:
// the nearest folder above it that can be listed shows no folder by the
// next name on the way down. A drive that is not there, a network share that
// does not answer, or a folder that may not be read is not gone.
bool FolderIsGone(const std::string& dir, DWORD error) {
    // A file where the folder was: the folder is gone.
    const DWORD here = ::GetFileAttributesA(dir.c_str());
    if (here != INVALID_FILE_ATTRIBUTES) return !(here & FILE_ATTRIBUTE_DIRECTORY);
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    std::string below = dir;
    for (;;) {
        const std::size_t cut = LastSeparator(below, "\\/", AnsiLeadByte);
        // At the top ("C:", "\\\\server\\share" and above): nothing lists it.
        if (cut == std::string::npos || cut == 0 || (below.compare(0, 2, "\\\\") == 0 && cut <= 2)) return false;
        const std::string parent = below.substr(0, cut);
        WIN32_FIND_DATAA found;
        TFindHandle find(::FindFirstFileA((parent + "\\*").c_str(), &found));
        if (find) {
            // The parent lists: the folder is gone unless a folder of its
            // name is there after all (then it cannot be read).
            const DWORD attributes = ::GetFileAttributesA(below.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD why = ::GetLastError();
                return why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND;
            }
            return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        const DWORD why = ::GetLastError();
        if (why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND) return false;
        below = parent;
    }
}

}  // namespace

void ListAllFiles(const std::string& dir, std::vector<std::string>& list, bool recurse) {
    TFolderWalk(nullptr, recurse, list, nullptr).Run(dir);
}

TScanResult ScanFolder(const std::string& path, bool recurse, const std::vector<std::string>& extensions) {
    TScanResult result;
    if (path.empty()) return result;
    std::string dir = path;
    if (dir.back() == '\\') dir.pop_back();
    {
        const std::string probe = dir + "\\*";
        if (probe.size() >= MAX_PATH) return result;
        WIN32_FIND_DATAA found;
        TFindHandle find(::FindFirstFileA(probe.c_str(), &found));
        if (!find) {
            result.Unreachable = !FolderIsGone(dir, ::GetLastError());
            return result;
        }
    }
    TFolderWalk(&extensions, recurse, result.Found, &result.Skipped).Run(dir);
    // Sorted once over the whole listing, not folder by folder.
    std::sort(result.Found.begin(), result.Found.end(), CatalogueLess);
    result.Root = std::move(dir);
    return result;
}
