#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "catalogue/hooks_win32.h"

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

// Converts names for the ANSI file functions and refuses every name their
// code page cannot spell exactly. A best-fit stand-in ("a" for an "a" with
// a macron) names another file or none, so it counts as a loss like "?".
class TAnsiNames {
public:
    TAnsiNames() {
        const bool ansi = ::AreFileApisANSI() != 0;
        codePage_ = ansi ? CP_ACP : CP_OEMCP;
        utf8_ = (ansi ? ::GetACP() : ::GetOEMCP()) == CP_UTF8;
        // Every ANSI code page spells ASCII as itself; some OEM ones do not.
        asciiAsIs_ = ansi;
    }

    // Writes `name` into `out`; its length in bytes, or -1 when a character
    // has no exact equivalent or `out` is too small.
    int Convert(const WCHAR* name, int length, char* out, int capacity) const {
        if (length <= 0) return 0;
        if (asciiAsIs_ && length <= capacity) {
            int i = 0;
            for (; i < length && name[i] < 0x80; ++i) out[i] = static_cast<char>(name[i]);
            if (i == length) return length;
        }
        BOOL lost = FALSE;
        // UTF-8 has every character but refuses the flags and the loss
        // report; an unpaired surrogate is its one loss.
        const int n = utf8_ ? ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, length, out,
                                                    capacity, nullptr, nullptr)
                            : ::WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, name, length, out,
                                                    capacity, nullptr, &lost);
        return n > 0 && !lost ? n : -1;
    }

    // Appends `text` converted to `out`; false, with `out` as it was, when
    // it cannot be spelled.
    bool Append(std::wstring_view text, std::string& out) const {
        const std::size_t at = out.size();
        // At most three bytes for each UTF-16 unit, in any code page.
        out.resize(at + text.size() * 3);
        const int n =
            Convert(text.data(), static_cast<int>(text.size()), &out[at], static_cast<int>(text.size() * 3));
        out.resize(n < 0 ? at : at + static_cast<std::size_t>(n));
        return n >= 0;
    }

    std::wstring Widen(std::string_view text) const {
        std::wstring wide;
        if (text.empty()) return wide;
        const int n =
            ::MultiByteToWideChar(codePage_, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (n <= 0) return wide;
        wide.resize(static_cast<std::size_t>(n));
        ::MultiByteToWideChar(codePage_, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
        return wide;
    }

private:
    UINT codePage_;   // the one the ANSI file functions use
    bool utf8_;       // that code page is UTF-8
    bool asciiAsIs_;  // ASCII converts to itself
};

// The length of the short name the system reported for an entry: `units`,
// or none where the hooks say the volume keeps no short names.
inline std::size_t ShortNameUnits(const TCatalogueHooks& hooks, std::size_t units) {
    return hooks.NoShortNames ? 0 : units;
}
