// Image plug-in: Windows and OS/2 bitmaps (1 to 32 bits per pixel, RLE4,
// RLE8, bit fields, bottom-up and top-down), decoded by imaging/bmp_decode.
// The file is never trusted, and a picture that cannot be decoded
// completely is not delivered at all. It is read a piece at a time with
// ReadFile, never mapped: a read that fails (a share that went away, a
// stick pulled out, a file cut short while it is read) fails this decode
// and nothing else, where a mapped view would fault. Between the pieces the
// plug-in asks the host whether the picture is still wanted.
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "imaging/bmp_decode.h"
#include "plugins/common/host_link.h"

namespace {

// Pixel data is read and decoded this much at a time.
constexpr std::size_t kPieceBytes = 1024 * 1024;
// The headers, channel masks and colour table lie in the first 1178 bytes.
constexpr std::size_t kHeadBytes = 2048;

// Memory from the process heap, freed on every path.
class THeapBlock {
public:
    explicit THeapBlock(std::size_t bytes) : p_(bytes ? ::HeapAlloc(::GetProcessHeap(), 0, bytes) : nullptr) {}
    THeapBlock(const THeapBlock&) = delete;
    THeapBlock& operator=(const THeapBlock&) = delete;
    ~THeapBlock() {
        if (p_) ::HeapFree(::GetProcessHeap(), 0, p_);
    }
    std::uint8_t* Get() const { return static_cast<std::uint8_t*>(p_); }

private:
    void* p_;
};

// The picture's file, open for reading; empty when it cannot be opened or is
// larger than the decoder's signed 32-bit limits.
class TBmpFile {
public:
    explicit TBmpFile(const char* name) {
        file_ = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER size;
        if (::GetFileSizeEx(file_, &size) && size.QuadPart > 0 && size.QuadPart <= INT32_MAX)
            size_ = static_cast<std::size_t>(size.QuadPart);
    }
    TBmpFile(const TBmpFile&) = delete;
    TBmpFile& operator=(const TBmpFile&) = delete;
    ~TBmpFile() {
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    }
    std::size_t Size() const { return size_; }

    // Exactly `bytes` from `offset` on; false when the file ends first or a
    // read fails.
    bool Read(std::size_t offset, std::uint8_t* to, std::size_t bytes) {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (size_ == 0 || !::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) return false;
        while (bytes > 0) {
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(bytes, kPieceBytes));
            DWORD got = 0;
            if (!::ReadFile(file_, to, ask, &got, nullptr) || got == 0) return false;
            to += got;
            bytes -= got;
        }
        return true;
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::size_t size_ = 0;
};

// The pixels into `out`, a piece at a time. False when the file ends early,
// a read fails, the data is malformed or the host no longer wants the
// picture.
bool ReadPixels(TBmpFile& file, const TBmpInfo& info, std::uint8_t* out) {
    if (BmpCompressed(info)) {
        // One stream up to the end of the file (ParseBmpHeader put the pixel
        // offset inside it).
        const std::size_t bytes = file.Size() - info.PixelOffset;
        THeapBlock stream(bytes);
        if (!stream.Get()) return false;
        for (std::size_t done = 0; done < bytes;) {
            const std::size_t piece = std::min(kPieceBytes, bytes - done);
            if (Host.Cancelled() || !file.Read(info.PixelOffset + done, stream.Get() + done, piece)) return false;
            done += piece;
        }
        return DecodeBmpRle(stream.Get(), bytes, info, out);
    }
    // RowBytes < 2^31: a row holds no more bytes than its output row.
    const std::size_t rowBytes = info.RowBytes;
    const auto rowsPerPiece =
        static_cast<std::int32_t>(std::clamp<std::size_t>(kPieceBytes / rowBytes, 1, static_cast<std::size_t>(info.Height)));
    THeapBlock piece(rowBytes * static_cast<std::size_t>(rowsPerPiece));
    if (!piece.Get()) return false;
    for (std::int32_t row = 0; row < info.Height;) {
        const std::int32_t count = std::min(rowsPerPiece, info.Height - row);
        const std::size_t at = info.PixelOffset + rowBytes * static_cast<std::size_t>(row);
        if (Host.Cancelled() || !file.Read(at, piece.Get(), rowBytes * static_cast<std::size_t>(count)) ||
            !DecodeBmpRows(piece.Get(), row, count, info, out))
            return false;
        row += count;
    }
    return true;
}

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
    // Bitmaps decode at their own size; the host fits them.
    *width = 0;
    *height = 0;
    if (Host.Cancelled()) return 0;
    TBmpFile file(static_cast<const char*>(source));
    std::uint8_t head[kHeadBytes];
    const std::size_t headBytes = std::min(file.Size(), kHeadBytes);
    TBmpInfo info;
    if (!file.Read(0, head, headBytes) || !ParseBmpHeader(head, headBytes, file.Size(), info)) return 0;
    *naturalWidth = info.Width;
    *naturalHeight = info.Height;
    const std::int64_t bytes = BmpOutputBytes(info);
    if (bytes <= 0 || !Host.GetPictureBuffer) return 0;
    auto* buffer = static_cast<std::uint8_t*>(Host.GetPictureBuffer(static_cast<std::int32_t>(bytes)));
    if (!buffer || !ReadPixels(file, info, buffer)) return 0;
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
