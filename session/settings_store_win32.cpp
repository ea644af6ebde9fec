#include "session/settings_store_win32.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "session/settings.h"
#include "base/compare.h"
#include "base/registry_win32.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "catalogue/piclist.h"
#include "base/path_text.h"

namespace {

// One value of the settings key as a clamped integer (see DecodeSettingInt).
std::int32_t ReadSettingInt(HKEY key, const char* name, std::int32_t def) {
    return DecodeSettingInt(ReadRegString(key, name), def);
}

void LoadLegacyFolders() {
    LegacyFolders.clear();
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kFoldersKey);
    if (!key) return;
    DWORD valueCount = 0;
    DWORD maxName = 0;
    if (::RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                           &maxName, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<std::string> names;
    std::vector<char> name(static_cast<std::size_t>(maxName) + 2);
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD len = static_cast<DWORD>(name.size());
        if (::RegEnumValueA(key.Get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            continue;
        names.emplace_back(name.data(), len);
    }
    std::sort(names.begin(), names.end(), CatalogueLess);
    for (const std::string& n : names) {
        // A value of another type than a string is not a folder: skip it.
        if (std::optional<std::string> folder = ReadRegString(key.Get(), n.c_str()))
            LegacyFolders.push_back(*folder);
    }
}

}  // namespace

void LoadSettings() {
    LoadLegacyFolders();

    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    ApplyKeyDefaults(Settings, static_cast<bool>(key));
    Settings.Show = TShowOptions();
    if (key) {
        HKEY k = key.Get();
        Settings.Delay = ReadSettingInt(k, "Delay", 5000);
        Settings.Convert = ReadSettingInt(k, "Convert", 5000);
        SplitOrder(ReadSettingInt(k, "Order", 2), Settings);
        Settings.StopKey = ReadSettingInt(k, "StopKey", 1);
        Settings.MouseMove = ReadSettingInt(k, "MouseMove", 1) != 0;
        Settings.rtresize = ReadSettingInt(k, "rtresize", 1) != 0;
        Settings.Effdata = kEffdataBias - ReadSettingInt(k, "Effdata", 75);
        // Read only: no page of the dialog sets it yet.
        Settings.IntendedColours = ReadSettingInt(k, "IntendedColours", 1) != 0;
        Settings.Show = DecodeShowOptions([k](const char* name) { return ReadRegString(k, name); });
    }

    Settings.InstallPath.clear();
    if (TRegKey machine = OpenRegKey(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_READ))
        Settings.InstallPath = ReadRegString(machine.Get(), "Path").value_or(std::string());

    Settings.CatalogueFile.clear();
    if (Settings.InstallPath.empty()) {
        ShowMessage("Corrupted registry.\r\nPlease, Reinstall Quorvane");
        return;
    }
    Settings.CatalogueFile = CatalogueFileFor(Settings.InstallPath, ShellFolder("AppData"));
}

void SaveSettings() {
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    std::string unwritten;
    auto values = SettingsToSave(Settings);
    for (auto& show : ShowOptionsToSave(Settings.Show)) values.push_back(std::move(show));
    for (const auto& [name, value] : values) {
        if (!WriteRegString(key.Get(), name.c_str(), value)) unwritten += (unwritten.empty() ? "" : ", ") + name;
    }
    // What "Order" stored is the order with its two flags; the order itself
    // is the part below 8.
    Settings.Order %= 8;

    if (!Settings.CatalogueFile.empty() &&
        ::GetFileAttributesA(Settings.CatalogueFile.c_str()) == INVALID_FILE_ATTRIBUTES)
        EnsureFolder(FolderPart(Settings.CatalogueFile, AnsiLeadByte));
    PicList.SaveToFile(Settings.CatalogueFile);  // raises to the caller

    // The catalogue is saved; the settings that did not reach the registry
    // are reported as a failed catalogue save is.
    if (!unwritten.empty())
        throw Exception("The settings could not be written to the registry key HKEY_CURRENT_USER\\" +
                        std::string(kSettingsKey) + " (" + unwritten +
                        "). The key may not be written by this user.");
}
