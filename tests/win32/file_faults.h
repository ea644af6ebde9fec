#pragma once
// Real file-system faults for the Windows tests under Wine: a file whose
// reads fail part-way (a FUSE file system served by the Unix program
// faulty_fs), and a drive letter whose folder has gone (a link in the
// prefix's dosdevices folder to a folder then removed). Each says whether
// it could be made; where not (not root, no FUSE), tests skip.
#include <windows.h>

#include <string>

#include "tests/win32/test_files.h"

// Starts a Unix command from inside Wine; false where that is not possible.
// Wine cannot wait for a Unix process: callers poll for its effect.
inline bool StartUnixCommand(const std::string& command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = command;
    // For a Unix program Wine reports success with handle values that name
    // nothing of the new process: closing them could close a handle of ours
    // that happens to have the same value (stdout, say), so they are left
    // alone.
    return ::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
}

// The Unix path of a Windows one; empty outside Wine.
inline std::string UnixPathOf(const std::string& windowsPath) {
    using TUnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<TUnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* name = unixName(wide.c_str());
    if (!name) return {};
    std::string out = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return out;
}

inline bool PathExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits up to `ms` for `done`.
template <typename F>
bool WaitUntil(F done, int ms = 10000) {
    for (int i = 0; i < ms / 10 && !done(); ++i) ::Sleep(10);
    return done();
}

// `bytes` served as `folder`\piclist.dat, every read that reaches byte
// `fault` failing. `folder` must exist and be empty.
class TFaultyFile {
public:
    TFaultyFile(const std::string& folder, const std::string& bytes, std::size_t fault) : folder_(folder) {
        const std::string source = folder + ".bytes";
        WriteAll(source, bytes);
        mount_ = UnixPathOf(folder);
        const std::string unixSource = UnixPathOf(source);
        if (mount_.empty() || unixSource.empty()) return;
        const std::string program = std::string(QV_BIN_DIR) + "/faulty_fs";
        if (!StartUnixCommand(program + " \"" + mount_ + "\" \"" + unixSource + "\" " + std::to_string(fault) +
                              " 120"))
            return;
        made_ = WaitUntil([&] { return PathExists(Path()); }, 5000);
    }
    ~TFaultyFile() {
        if (made_ && StartUnixCommand("/bin/umount -l \"" + mount_ + "\""))
            WaitUntil([&] { return !PathExists(Path()); }, 5000);
        ::DeleteFileA((folder_ + ".bytes").c_str());
    }
    TFaultyFile(const TFaultyFile&) = delete;
    TFaultyFile& operator=(const TFaultyFile&) = delete;

    bool Made() const { return made_; }
    std::string Path() const { return folder_ + "\\piclist.dat"; }

private:
    std::string folder_;
    std::string mount_;  // Unix path of the folder
    bool made_ = false;
};

// A drive letter of this Wine prefix for `folder` (a Windows path), whose
// folder Vanish then removes: the drive stays, as a network drive that does
// not answer or a disk that is not plugged in. The letter goes with this.
class TVanishingDrive {
public:
    explicit TVanishingDrive(const std::string& folder) : folder_(folder) {
        const std::string c = UnixPathOf("C:\\");
        const std::size_t at = c.find("/dosdevices/");
        if (at == std::string::npos) return;
        const std::string dosdevices = c.substr(0, at + 11);
        const DWORD drives = ::GetLogicalDrives();
        for (char letter = 'q'; letter <= 'y'; ++letter) {
            if (drives & (1u << (letter - 'a'))) continue;
            link_ = dosdevices + "/" + letter + ":";
            root_ = std::string(1, char(letter - 'a' + 'A')) + ":";
            break;
        }
        if (link_.empty()) return;
        unixFolder_ = UnixPathOf(folder);
        made_ = !unixFolder_.empty() && StartUnixCommand("/bin/ln -s \"" + unixFolder_ + "\" \"" + link_ + "\"") &&
                WaitUntil([&] { return PathExists(root_ + "\\"); }, 5000);
    }
    ~TVanishingDrive() {
        if (!link_.empty() && StartUnixCommand("/bin/rm -f \"" + link_ + "\""))
            WaitUntil([&] { return !PathExists(root_ + "\\"); }, 5000);
    }
    TVanishingDrive(const TVanishingDrive&) = delete;
    TVanishingDrive& operator=(const TVanishingDrive&) = delete;

    bool Made() const { return made_; }
    // "Q:" and the like.
    const std::string& Root() const { return root_; }
    // Removes the folder behind the drive, and all in it.
    bool Vanish() {
        return StartUnixCommand("/bin/rm -rf \"" + unixFolder_ + "\"") &&
               WaitUntil([&] { return !PathExists(root_ + "\\"); }, 5000);
    }

private:
    std::string folder_;
    std::string unixFolder_;
    std::string link_;  // the drive's link in dosdevices
    std::string root_;
    bool made_ = false;
};
