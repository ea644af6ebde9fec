#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The address of the driver-download page that the acceleration check
// offers: the page, then "?device=" and the display adapters, one
// "description(device)" line each, every line ended by a carriage return.

// RFC 3986 percent-encoding: letters, digits and - . _ ~ stay, every other
// byte becomes %XX (upper-case hex), so that names holding # ? & % or
// spaces cannot end or split the query.
std::string PercentEncoded(std::string_view text);

// Browsers and ShellExecute take addresses of about 2 KB at least.
constexpr std::size_t kMaxDriverPageUrl = 2048;

// `page` + "?device=" + the encoded lines. Lines that would take the
// address beyond `maxLength` are left out whole, from the last one back;
// the first line always goes in.
std::string DriverPageUrl(std::string_view page, const std::vector<std::string>& adapterLines,
                          std::size_t maxLength = kMaxDriverPageUrl);
