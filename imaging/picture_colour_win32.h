#pragma once
#include <string>

#include "imaging/embedded_colour.h"

// What a picture file says about its colours, read from the file itself:
// the headers are walked with small reads at the offsets they name, never
// the whole file. A file that cannot be opened or read reads as untagged.
// Where the reader leaves it to the system (a PNG's compressed profile, a
// container it does not know), the system's decoder is asked for its colour
// contexts.
TEmbeddedColour ReadPictureColour(const std::string& fileName);
