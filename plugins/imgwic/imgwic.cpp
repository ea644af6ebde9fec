// Image plug-in over the Windows Imaging Component. At GetInModule it lists
// the file extensions of every installed WIC decoder; a decode takes the
// first frame, turns it upright by its EXIF orientation and delivers it line
// by line to the host's resampler, or whole through GetPictureBuffer.
// HRESULT chains stay in here: the host sees only the plain C contract.
#include <windows.h>

#include <wincodec.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "base/com_win32.h"
#include "imaging/exif.h"
#include "plugins/common/host_link.h"

// Missing from MinGW's headers: the interface through which a codec decodes
// at a reduced size (JPEG at 1/2, 1/4, 1/8 on Windows).
MIDL_INTERFACE("3B16811B-6A43-4ec9-B713-3D5A0C13B940")
IWICBitmapSourceTransform : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CopyPixels(
        const WICRect* rect, UINT width, UINT height, WICPixelFormatGUID* format,
        WICBitmapTransformOptions transform, UINT stride, UINT bufferSize, BYTE* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT * width, UINT * height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID * format) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform,
                                                           BOOL * supported) = 0;
};
__CRT_UUID_DECL(IWICBitmapSourceTransform, 0x3B16811B, 0x6A43, 0x4ec9, 0xB7, 0x13, 0x3D, 0x5A, 0x0C, 0x13,
                0xB9, 0x40)

namespace {

const GUID kFormat32bppBGR = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0e}};
const GUID kFormat24bppBGR = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};
const GUID kFormat32bppBGRA = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};

// Owns one COM interface pointer.
template <typename T>
class TComPtr {
public:
    TComPtr() = default;
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    ~TComPtr() { Reset(); }
    void Reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T** Put() {
        Reset();
        return &p_;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// The picture's file as the stream WIC decodes from. Every read first asks
// the host whether the picture is still wanted: WIC's codecs do most of
// their work inside single calls (a whole frame at the first row, a scaled
// JPEG in one copy), reading the file as they go, so a read that fails is
// how a cancel reaches them. Read-only; one decode uses it on one thread.
class TFileStream : public IStream {
public:
    static TFileStream* Open(const char* name) {
        HANDLE file = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        return file == INVALID_HANDLE_VALUE ? nullptr : new (std::nothrow) TFileStream(file);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(ISequentialStream) || iid == __uuidof(IStream)) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Read(void* to, ULONG bytes, ULONG* got) override {
        if (got) *got = 0;
        if (Host.Cancelled()) return E_ABORT;
        DWORD read = 0;
        if (!::ReadFile(file_, to, bytes, &read, nullptr)) return HRESULT_FROM_WIN32(::GetLastError());
        if (got) *got = read;
        return read == bytes ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        LARGE_INTEGER now;
        if (!::SetFilePointerEx(file_, move, &now, origin)) return HRESULT_FROM_WIN32(::GetLastError());
        if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (!stat) return E_POINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(file_, &size)) return HRESULT_FROM_WIN32(::GetLastError());
        stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        stat->grfMode = STGM_READ | STGM_SHARE_DENY_WRITE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    explicit TFileStream(HANDLE file) : file_(file) {}
    virtual ~TFileStream() { ::CloseHandle(file_); }

    HANDLE file_;
    LONG refs_ = 1;
};

// Memory from the process heap, freed on every path.
class THeapBlock {
public:
    explicit THeapBlock(std::size_t bytes)
        : p_(bytes ? ::HeapAlloc(::GetProcessHeap(), 0, bytes) : nullptr) {}
    THeapBlock(const THeapBlock&) = delete;
    THeapBlock& operator=(const THeapBlock&) = delete;
    ~THeapBlock() {
        if (p_) ::HeapFree(::GetProcessHeap(), 0, p_);
    }
    BYTE* Get() const { return static_cast<BYTE*>(p_); }

private:
    void* p_;
};

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

template <typename Getter>
std::wstring ReadWicString(Getter get) {
    UINT length = 0;
    if (FAILED(get(0, nullptr, &length)) || length == 0) return {};
    std::wstring text(length, L'\0');
    if (FAILED(get(length, &text[0], &length))) return {};
    text.resize(wcslen(text.c_str()));
    return text;
}

// ---- The format table ----------------------------------------------------------------

// The table this DLL hands to its host, process-wide: the plug-in contract
// passes no context to GetInModule or to the decoders, and the host keeps
// the returned pointers for as long as the DLL is loaded. Built once, by
// the first GetInModule.
struct TFormatTable {
    bool built = false;
    std::vector<std::string> extensions;     // lower case with the dot, no duplicates
    std::vector<std::string> descriptions;   // the decoder's friendly name
    std::vector<const char*> extensionPtrs;  // the contract's text-pointer arrays over the strings above
    std::vector<const char*> descriptionPtrs;
    std::vector<TDecoderFunc> decoders;
    PluginInfo info;
};
TFormatTable formats;

std::int32_t QV_CDECL DecodeWic(const void* source, std::int32_t* width, std::int32_t* height,
                                std::int32_t* naturalWidth, std::int32_t* naturalHeight, void** pixels);

void AddExtensions(const std::wstring& list, const std::string& description) {
    std::size_t start = 0;
    const std::string all = Narrow(list);
    while (start <= all.size()) {
        // Windows separates the extensions with commas, Wine with semicolons.
        std::size_t end = all.find_first_of(",;", start);
        if (end == std::string::npos) end = all.size();
        std::string ext = all.substr(start, end - start);
        const std::size_t first = ext.find_first_not_of(' ');
        const std::size_t last = ext.find_last_not_of(' ');
        ext = first == std::string::npos ? std::string() : ext.substr(first, last - first + 1);
        for (char& c : ext)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (!ext.empty() && ext[0] != '.') ext.insert(ext.begin(), '.');
        bool known = ext.size() < 2;
        for (const std::string& e : formats.extensions) known = known || e == ext;
        if (!known) {
            formats.extensions.push_back(ext);
            formats.descriptions.push_back(description);
        }
        start = end + 1;
    }
}

void ListDecoders() {
    TComUse com;
    TComPtr<IWICImagingFactory> factory;
    if (FAILED(::CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  reinterpret_cast<void**>(factory.Put()))))
        return;
    TComPtr<IEnumUnknown> components;
    if (FAILED(
            factory->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, components.Put())))
        return;
    for (;;) {
        TComPtr<IUnknown> item;
        ULONG fetched = 0;
        if (components->Next(1, item.Put(), &fetched) != S_OK || fetched != 1) break;
        TComPtr<IWICBitmapDecoderInfo> info;
        if (FAILED(
                item->QueryInterface(__uuidof(IWICBitmapDecoderInfo), reinterpret_cast<void**>(info.Put()))))
            continue;
        IWICBitmapDecoderInfo* decoder = info.Get();
        const std::wstring name = ReadWicString([decoder](UINT n, WCHAR* text, UINT* actual) {
            return decoder->GetFriendlyName(n, text, actual);
        });
        const std::wstring extensions = ReadWicString([decoder](UINT n, WCHAR* text, UINT* actual) {
            return decoder->GetFileExtensions(n, text, actual);
        });
        AddExtensions(extensions, Narrow(name));
    }
}

void BuildInfo() {
    ListDecoders();
    for (std::size_t i = 0; i < formats.extensions.size(); ++i) {
        formats.extensionPtrs.push_back(formats.extensions[i].c_str());
        formats.descriptionPtrs.push_back(formats.descriptions[i].c_str());
        formats.decoders.push_back(DecodeWic);
    }
    formats.info = PluginInfo{};
    formats.info.Version = kPluginMaxVersion;
    formats.info.Name = "WIC";
    formats.info.Flags = kPluginTakesFileName | kPluginWantsShutdown | kPluginWantsServices;
    formats.info.FormatCount = static_cast<std::int32_t>(formats.extensions.size());
    formats.info.Extensions = formats.extensionPtrs.data();
    formats.info.Descriptions = formats.descriptionPtrs.data();
    formats.info.Decoders = formats.decoders.data();
    formats.info.Notify = HostNotify;
}

// ---- Decoding -----------------------------------------------------------------------

// The byte count of a w x h picture of 4-byte pixels, when it is not empty
// and fits the host's signed 32-bit buffer size. Bounded before multiplying.
bool PictureBytes(UINT w, UINT h, UINT& bytes) {
    if (w == 0 || h == 0 || w > INT32_MAX / 4 / h) return false;
    bytes = w * h * 4;
    return true;
}

// The EXIF orientation: from WIC's metadata where the codec exposes it,
// otherwise read from the JPEG's APP1 segment by our own reader.
std::uint16_t ReadOrientation(IWICBitmapFrameDecode* frame, const char* fileName) {
    TComPtr<IWICMetadataQueryReader> reader;
    if (SUCCEEDED(frame->GetMetadataQueryReader(reader.Put()))) {
        for (const wchar_t* query : {L"/app1/ifd/{ushort=274}", L"/ifd/{ushort=274}"}) {
            PROPVARIANT value;
            ::PropVariantInit(&value);
            const HRESULT hr = reader->GetMetadataByName(query, &value);
            const bool found = SUCCEEDED(hr) && value.vt == VT_UI2 && value.uiVal >= 1 && value.uiVal <= 8;
            const std::uint16_t orientation = found ? value.uiVal : 0;
            ::PropVariantClear(&value);
            if (found) return orientation;
        }
    }
    // The segment lies before the image data, within the first 64 KiB of
    // tables in practice; a larger head costs little.
    constexpr DWORD kHead = 256 * 1024;
    HANDLE file = ::CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    THeapBlock head(kHead);
    DWORD read = 0;
    const bool ok = head.Get() && ::ReadFile(file, head.Get(), kHead, &read, nullptr);
    ::CloseHandle(file);
    const std::uint16_t orientation = ok ? JpegExifOrientation(head.Get(), read) : 0;
    return orientation ? orientation : 1;
}

// Where the codec can scale while decoding and the host wants less than
// the natural size, a reduced frame no smaller than the fitted size.
bool ScaledSource(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, UINT w, UINT h,
                  std::int32_t wantW, std::int32_t wantH, bool swapped, TComPtr<IWICBitmap>& scaled) {
    if (wantW <= 0 || wantH <= 0) return false;
    const double boxW = swapped ? wantH : wantW, boxH = swapped ? wantW : wantH;
    const double scale = boxW / w < boxH / h ? boxW / w : boxH / h;
    if (scale >= 1.0) return false;
    TComPtr<IWICBitmapSourceTransform> transform;
    if (FAILED(frame->QueryInterface(__uuidof(IWICBitmapSourceTransform),
                                     reinterpret_cast<void**>(transform.Put()))))
        return false;
    UINT sw = static_cast<UINT>(w * scale + 0.999), sh = static_cast<UINT>(h * scale + 0.999);
    const UINT needW = sw, needH = sh;
    WICPixelFormatGUID format = kFormat32bppBGR;
    if (FAILED(transform->GetClosestSize(&sw, &sh)) || sw < needW || sh < needH || sw >= w || sh >= h ||
        FAILED(transform->GetClosestPixelFormat(&format)) ||
        (format != kFormat32bppBGR && format != kFormat32bppBGRA))
        return false;
    UINT bytes = 0;
    if (!PictureBytes(sw, sh, bytes)) return false;
    THeapBlock buffer(bytes);
    if (!buffer.Get() || FAILED(transform->CopyPixels(nullptr, sw, sh, &format, WICBitmapTransformRotate0,
                                                      sw * 4, bytes, buffer.Get())))
        return false;
    return SUCCEEDED(
        factory->CreateBitmapFromMemory(sw, sh, format, sw * 4, bytes, buffer.Get(), scaled.Put()));
}

// `source` as 32-bit BGR, through a converter of the factory: the codec
// library is reached through COM alone, never imported.
HRESULT ToBgr32(IWICImagingFactory* factory, IWICBitmapSource* source, TComPtr<IWICBitmapSource>& out) {
    TComPtr<IWICFormatConverter> converter;
    HRESULT hr = factory->CreateFormatConverter(converter.Put());
    if (SUCCEEDED(hr))
        hr = converter->Initialize(source, kFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr))
        hr = converter->QueryInterface(__uuidof(IWICBitmapSource), reinterpret_cast<void**>(out.Put()));
    return hr;
}

// How a progressive delivery ended.
enum class TLines {
    Refused,    // nothing was sent or the host refused line -1: deliver the picture whole
    Delivered,  // every line reached the host
    Failed,     // a line could not be read, or the host stopped part-way: the decode fails
};

// Line -1 with the orientation, then every stored line as red, green, blue.
// Whatever makes the lines impossible is checked before line -1, so that the
// whole-picture path can still run. Once the host has accepted line -1 a row
// that cannot be read fails the decode: the host's fallback then runs rather
// than the upper part of a damaged picture being shown as if complete.
// JPEG frames are 24-bit BGR already and are read as they are; every other
// format goes through the 32-bit BGR converter that WIC offers for all.
TLines DeliverLines(IWICImagingFactory* factory, TLineCallback callback, IWICBitmapSource* source, UINT w,
                    UINT h, std::uint16_t orientation) {
    const auto sw = static_cast<std::int32_t>(w), sh = static_cast<std::int32_t>(h);
    WICPixelFormatGUID format{};
    TComPtr<IWICBitmapSource> converted;
    IWICBitmapSource* rows = source;
    if (FAILED(source->GetPixelFormat(&format)) || format != kFormat24bppBGR) {
        if (FAILED(ToBgr32(factory, source, converted))) return TLines::Refused;
        rows = converted.Get();
    }
    const UINT bytesPerPixel = rows == source ? 3 : 4;
    // Bounded before the row sizes are multiplied (a 32-bit size_t would wrap).
    if (w > INT32_MAX / 4) return TLines::Refused;
    const UINT stride = w * bytesPerPixel;
    THeapBlock row(stride), line(std::size_t{w} * 3);
    if (!row.Get() || !line.Get()) return TLines::Refused;
    if (callback(orientation, -1, sw, sh) != 1) return TLines::Refused;
    BYTE* rgb = line.Get();
    for (std::int32_t y = 0; y < sh; ++y) {
        const WICRect rect{0, y, sw, 1};
        if (FAILED(rows->CopyPixels(&rect, stride, stride, row.Get()))) return TLines::Failed;
        const BYTE* px = row.Get();
        for (UINT x = 0; x < w; ++x, px += bytesPerPixel) {
            rgb[x * 3] = px[2];
            rgb[x * 3 + 1] = px[1];
            rgb[x * 3 + 2] = px[0];
        }
        if (callback(reinterpret_cast<std::intptr_t>(rgb), y, sw, sh) != 1) return TLines::Failed;
    }
    return TLines::Delivered;
}

// The whole picture, upright, into the host's picture buffer.
void* DeliverWhole(IWICImagingFactory* factory, IWICBitmapSource* source, UINT w, UINT h,
                   std::uint16_t orientation) {
    UINT bytes = 0;
    if (!PictureBytes(w, h, bytes) || !Host.GetPictureBuffer) return nullptr;
    TComPtr<IWICBitmapSource> bgr;
    if (FAILED(ToBgr32(factory, source, bgr))) return nullptr;
    if (orientation == 1) {
        BYTE* out = static_cast<BYTE*>(Host.GetPictureBuffer(static_cast<std::int32_t>(bytes)));
        if (!out || FAILED(bgr->CopyPixels(nullptr, w * 4, bytes, out))) return nullptr;
        return out;
    }
    THeapBlock stored(bytes);
    if (!stored.Get() || FAILED(bgr->CopyPixels(nullptr, w * 4, bytes, stored.Get()))) return nullptr;
    auto* out = static_cast<std::uint32_t*>(Host.GetPictureBuffer(static_cast<std::int32_t>(bytes)));
    if (!out) return nullptr;
    OrientPixels(reinterpret_cast<const std::uint32_t*>(stored.Get()), static_cast<std::int32_t>(w),
                 static_cast<std::int32_t>(h), orientation, out);
    return out;
}

std::int32_t Decode(const char* fileName, std::int32_t* width, std::int32_t* height,
                    std::int32_t* naturalWidth, std::int32_t* naturalHeight, void** pixels) {
    const std::int32_t wantW = *width, wantH = *height;
    *width = 0;
    *height = 0;
    if (Host.Cancelled()) return 0;
    TComUse com;
    TComPtr<IWICImagingFactory> factory;
    TComPtr<IStream> stream;
    TComPtr<IWICBitmapDecoder> decoder;
    TComPtr<IWICBitmapFrameDecode> frame;
    *stream.Put() = TFileStream::Open(fileName);
    UINT w = 0, h = 0;
    if (!stream ||
        FAILED(::CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  reinterpret_cast<void**>(factory.Put()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                decoder.Put())) ||
        FAILED(decoder->GetFrame(0, frame.Put())) || FAILED(frame->GetSize(&w, &h)) || w == 0 || h == 0 ||
        w > INT32_MAX || h > INT32_MAX)
        return 0;
    const std::uint16_t orientation = ReadOrientation(frame.Get(), fileName);
    const bool swapped = orientation >= 5;
    *naturalWidth = static_cast<std::int32_t>(swapped ? h : w);
    *naturalHeight = static_cast<std::int32_t>(swapped ? w : h);

    IWICBitmapSource* source = frame.Get();
    TComPtr<IWICBitmap> scaled;
    if (Host.Cancelled()) return 0;
    if (ScaledSource(factory.Get(), frame.Get(), w, h, wantW, wantH, swapped, scaled)) {
        source = scaled.Get();
        if (FAILED(source->GetSize(&w, &h)) || w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return 0;
    }
    if (const TLineCallback callback = Host.LineCallback()) {
        switch (DeliverLines(factory.Get(), callback, source, w, h, orientation)) {
        case TLines::Delivered:
            *width = static_cast<std::int32_t>(swapped ? h : w);
            *height = static_cast<std::int32_t>(swapped ? w : h);
            return 1;
        case TLines::Failed:
            return 0;
        case TLines::Refused:
            break;
        }
    }
    if (Host.Cancelled()) return 0;
    void* out = DeliverWhole(factory.Get(), source, w, h, orientation);
    if (!out) return 0;
    *pixels = out;
    *width = static_cast<std::int32_t>(swapped ? h : w);
    *height = static_cast<std::int32_t>(swapped ? w : h);
    return 1;
}

// No C++ exception may leave the plug-in: an allocation failure inside the
// string handling above ends the decode with nothing delivered.
std::int32_t QV_CDECL DecodeWic(const void* source, std::int32_t* width, std::int32_t* height,
                                std::int32_t* naturalWidth, std::int32_t* naturalHeight, void** pixels) {
    try {
        return Decode(static_cast<const char*>(source), width, height, naturalWidth, naturalHeight, pixels);
    } catch (...) {
        *width = 0;
        *height = 0;
        *pixels = nullptr;
        return 0;
    }
}

}  // namespace

extern "C" __declspec(dllexport) const PluginInfo* QV_CDECL GetInModule() {
    if (!formats.built) {
        formats.built = true;
        try {
            BuildInfo();
        } catch (...) {
            formats.info.FormatCount = 0;
        }
    }
    return &formats.info;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
