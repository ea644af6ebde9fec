#include "session/message_font.h"

int MessageFontHeight(int screenWidth) {
    if (screenWidth < 640) return -18;
    if (screenWidth <= 1000) return -16;
    if (screenWidth <= 1299) return -18;
    if (screenWidth <= 2000) return -20;
    return -18;
}
