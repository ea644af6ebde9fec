#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The screensaver host's command line.
struct TCommandLine {
    std::string ModeText;         // mode letter(s), lower case
    std::string ArgumentText;     // window-handle argument, lower case
    std::int32_t HostWindow = 0;  // 0 when absent or not a number
};

enum class TMode { Config, Preview, Run, Password, Unknown };

// Splits a raw Windows command line into arguments (whitespace separates,
// double quotes group), dropping the program name.
std::vector<std::string> SplitCommandLine(const std::string& raw);

TCommandLine ParseCommandLine(const std::vector<std::string>& args);
TMode ModeOf(const std::string& modeText);
