// Without the system's declarations of the names it exports.
#define NOGDI
#include <windows.h>

// The functions the program or a plug-in would import from the libraries it
// stands in for, so that a static import of them binds here and does not
// fail to load.
extern "C" __declspec(dllexport) const unsigned char* WINAPI glGetString(unsigned) {
    return nullptr;
}
extern "C" __declspec(dllexport) void* WINAPI wglGetCurrentContext(void) {
    return nullptr;
}
extern "C" __declspec(dllexport) long WINAPI WICConvertBitmapSource(const void*, void*, void** out) {
    if (out) *out = nullptr;
    return static_cast<long>(0x80004005L);  // E_FAIL
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH + 16] = {};
    const DWORD n = ::GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    lstrcpyA(path + n, ".loaded");
    HANDLE mark = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) ::CloseHandle(mark);
    return TRUE;
}
