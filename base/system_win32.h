#pragma once
#include <windows.h>

#include <string>
#include <string_view>

// Small system helpers every subsystem shares.

// An export of `module` as a typed function pointer; null when it is missing.
template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// True when `path` names an existing file (a folder does not count).
bool FileExists(const std::string& path);
// True when at least one file or folder matches the wildcard `pattern`.
bool AnyMatch(const std::string& pattern);
// Creates the one folder at `path` if nothing exists there; failures ignored.
void EnsureFolder(const std::string& path);

// A folder of the user's profile as the shell records it ("AppData",
// "My Pictures"); empty when it is not recorded.
std::string ShellFolder(const char* name);
std::string MyPicturesFolder();

// Dispatches every message waiting for the calling thread. With `one`, at
// most one.
void PumpMessages(bool one = false);

// Whether `byte` begins a two-byte character of the ANSI code page, the one
// paths are spelled in (a TLeadByteTest of base/path_text.h).
bool AnsiLeadByte(unsigned char byte);

// `text` in `codePage`, widened; empty for empty or unconvertible text.
std::wstring Widen(std::string_view text, UINT codePage = CP_ACP);
