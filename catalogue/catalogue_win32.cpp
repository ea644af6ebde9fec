#include "catalogue/catalogue_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "base/handles_win32.h"
#include "base/path_text.h"
#include "base/system_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/scan_win32.h"

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

std::string SystemMessage(DWORD code) {
    char text[512];
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) message = "System error " + std::to_string(code) + ".";
    return message;
}

Exception FileError(const char* what, const std::string& path, DWORD code) {
    return Exception(std::string(what) + " \"" + path + "\". " + SystemMessage(code));
}

// Reads through a 64 KiB buffer; reads at least that large go straight
// into the caller's memory, so a picture block costs one copy.
class TFileSource final : public TByteSource {
public:
    explicit TFileSource(HANDLE file) : file_(file) {
        LARGE_INTEGER size;
        known_ = ::GetFileSizeEx(file, &size) != 0 && size.QuadPart >= 0;
        if (known_) remaining_ = size_ = std::uint64_t(size.QuadPart);
    }

    std::size_t Read(void* dst, std::size_t n) override {
        char* out = static_cast<char*>(dst);
        std::size_t done = 0;
        while (done < n) {
            if (pos_ < end_) {
                const std::size_t take = std::min(n - done, end_ - pos_);
                std::memcpy(out + done, buffer_.data() + pos_, take);
                pos_ += take;
                done += take;
                continue;
            }
            const std::size_t want = n - done;
            if (want >= buffer_.size()) {
                const std::size_t got = ReadRaw(out + done, want);
                done += got;
                if (got < want) break;
            } else {
                end_ = ReadRaw(buffer_.data(), buffer_.size());
                pos_ = 0;
                if (end_ == 0) break;
            }
        }
        if (known_) remaining_ -= std::min<std::uint64_t>(remaining_, done);
        return done;
    }

    bool Remaining(std::uint64_t& bytes) const override {
        bytes = remaining_;
        return known_;
    }

    bool Failed() const override { return failed_; }
    DWORD Error() const { return error_; }
    // Bytes read before the failure.
    std::uint64_t Position() const { return position_; }
    // The file's size when the source began; 0 when unknown.
    std::uint64_t Size() const { return size_; }

private:
    // A read error is not the end of the file. A failed read is tried again
    // in smaller and smaller pieces, so that everything before the part
    // that cannot be read arrives (a byte-range lock, a bad block, a share
    // that stopped answering); there the source fails for good.
    std::size_t ReadRaw(char* dst, std::size_t n) {
        std::size_t done = 0;
        while (done < n && !failed_) {
            DWORD chunk = DWORD(std::min<std::size_t>(n - done, 1u << 30));
            DWORD got = 0;
            while (!ReadAt(dst + done, chunk, got)) {
                if (chunk == 1) {
                    failed_ = true;
                    break;
                }
                chunk /= 2;
            }
            if (got == 0) break;
            done += got;
            position_ += got;
        }
        return done;
    }

    // One read at the current position; false when it failed, true at the
    // end of the file (with nothing read).
    bool ReadAt(char* dst, DWORD n, DWORD& got) {
        OVERLAPPED at = {};
        at.Offset = DWORD(position_ & 0xFFFFFFFFu);
        at.OffsetHigh = DWORD(position_ >> 32);
        got = 0;
        if (::ReadFile(file_, dst, n, &got, &at)) return true;
        error_ = ::GetLastError();
        return error_ == ERROR_HANDLE_EOF;
    }

    HANDLE file_;  // not owned
    bool failed_ = false;
    DWORD error_ = 0;
    std::uint64_t position_ = 0;  // of the next read
    std::uint64_t size_ = 0;
    bool known_ = false;
    std::uint64_t remaining_ = 0;  // bytes of the file not yet handed out
    // On the heap: the caller may run on a thread with a small stack.
    std::vector<char> buffer_ = std::vector<char>(kBufferSize);
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

class TFileSink final : public TByteSink {
public:
    TFileSink(HANDLE file, const std::string& path) : file_(file), path_(path) {}

    void Write(const void* src, std::size_t n) override {
        const char* in = static_cast<const char*>(src);
        if (used_ + n <= buffer_.size()) {
            std::memcpy(buffer_.data() + used_, in, n);
            used_ += n;
            return;
        }
        Flush();
        if (n >= buffer_.size()) {
            WriteRaw(in, n);
        } else {
            std::memcpy(buffer_.data(), in, n);
            used_ = n;
        }
    }

    void Flush() {
        WriteRaw(buffer_.data(), used_);
        used_ = 0;
    }

private:
    void WriteRaw(const char* src, std::size_t n) {
        std::size_t done = 0;
        while (done < n) {
            const DWORD chunk = DWORD(std::min<std::size_t>(n - done, 1u << 30));
            DWORD wrote = 0;
            if (!::WriteFile(file_, src + done, chunk, &wrote, nullptr) || wrote == 0)
                throw FileError("Cannot write file", path_, ::GetLastError());
            done += wrote;
        }
    }

    HANDLE file_;  // not owned
    const std::string& path_;  // not owned
    std::vector<char> buffer_ = std::vector<char>(kBufferSize);
    std::size_t used_ = 0;
};

// True when `name` is `base` + "." + a process id + ".tmp"; the id in `pid`.
bool IsTempName(const std::string& name, const std::string& base, DWORD& pid) {
    constexpr std::size_t kSuffix = 4;  // ".tmp"
    if (name.size() <= base.size() + 1 + kSuffix) return false;
    if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), static_cast<int>(base.size()),
                         base.c_str(), static_cast<int>(base.size())) != CSTR_EQUAL ||
        name[base.size()] != '.' ||
        ::lstrcmpiA(name.c_str() + name.size() - kSuffix, ".tmp") != 0)
        return false;
    const std::string digits = name.substr(base.size() + 1, name.size() - base.size() - 1 - kSuffix);
    if (digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long long value = std::stoull(digits);
    if (value > 0xFFFFFFFFull) return false;
    pid = static_cast<DWORD>(value);
    return true;
}

// Removes the temporary files that saves killed before their replace left
// beside `path`. A file whose process still runs may be a save in progress
// and stays; so does one still open (it cannot be deleted then anyway).
void RemoveStaleTemps(const std::string& path) {
    const std::size_t slash = LastSeparator(path, "\\/", AnsiLeadByte);
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = path.substr(folder.size());
    WIN32_FIND_DATAA found;
    TFindHandle find(::FindFirstFileA((path + ".*.tmp").c_str(), &found));
    if (!find) return;
    do {
        DWORD pid = 0;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsTempName(found.cFileName, base, pid) ||
            pid == ::GetCurrentProcessId())
            continue;
        if (TKernelHandle process{::OpenProcess(SYNCHRONIZE, FALSE, pid)}) {
            if (::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) continue;
        } else if (::GetLastError() != ERROR_INVALID_PARAMETER) {
            continue;  // the process exists but may not be looked at
        }
        ::DeleteFileA((folder + found.cFileName).c_str());
    } while (::FindNextFileA(find.Get(), &found));
}

}  // namespace


std::string CatalogueTempPath(const std::string& path) {
    // Per process, so two savers never write into each other's file.
    return path + "." + std::to_string(::GetCurrentProcessId()) + ".tmp";
}

void TPicList::LoadFromFile(const std::string& path) {
    // Another program (a virus scanner, a backup) may hold the file for a
    // moment; two retries ride that out.
    static const unsigned kWaits[] = {100, 500};
    TKernelHandle file;
    for (int attempt = 0;; ++attempt) {
        file.Reset(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (file) break;
        const DWORD error = ::GetLastError();
        if (attempt == 2) throw FileError("Cannot open file", path, error);
        if (CatalogueHooks().RetryWait)
            CatalogueHooks().RetryWait(kWaits[attempt]);
        else
            ::Sleep(kWaits[attempt]);
    }
    TFileSource source(file.Get());
    readProblem_.clear();
    LoadFromStream(source);
    if (source.Failed()) {
        readProblem_ = "The file \"" + path + "\" could be read only up to byte " +
                       std::to_string(source.Position()) + " of " + std::to_string(source.Size()) + ". " +
                       SystemMessage(source.Error());
    }
}

void SaveFileReplacing(const std::string& path, const std::function<void(TByteSink&)>& write) {
    // The old file stays untouched until the new one is complete on disk;
    // the replace is one step, so no moment exists without a whole file.
    // No location (the installation path is missing): the temporary file
    // would land in the current folder, so fail before writing anything.
    if (path.empty()) throw FileError("Cannot create file", path, ERROR_PATH_NOT_FOUND);
    const std::string temp = CatalogueTempPath(path);
    {
        TKernelHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw FileError("Cannot create file", path, ::GetLastError());
        try {
            TFileSink sink(file.Get(), path);
            write(sink);
            sink.Flush();
            if (!::FlushFileBuffers(file.Get())) throw FileError("Cannot write file", path, ::GetLastError());
        } catch (...) {
            file.Reset();
            ::DeleteFileA(temp.c_str());
            throw;
        }
    }
    if (CatalogueHooks().BeforeReplace) CatalogueHooks().BeforeReplace(temp);
    if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileA(temp.c_str());
        throw FileError("Cannot create file", path, error);
    }
    RemoveStaleTemps(path);
}

void TPicList::SaveToFile(const std::string& path) const {
    if (path.empty()) throw FileError("Cannot create file", path, ERROR_PATH_NOT_FOUND);
    if (!readProblem_.empty())
        throw Exception("The list of pictures was read only in part, so it is not saved over \"" + path +
                        "\". " + readProblem_);
    SaveFileReplacing(path, [this](TByteSink& sink) { SaveToStream(sink); });
}

void LoadCatalogue(TPicList& list, const TCatalogueSource& source) {
    const std::string& file = source.File;
    if (FileExists(file)) {
        list.LoadFromFile(file);
        // Entry 0 is the root entry of single pictures and never rescanned.
        for (int i = 1; i < list.Count(); ++i) {
            TFolderItem& item = list.ItemAt(i);
            if (!item.AutoRefresh) continue;
            // The scan options' Subfolders, not the entry's IncludeSubdirs:
            // the settings turn it on, so the refresh at start descends.
            const TScanResult scan = ScanFolder(item.FolderPath, source.Scan.Subfolders, source.Scan.Extensions);
            // A folder that cannot be reached now (a sleeping network drive,
            // a disk not plugged in) keeps its list; only one that is gone
            // loses it.
            item.Unreachable = scan.Unreachable;
            if (scan.Unreachable) continue;
            item.Pictures.Clear();
            item.Pictures.Append(scan.Found);
        }
    } else {
        EnsureFolder(FolderPart(file, AnsiLeadByte));
        BuildDefaultCatalogue(list, source);
    }
    if (list.Count() == 0) list.AddFolder("Root");
}

void BuildDefaultCatalogue(TPicList& list, const TCatalogueSource& source) {
    if (list.Count() == 0) list.AddFolder("Root");
    std::vector<std::string> candidates = source.LegacyFolders;
    if (candidates.empty()) {
        // Without an installation folder "\Photos" would name a folder at
        // the top of whatever drive is current; it is left out.
        if (!source.InstallPath.empty()) {
            std::string photos = source.InstallPath;
            if (photos.back() != '\\') photos += '\\';
            candidates.push_back(photos + "Photos");
        }
        const std::string pictures = MyPicturesFolder();
        if (!pictures.empty()) candidates.push_back(pictures);
    }
    for (const std::string& folder : candidates) {
        if (folder.empty()) continue;
        const TScanResult scan = ScanFolder(folder, source.Scan.Subfolders, source.Scan.Extensions);
        if (scan.Found.empty()) continue;
        list.ItemAt(list.AddFolder(folder)).Pictures.Append(scan.Found);
    }
}
