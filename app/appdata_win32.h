#pragma once
#include <windows.h>

#include "base/handles_win32.h"

// The logical font for texts drawn into pictures ("Courier New", height by
// screen width); filled by InitApplicationData.
extern LOGFONTA MessageFont;
// Fonts the message drawing creates on first use; deleted by
// FreeApplicationData.
extern TGdiObject MessageFontHandles[2];

// Seeds the random generator, sets the message font, creates the shared
// lists and loads settings, plug-ins and catalogue.
void InitApplicationData();
// Releases everything InitApplicationData made and ends the process with
// exit code 0.
[[noreturn]] void FreeApplicationData();
