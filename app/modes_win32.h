#pragma once
#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>

// The command line's result, kept for the life of the process.
extern std::string ModeText;
extern std::string ArgumentText;
extern HWND HostWindow;

// Parses the process command line into ModeText, ArgumentText, HostWindow.
void ParseProcessCommandLine(const char* raw);
// Runs the mode the command line names; returns when the mode returns.
void DispatchMode();
// The Windows 9x password change through "MPR.DLL"; does nothing without it.
void ChangePassword(HWND owner);
