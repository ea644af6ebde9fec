#pragma once
#include <string>
#include <string_view>
#include <vector>

// Folder scanning: turns a folder into the sorted list of the pictures it
// holds, judged by file-name extension against ExtensionList. The walk
// itself is in scan_win32.cpp; the extension rule is portable.

// Full paths found by the last ScanFolder, sorted with CatalogueCompare.
extern std::vector<std::string> FoundList;
// The folder of the last ScanFolder that found its folder.
extern std::string ScanRoot;

// What the last ScanFolder left out because the code page of the ANSI file
// functions cannot spell a name and its volume keeps no short (8.3) name
// for it. A folder left out counts once, whatever it holds; files count
// only when their names make them pictures.
struct TScanSkipped {
    int Pictures = 0;
    int Folders = 0;
};
extern TScanSkipped ScanSkipped;

// Replaces FoundList with the sorted pictures of `path` (and of its
// subfolders when Settings.ScanSubfolders is on). Main thread only.
void ScanFolder(const std::string& path);
// Appends the pictures of `dir`, and of the folders below it when
// Settings.ScanSubfolders is on, unsorted; what it leaves out is added to
// ScanSkipped. A name the code page cannot spell is listed by its short
// name, which opens the same file.
void ScanDirectory(const std::string& dir, std::vector<std::string>& list);
// Appends every file of `dir` (and below it when `recurse`), unsorted and
// with no extension test.
void ListAllFiles(const std::string& dir, std::vector<std::string>& list, bool recurse);

// The extension of a file name: from the last "." to the end, provided no
// "\", "/" or ":" follows that dot; empty when there is none.
std::string_view FileExtension(std::string_view name);
// True when the name's extension, with A to Z lower-cased, equals one of
// `extensions` byte for byte.
bool IsPictureName(std::string_view name, const std::vector<std::string>& extensions);
