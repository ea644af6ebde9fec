#include "catalogue/hidden_list_win32.h"

#include <windows.h>

#include <vector>

#include "base/handles_win32.h"
#include "base/system_win32.h"
#include "catalogue/catalogue_win32.h"
#include "catalogue/piclist.h"

namespace {

// A list of that size would hold a hundred thousand long paths; anything
// beyond it is no list of ours, and is read no further.
constexpr DWORD kMaxFileBytes = 64u << 20;

// The folder is there but the file is not: the picture was deleted or
// moved away. Any other answer (the path's folder is missing, the drive or
// share does not answer, access is denied) says nothing about the picture.
bool PictureGone(const std::string& path) {
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

THiddenList LoadHiddenList(const std::string& file) {
    THiddenList list;
    if (file.empty()) return list;
    TKernelHandle handle(::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle) return list;
    std::string data;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(handle.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
            got == 0)
            break;  // a read error ends the data as its end does; what came before stands
        data.append(buffer.data(), got);
        if (data.size() >= kMaxFileBytes) break;
    }
    list.Decode(data);
    list.RemoveIf(PictureGone);
    return list;
}

void SaveHiddenList(const THiddenList& list, const std::string& file) {
    if (!file.empty() && ::GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES)
        EnsureFolder(FolderPart(file, AnsiLeadByte));
    const std::string bytes = list.Encode();
    SaveFileReplacing(file, [&bytes](TByteSink& sink) { sink.Write(bytes.data(), bytes.size()); });
}
