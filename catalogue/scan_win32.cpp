#include <windows.h>

#include <algorithm>
#include <cstring>

#include "app/handles_win32.h"
#include "app/settings.h"
#include "catalogue/compare.h"
#include "catalogue/scan.h"

namespace {

// A folder's identity on its volume. Two paths that reach the same folder,
// through a junction, a symbolic link or a bind mount, have the same one.
struct TFolderId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const TFolderId& o) const {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};

bool ReadFolderId(const std::string& path, TFolderId& id) {
    // No access rights are needed to read the identity; sharing everything
    // keeps the probe from disturbing anyone else using the folder.
    TKernelHandle folder(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(folder.Get(), &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    return true;
}

// The depth-first walk shared by ScanDirectory and ListAllFiles. It never
// enters a folder it is already inside, so a link that leads back up the
// tree is listed once, not until the path length runs out.
class TFolderWalk {
public:
    // `extensions` null: every file is listed.
    TFolderWalk(const std::vector<std::string>* extensions, bool recurse, std::vector<std::string>& out)
        : extensions_(extensions), recurse_(recurse), out_(out) {}

    void Run(const std::string& dir) {
        TFolderId id;
        const bool known = ReadFolderId(dir, id);
        if (known) open_.push_back(id);
        Walk(dir);
        if (known) open_.pop_back();
    }

private:
    void Walk(const std::string& dir) {
        // A longer pattern would be cut by the ANSI functions into a
        // different path; such a folder is skipped instead.
        std::string path = dir + "\\*.*";
        if (path.size() >= MAX_PATH) return;
        WIN32_FIND_DATAA found;
        TFindHandle find(::FindFirstFileA(path.c_str(), &found));
        if (!find) return;
        path.resize(dir.size() + 1);  // dir + "\"
        do {
            const char* name = found.cFileName;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            const std::size_t nameLength = strnlen(name, sizeof found.cFileName);
            if (path.size() + nameLength >= MAX_PATH) continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (recurse_) Descend(path + std::string(name, nameLength), found.dwFileAttributes);
            } else if (!extensions_ || IsPictureName(std::string_view(name, nameLength), *extensions_)) {
                out_.push_back(path + std::string(name, nameLength));
            }
        } while (::FindNextFileA(find.Get(), &found));
    }

    void Descend(const std::string& dir, DWORD attributes) {
        TFolderId id;
        if (!ReadFolderId(dir, id)) {
            // Without an identity a link cannot be proven safe to follow.
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
            Walk(dir);
            return;
        }
        if (std::find(open_.begin(), open_.end(), id) != open_.end()) return;
        open_.push_back(id);
        Walk(dir);
        open_.pop_back();
    }

    const std::vector<std::string>* extensions_;  // not owned; null lists every file
    bool recurse_;
    std::vector<std::string>& out_;  // not owned
    std::vector<TFolderId> open_;    // the folders the walk is inside, outermost first
};

}  // namespace

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
