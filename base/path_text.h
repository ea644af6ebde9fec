#pragma once
#include <cstddef>
#include <string_view>

// Paths are byte strings in the system's ANSI code page. In a double-byte
// code page (Japanese 932, Chinese 936 and 950, Korean 949) the second byte
// of a character may be 0x5C, the backslash, or 0x2F or 0x3A: a search for
// a separator must step over whole characters.

// Whether a byte begins a two-byte character of the code page in force;
// null stands for a single-byte code page.
using TLeadByteTest = bool (*)(unsigned char);

// Where the last of `separators` stands in `path` as a character of its
// own (never as the second byte of a two-byte one); npos when nowhere.
std::size_t LastSeparator(std::string_view path, std::string_view separators, TLeadByteTest isLead);
