#pragma once
#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>

// Runs the mode the process's command line `raw` names; returns when the
// mode returns.
void DispatchMode(const char* raw);
// The Windows 9x password change through "MPR.DLL"; does nothing without it.
void ChangePassword(HWND owner);
