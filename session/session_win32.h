#pragma once
#include <windows.h>

#include "base/handles_win32.h"

// Seeds the random generator, sets the message font, creates the shared
// lists and loads settings, plug-ins and catalogue.
void MakeSession();
// Releases everything MakeSession made and ends the process with
// exit code 0.
[[noreturn]] void EndSessionAndExit();
