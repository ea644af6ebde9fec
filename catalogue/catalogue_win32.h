#pragma once
#include <string>

// Test seams of the catalogue file access. The product leaves both unset.

// Called instead of Sleep between the attempts of TPicList::LoadFromFile.
using TCatalogueRetryWait = void (*)(unsigned milliseconds);
void SetCatalogueRetryWait(TCatalogueRetryWait wait);  // null: Sleep

// Called by TPicList::SaveToFile after the temporary file is complete and
// flushed, just before it replaces the catalogue file.
using TCatalogueBeforeReplace = void (*)(const std::string& tempPath);
void SetCatalogueBeforeReplace(TCatalogueBeforeReplace hook);  // null: nothing

// The temporary file SaveToFile writes beside `path`.
std::string CatalogueTempPath(const std::string& path);

// Makes the folder walk list every folder with FindFirstFileA/FindNextFileA,
// the route it otherwise takes only where the native listing fails.
void SetScanListsWithFindOnly(bool on);
