#include "config/picture_win32.h"

#include <windows.h>

void LoadPreviewPicture(TBitmap& target, const std::string& path, TPreviewInfo& info) {
    info = TPreviewInfo();
    target.Clear();
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes) &&
        !(attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && attributes.nFileSizeHigh == 0 &&
        attributes.nFileSizeLow <= 0x7FFFFFFF)
        info.FileSize = static_cast<std::int32_t>(attributes.nFileSizeLow);
}

std::vector<TFilterFormat> PluginFilterFormats() {
    return {};
}
