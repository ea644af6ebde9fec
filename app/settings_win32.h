#pragma once
#include <cstdint>
#include <string>

// Loads the settings record, the installation folder, the catalogue file's
// location and LegacyFolders from the registry.
void LoadSettings();
// Writes the settings values, then the catalogue file. A failed catalogue
// write is raised to the caller; registry write failures are ignored.
void SaveSettings();

std::string ShellFolder(const char* name);
std::string MyPicturesFolder();
// Creates the one folder at `path` if nothing exists there; failures ignored.
void EnsureFolder(const std::string& path);
