#pragma once
#include <cstdint>
#include <optional>
#include <string>

// Lower-cases ASCII A to Z only: the comparison of extensions and of the
// resume check, not the catalogue's (base/compare.h).
std::string LowerAscii(std::string text);

// Strict signed decimal conversion to 32 bits; nullopt on any error.
std::optional<std::int32_t> ParseInt32(const std::string& text);
