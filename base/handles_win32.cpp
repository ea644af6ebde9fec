#include "base/handles_win32.h"

#include <string>

HMODULE LoadSystemLibrary(const char* name) {
    // An absolute path from the system folder keeps a planted DLL in the
    // current or the program's folder from being picked up.
    char dir[MAX_PATH];
    const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::string path(dir, n);
    if (path.back() != '\\') path += '\\';
    path += name;
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
