#pragma once
#include <windows.h>

#include <string>

#include "diag/sysinfo.h"

// The crash report's descriptions of this machine, read from the system
// when the report is written. None throws: each gives its failure text.

std::string SystemText();
std::string ProcessorText();                   // "failed" on error
std::string MemoryText();                      // empty on error
std::string OpenGLVersionText();               // empty without a current context
std::string AccelerationText();                // empty when the pixel format cannot be described
std::string AdapterText();                     // empty without a current context
std::string ResolutionText(HWND saverWindow);  // "0x0" without a window

// The processor record, identified and measured on first use.
const TCpuInfo& IdentifyCpu();
