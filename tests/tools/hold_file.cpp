// Holds a file open without sharing, the way a scanner or a backup program
// may, so that no other program can open it meanwhile:
//   hold_file PATH SECONDS
// Prints "held" once the file is open; exits 1 when it cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold_file PATH SECONDS\n");
        return 2;
    }
    HANDLE file = ::CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open %s (%lu)\n", argv[1], ::GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    ::CloseHandle(file);
    return 0;
}
