#pragma once
#include <string>
#include <string_view>
#include <vector>

// The file-name extension rule that decides which pictures the catalogue
// lists and which plug-in decodes a file: an extension is compared with the
// plug-ins' lower-case extensions after folding A to Z (only) to lower case.

// The extension of a file name: from the last "." to the end, provided no
// "\", "/" or ":" follows that dot; empty when there is none.
std::string_view NameExtension(std::string_view name);
// The extension of `name` (a file name, a path or an extension itself) with
// A to Z lower-cased: what is compared with the plug-ins' extensions.
std::string ExtensionKey(std::string_view name);
// True when the name has an extension and its key equals one of
// `extensions` byte for byte.
bool HasListedExtension(std::string_view name, const std::vector<std::string>& extensions);
