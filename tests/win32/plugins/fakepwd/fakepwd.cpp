#include <windows.h>

// Refuses every password, so that a saver which loaded this file would never end.
extern "C" BOOL WINAPI VerifyScreenSavePwd(HWND) {
    return FALSE;
}
