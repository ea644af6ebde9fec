#pragma once
#include <string>

// Stand-ins for tests, each replacing one thing the catalogue's file access
// and folder walk take from the system. The product leaves every field at
// its default.
struct TCatalogueHooks {
    // Waits between the attempts of TPicList::LoadFromFile (null: Sleep).
    void (*RetryWait)(unsigned milliseconds) = nullptr;
    // Runs when SaveToFile's temporary file is complete and flushed, just
    // before it replaces the catalogue file: the moment a save may be cut
    // off (null: nothing).
    void (*BeforeReplace)(const std::string& tempPath) = nullptr;
    // The system offers no native folder listing, so every folder is listed
    // with the find functions, as where that listing is missing or fails.
    bool NoNativeListing = false;
    // The file system reports no short (8.3) names to the folder walk and
    // AnsiPathOf, as on a volume with them switched off.
    bool NoShortNames = false;
};
void SetCatalogueHooks(const TCatalogueHooks& hooks);  // TCatalogueHooks{}: the system's own
const TCatalogueHooks& CatalogueHooks();               // the hooks in force
