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

void LoadLegacyFolders(std::vector<std::string>& legacyFolders) {
    legacyFolders.clear();
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
            legacyFolders.push_back(*folder);
    }
}

}  // namespace

void LoadSettings(TSettings& settings, std::vector<std::string>& legacyFolders) {
    LoadLegacyFolders(legacyFolders);

    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    ApplyKeyDefaults(settings, static_cast<bool>(key));
    settings.Show = TShowOptions();
    if (key) {
        HKEY k = key.Get();
        settings.Delay = ReadSettingInt(k, "Delay", 5000);
        settings.Convert = ReadSettingInt(k, "Convert", 5000);
        SplitOrder(ReadSettingInt(k, "Order", 2), settings);
        settings.StopKey = ReadSettingInt(k, "StopKey", 1);
        settings.MouseMove = ReadSettingInt(k, "MouseMove", 1) != 0;
        settings.rtresize = ReadSettingInt(k, "rtresize", 1) != 0;
        settings.Effdata = kEffdataBias - ReadSettingInt(k, "Effdata", 75);
        settings.IntendedColours = ReadSettingInt(k, "IntendedColours", 1) != 0;
        settings.Show = DecodeShowOptions([k](const char* name) { return ReadRegString(k, name); });
    }

    settings.InstallPath.clear();
    if (TRegKey machine = OpenRegKey(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_READ))
        settings.InstallPath = ReadRegString(machine.Get(), "Path").value_or(std::string());

    settings.CatalogueFile.clear();
    if (settings.InstallPath.empty()) {
        ShowMessage("Corrupted registry.\r\nPlease, Reinstall Quorvane");
        return;
    }
    settings.CatalogueFile = CatalogueFileFor(settings.InstallPath, ShellFolder("AppData"));
}

void SaveSettings(const TSettings& settings, const TPicList& catalogue) {
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    std::string unwritten;
    auto values = SettingsToSave(settings);
    for (auto& show : ShowOptionsToSave(settings.Show)) values.push_back(std::move(show));
    values.emplace_back("IntendedColours", settings.IntendedColours ? "1" : "0");
    for (const auto& [name, value] : values) {
        if (!WriteRegString(key.Get(), name.c_str(), value)) unwritten += (unwritten.empty() ? "" : ", ") + name;
    }
    if (!settings.CatalogueFile.empty() &&
        ::GetFileAttributesA(settings.CatalogueFile.c_str()) == INVALID_FILE_ATTRIBUTES)
        EnsureFolder(FolderPart(settings.CatalogueFile, AnsiLeadByte));
    catalogue.SaveToFile(settings.CatalogueFile);  // raises to the caller

    // The catalogue is saved; the settings that did not reach the registry
    // are reported as a failed catalogue save is.
    if (!unwritten.empty())
        throw Exception("The settings could not be written to the registry key HKEY_CURRENT_USER\\" +
                        std::string(kSettingsKey) + " (" + unwritten +
                        "). The key may not be written by this user.");
}
