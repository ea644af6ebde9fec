#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TPicList;
struct TSettings;

// Loads the settings record, the installation folder, the catalogue file's
// location and the folder paths of the old "Folders" subkey (in
// CatalogueCompare order) from the registry.
void LoadSettings(TSettings& settings, std::vector<std::string>& legacyFolders);
// Writes the settings values, then `catalogue` to the catalogue file. A
// failed catalogue write is raised to the caller, and so, once the
// catalogue is written, is a settings value the registry did not take.
void SaveSettings(const TSettings& settings, const TPicList& catalogue);
