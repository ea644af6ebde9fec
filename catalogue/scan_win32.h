#pragma once
#include <string>
#include <string_view>

// Names outside the code page of the ANSI file functions. The catalogue,
// piclist.dat and the plug-ins take single-byte paths; a file or folder
// whose name that code page cannot spell is reached through its short (8.3)
// name, which is plain ASCII and opens the same file. Names the code page
// can spell are never changed.

// `path` in the code page of the ANSI file functions: converted as it is
// when every character has an exact equivalent there, else with each
// component that has none replaced by its short name. False when such a
// component has no short name (short names are switched off on its volume)
// or does not exist; `out` is then empty.
bool AnsiPathOf(std::wstring_view path, std::string& out);

// A path of the ANSI file functions as wide text, character for character.
std::wstring WidePathOf(std::string_view path);

// The path as its owner knows it: every short name in `path` replaced by
// the long one. `path` as wide text when it cannot be resolved (a file
// that is gone).
std::wstring LongPathOf(std::string_view path);
