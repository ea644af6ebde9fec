#pragma once

// Height of the message font (negative: character height in pixels) for a
// primary screen of the given width.
int MessageFontHeight(int screenWidth);
