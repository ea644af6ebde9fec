#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "base/handles_win32.h"

// The product's keys, without the leading backslash the Win32 calls reject.
constexpr const char* kSettingsKey = "Software\\Tessilund\\Quorvane";
constexpr const char* kFoldersKey = "Software\\Tessilund\\Quorvane\\Folders";
constexpr const char* kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Opens an existing key; null when it is missing or access is denied.
TRegKey OpenRegKey(HKEY root, const char* path, REGSAM access = KEY_READ);
// Opens the key, creating it when it does not exist. Falls back to a
// read-only open when the key exists but cannot be written.
TRegKey CreateRegKey(HKEY root, const char* path);

// A REG_SZ or REG_EXPAND_SZ value of any length, without its terminator;
// nullopt for a missing value, another type or a failed read.
std::optional<std::string> ReadRegString(HKEY key, const char* name);
// Writes a REG_SZ value; false on failure.
bool WriteRegString(HKEY key, const char* name, const std::string& value);

