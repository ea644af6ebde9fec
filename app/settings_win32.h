#pragma once
#include <cstdint>
#include <string>

// Loads the settings record, the installation folder, the catalogue file's
// location and LegacyFolders from the registry.
void LoadSettings();
// Writes the settings values, then the catalogue file. A failed catalogue
// write is raised to the caller, and so, once the catalogue is written, is a
// settings value the registry did not take.
void SaveSettings();
