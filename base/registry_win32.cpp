#include "base/registry_win32.h"

#include <vector>


TRegKey OpenRegKey(HKEY root, const char* path, REGSAM access) {
    TRegKey key;
    if (::RegOpenKeyExA(root, path, 0, access, key.Put()) != ERROR_SUCCESS) key.Release();
    return key;
}

TRegKey CreateRegKey(HKEY root, const char* path) {
    TRegKey key;
    if (::RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                          key.Put(), nullptr) == ERROR_SUCCESS)
        return key;
    key.Release();
    return OpenRegKey(root, path, KEY_READ);
}

std::optional<std::string> ReadRegString(HKEY key, const char* name) {
    if (!key) return std::nullopt;
    // The value may change size between the two calls; retry a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = ::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
        DWORD got = size;
        rc = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        // Stored strings need not be terminated; stop at the first NUL.
        std::string text(buffer.data(), got <= size ? got : size);
        const std::size_t nul = text.find('\0');
        if (nul != std::string::npos) text.resize(nul);
        return text;
    }
    return std::nullopt;
}

bool WriteRegString(HKEY key, const char* name, const std::string& value) {
    if (!key) return false;
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

