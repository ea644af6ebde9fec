#pragma once
#include <string>

#include "catalogue/hidden_list.h"

// Reads the hidden list from `file`. Never raises: a missing, unreadable or
// damaged file gives what of it is sound, possibly nothing. Names of
// pictures that are gone from a folder that is still there are dropped; a
// name whose folder cannot be reached now (a removed drive, a share that
// is offline) is kept.
THiddenList LoadHiddenList(const std::string& file);

// Writes the list to `file` in one step, as the catalogue is saved: a
// temporary file beside it replaces it once complete, so a failed save (an
// Exception) leaves the previous file as it was. Creates the file's folder
// (one level) when it is missing.
void SaveHiddenList(const THiddenList& list, const std::string& file);
