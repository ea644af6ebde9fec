#pragma once
#include <string>

// Which way a picture stands, as its file's header says, without decoding
// its pixels: the size of its first frame, turned as its EXIF orientation
// says (5 to 8 stand it on its side).
enum class TPictureShape {
    Unknown,  // the system cannot read the header: fits any monitor
    Landscape,
    Portrait,
    Square,
};

TPictureShape PictureShapeOf(const std::string& fileName);
