#include "base/system_win32.h"

#include "base/handles_win32.h"
#include "base/registry_win32.h"

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool AnyMatch(const std::string& pattern) {
    WIN32_FIND_DATAA data;
    TFindHandle find(::FindFirstFileA(pattern.c_str(), &data));
    return static_cast<bool>(find);
}

void EnsureFolder(const std::string& path) {
    if (path.empty()) return;
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    ::CreateDirectoryA(path.c_str(), nullptr);
}

std::string ShellFolder(const char* name) {
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kShellFoldersKey, KEY_READ);
    return ReadRegString(key.Get(), name).value_or(std::string());
}

std::string MyPicturesFolder() {
    return ShellFolder("My Pictures");
}

void PumpMessages(bool one) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
        if (one) return;
    }
}

bool AnsiLeadByte(unsigned char byte) {
    return ::IsDBCSLeadByte(byte) != 0;
}

std::wstring Widen(std::string_view text, UINT codePage) {
    std::wstring wide;
    if (text.empty()) return wide;
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return wide;
    wide.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}
