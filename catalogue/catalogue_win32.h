#pragma once
#include <functional>
#include <string>
#include <vector>

#include "catalogue/hooks_win32.h"
#include "catalogue/scan_win32.h"

class TPicList;
class TByteSink;


// The temporary file SaveToFile writes beside `path`.
std::string CatalogueTempPath(const std::string& path);

// Writes a file as TPicList::SaveToFile does: `write` fills a temporary
// file beside `path` (CatalogueTempPath), which then replaces `path` in one
// step; a failure (raised as Exception) leaves the previous file as it was.
void SaveFileReplacing(const std::string& path, const std::function<void(TByteSink&)>& write);

// Where the catalogue comes from at start-up.
struct TCatalogueSource {
    std::string File;                        // piclist.dat; empty when unknown
    std::string InstallPath;                 // its "Photos" folder is a default
    std::vector<std::string> LegacyFolders;  // the old "Folders" list: the defaults when not empty
    TScanOptions Scan;                       // how folders are scanned
};

// Fills `list` from source.File, rescanning its auto-refresh folders, or
// builds the default catalogue when there is no file.
void LoadCatalogue(TPicList& list, const TCatalogueSource& source);
void BuildDefaultCatalogue(TPicList& list, const TCatalogueSource& source);
