#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "config/dialog_rules.h"
#include "imaging/bitmap_win32.h"
#include "imaging/prepare_win32.h"

// Where the dialog meets the image pipeline: the picture shown in the
// preview pane with its properties, and the formats the plug-ins offer.

struct TPreviewInfo {
    std::int32_t Width = 0;  // natural size; 0 when nothing was decoded
    std::int32_t Height = 0;
    const char* Format = nullptr;  // the plug-in's description; null when nothing was decoded
    std::int32_t FileSize = -1;    // bytes; -1 when the file could not be opened
};

// Decodes `path` fitted into `target`; a picture that cannot be decoded
// leaves the target black.
// `options` names the plug-ins and what is done with the colours the file
// describes.
void LoadPreviewPicture(TBitmap& target, const std::string& path, TPreviewInfo& info,
                        const TPrepareOptions& options);
// Every format of the enabled plug-ins of `plugins`, in table order.
std::vector<TFilterFormat> PluginFilterFormats(const TPluginHost& plugins);
