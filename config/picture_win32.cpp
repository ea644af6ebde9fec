#include "config/picture_win32.h"

#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"

void LoadPreviewPicture(TBitmap& target, const std::string& path, TPreviewInfo& info,
                        const TPrepareOptions& options) {
    PictureInfo picture;
    LoadPicture(target, path, picture, options);
    info.Width = picture.Width;
    info.Height = picture.Height;
    info.Format = picture.Format;
    info.FileSize = picture.FileSize;
}

std::vector<TFilterFormat> PluginFilterFormats(const TPluginHost& plugins) {
    std::vector<TFilterFormat> formats;
    for (const PluginEntry& entry : plugins.Table()) {
        if (!entry.Enabled) continue;
        const PluginInfo& info = entry.Info;
        for (int j = 0; j < info.FormatCount; ++j) {
            const char* extension = info.Extensions ? info.Extensions[j] : nullptr;
            const char* description = info.Descriptions ? info.Descriptions[j] : nullptr;
            formats.push_back({extension ? extension : "", description ? description : ""});
        }
    }
    return formats;
}
