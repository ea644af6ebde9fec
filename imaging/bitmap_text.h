#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Where the lines of a text drawn into a picture go: the portable half of
// imaging/bitmap_text_win32.h.

// A message split into its lines at each carriage return.
std::vector<std::string> MessageLines(const std::string& text);
// Top of line k of a message in a bitmap of height h, for text height th:
// lines 1.2 text heights apart (to the nearest, ties to even), line 1
// centred vertically, so a one-line message sits one step above the centre.
std::int32_t MessageLineTop(std::int32_t h, std::int32_t th, std::int32_t k);
