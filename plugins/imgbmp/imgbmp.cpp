// Image plug-in: Windows and OS/2 bitmaps (1 to 32 bits per pixel, RLE4,
// RLE8, bit fields, bottom-up and top-down), decoded by imaging/bmp_decode.
// The file is mapped, never trusted, and a picture that cannot be decoded
// completely is not delivered at all.
#include <windows.h>

#include <cstdint>

#include "imaging/bmp_decode.h"
#include "plugins/common/host_link.h"

namespace {

// A read-only view of a whole file; empty when the file cannot be opened or
// is larger than the decoder's signed 32-bit limits.
class TMappedFile {
public:
    explicit TMappedFile(const char* name) {
        file_ = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(file_, &size) || size.QuadPart <= 0 || size.QuadPart > INT32_MAX) return;
        mapping_ = ::CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (!mapping_) return;
        data_ = static_cast<const std::uint8_t*>(::MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
        if (data_) size_ = static_cast<std::size_t>(size.QuadPart);
    }
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;
    ~TMappedFile() {
        if (data_) ::UnmapViewOfFile(data_);
        if (mapping_) ::CloseHandle(mapping_);
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    }
    const std::uint8_t* Data() const { return data_; }
    std::size_t Size() const { return size_; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// How a progressive delivery ended.
enum class TLines {
    Refused,    // the host refused line -1, or no line buffer: deliver the picture whole
    Delivered,  // every line reached the host
    Stopped,    // the host stopped part-way: the decode fails
};

// Hands the decoded rows to the host's line callback as red, green, blue.
// The line buffer is taken before line -1, so that once the host has
// accepted the lines nothing on this side can leave them unfinished.
TLines DeliverLines(TLineCallback callback, const std::uint8_t* pixels, std::int32_t w, std::int32_t h) {
    // w * h * 4 fits in 31 bits (BmpOutputBytes), so w * 4 and w * 3 do.
    const std::size_t lineBytes = static_cast<std::size_t>(w) * 3;
    void* line = ::HeapAlloc(::GetProcessHeap(), 0, lineBytes);
    if (!line) return TLines::Refused;
    TLines result = TLines::Refused;
    if (callback(1, -1, w, h) == 1) {
        result = TLines::Delivered;
        auto* rgb = static_cast<std::uint8_t*>(line);
        for (std::int32_t y = 0; y < h; ++y) {
            const std::uint8_t* src = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4;
            for (std::int32_t x = 0; x < w; ++x) {
                rgb[x * 3] = src[x * 4 + 2];
                rgb[x * 3 + 1] = src[x * 4 + 1];
                rgb[x * 3 + 2] = src[x * 4];
            }
            if (callback(reinterpret_cast<std::intptr_t>(rgb), y, w, h) != 1) {
                result = TLines::Stopped;
                break;
            }
        }
    }
    ::HeapFree(::GetProcessHeap(), 0, line);
    return result;
}

std::int32_t QV_CDECL DecodeBmp(const void* source, std::int32_t* width, std::int32_t* height,
                                std::int32_t* naturalWidth, std::int32_t* naturalHeight, void** pixels) {
    *pixels = nullptr;
    const std::int32_t wantedWidth = *width, wantedHeight = *height;
    (void)wantedWidth;
    (void)wantedHeight;  // bitmaps decode at their own size; the host fits them
    *width = 0;
    *height = 0;
    TMappedFile file(static_cast<const char*>(source));
    TBmpInfo info;
    if (!file.Data() || !ParseBmpHeader(file.Data(), file.Size(), info)) return 0;
    *naturalWidth = info.Width;
    *naturalHeight = info.Height;
    const std::int64_t bytes = BmpOutputBytes(info);
    if (bytes <= 0 || !Host.GetPictureBuffer) return 0;
    auto* buffer = static_cast<std::uint8_t*>(Host.GetPictureBuffer(static_cast<std::int32_t>(bytes)));
    if (!buffer || !DecodeBmpPixels(file.Data(), file.Size(), info, buffer)) return 0;
    if (const TLineCallback callback = Host.LineCallback()) {
        const TLines lines = DeliverLines(callback, buffer, info.Width, info.Height);
        if (lines == TLines::Stopped) return 0;
        if (lines == TLines::Delivered) {
            *width = info.Width;
            *height = info.Height;
            return 1;
        }
    }
    *width = info.Width;
    *height = info.Height;
    *pixels = buffer;
    return 1;
}

const char* const kExtensions[] = {".bmp", ".dib", ".rle"};
const char* const kDescriptions[] = {"Windows bitmap", "Windows bitmap",
                                     "Windows bitmap (run-length encoded)"};
const TDecoderFunc kDecoders[] = {DecodeBmp, DecodeBmp, DecodeBmp};

const PluginInfo kInfo = {
    kPluginMaxVersion,
    0,
    "Bitmap",
    kPluginTakesFileName | kPluginWantsShutdown | kPluginWantsServices,
    0,
    0,
    3,
    kExtensions,
    kDescriptions,
    kDecoders,
    HostNotify,
};

}  // namespace

extern "C" __declspec(dllexport) const PluginInfo* QV_CDECL GetInModule() {
    return &kInfo;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
