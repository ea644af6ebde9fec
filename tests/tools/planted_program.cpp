// Stands in for a program planted beside the user's files: when it runs, it
// leaves "planted-ran.txt" in its own folder and ends. The tests copy it
// under a system program's name into a folder and check that it never runs.
#include <windows.h>

int main() {
    char path[MAX_PATH + 32] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\') --n;
    lstrcpyA(path + n, "planted-ran.txt");
    HANDLE marker = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    return 0;
}
