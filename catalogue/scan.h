#pragma once
#include <string>
#include <vector>

// Folder scanning: turns a folder into the sorted list of the pictures it
// holds, judged by file-name extension (the rule of imaging/extension.h).
// The walk itself is in scan_win32.cpp. A walk keeps no state between
// calls: what it takes comes in as arguments, what it finds goes out in its
// result.

// What a scan left out because the code page of the ANSI file functions
// cannot spell a name and its volume keeps no short (8.3) name for it. A
// folder left out counts once, whatever it holds; files count only when
// their names make them pictures.
struct TScanSkipped {
    int Pictures = 0;
    int Folders = 0;
};

struct TScanResult {
    std::vector<std::string> Found;  // full paths, sorted with CatalogueCompare
    std::string Root;                // the folder walked, without its trailing "\"; empty when not found
    TScanSkipped Skipped;
    // The folder was not found and is not known to be gone: its drive or
    // network share cannot be reached, or it cannot be read. A folder is
    // gone only where the nearest folder above it that can be listed shows
    // it missing. What the catalogue holds for such a folder stays as it is.
    bool Unreachable = false;
};

// The pictures of `path`, and of every folder below it when `recurse`: the
// files whose extensions, A to Z lower-cased, are among `extensions`. A
// name the code page cannot spell is listed by its short name, which opens
// the same file. A missing or unreadable folder gives an empty result, with
// Unreachable set unless the folder is really gone.
TScanResult ScanFolder(const std::string& path, bool recurse, const std::vector<std::string>& extensions);
// Appends every file of `dir` (and below it when `recurse`), unsorted and
// with no extension test.
void ListAllFiles(const std::string& dir, std::vector<std::string>& list, bool recurse);
