#include "imaging/picture_colour_win32.h"

#include <windows.h>
// wincodec.h needs the types windows.h declares.
#include <wincodec.h>

#include <vector>

#include "base/handles_win32.h"
#include "imaging/wic_frame_win32.h"

namespace {

// A file's bytes at the offsets asked for. Each read is one ReadFile at its
// own offset, so a header that names an offset past the end costs nothing.
class TFileReader final : public TRandomReader {
public:
    explicit TFileReader(const std::string& fileName)
        : file_(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    explicit operator bool() const { return static_cast<bool>(file_); }

    bool ReadAt(std::uint64_t offset, void* out, std::size_t size) override {
        if (size == 0) return true;
        if (size > MAXDWORD) return false;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        return ::ReadFile(file_.Get(), out, static_cast<DWORD>(size), &read, &at) && read == size;
    }

private:
    TKernelHandle file_;
};

// The first colour context of the file's first frame that says something:
// a profile (judged like an embedded one) or the EXIF colour space.
TEmbeddedColour AskSystem(const std::string& fileName, TPictureChannels channels) {
    TEmbeddedColour untagged;
    untagged.Channels = channels;
    const TWicFirstFrame picture(fileName);
    IWICImagingFactory* factory = picture.Factory();
    IWICBitmapFrameDecode* frame = picture.Frame();
    UINT count = 0;
    if (!picture || FAILED(frame->GetColorContexts(0, nullptr, &count)) || count == 0 || count > 16) return untagged;
    std::vector<IWICColorContext*> contexts(count, nullptr);
    TEmbeddedColour colour = untagged;
    UINT made = 0;
    while (made < count && SUCCEEDED(factory->CreateColorContext(&contexts[made]))) ++made;
    if (made == count && SUCCEEDED(frame->GetColorContexts(count, contexts.data(), &count))) {
        for (UINT i = 0; i < count && colour.Kind == TPictureColour::Untagged; ++i) {
            WICColorContextType type{};
            if (FAILED(contexts[i]->GetType(&type))) continue;
            if (type == WICColorContextExifColorSpace) {
                UINT space = 0;
                if (SUCCEEDED(contexts[i]->GetExifColorSpace(&space)))
                    colour.Kind = space == 2 ? TPictureColour::AdobeRgb : TPictureColour::Srgb;
                continue;
            }
            UINT size = 0;
            if (FAILED(contexts[i]->GetProfileBytes(0, nullptr, &size)) || size == 0 ||
                size > kMaxProfileBytes)
                continue;
            std::vector<std::uint8_t> bytes(size);
            if (SUCCEEDED(contexts[i]->GetProfileBytes(size, bytes.data(), &size)) && size <= bytes.size()) {
                bytes.resize(size);
                colour = JudgeProfile(std::move(bytes), channels);
            }
        }
    }
    for (UINT i = 0; i < made; ++i) contexts[i]->Release();
    return colour;
}

}  // namespace

TEmbeddedColour ReadPictureColour(const std::string& fileName) {
    TEmbeddedColour colour;
    {
        TFileReader file(fileName);
        if (!file) return colour;
        colour = FindEmbeddedColour(file);
    }
    if (colour.Kind == TPictureColour::AskSystem) colour = AskSystem(fileName, colour.Channels);
    return colour;
}
