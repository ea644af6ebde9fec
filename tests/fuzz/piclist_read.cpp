// Feeds arbitrary bytes to the piclist.dat reader. Besides crashes and
// sanitizer reports it checks three properties: the reader gives the same
// catalogue whether the bytes come at once or a few at a time, the version
// it reports is the header's, and what it read saves and reads back
// unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalogue/piclist.h"

namespace {

class TTrickleSource final : public TByteSource {
public:
    explicit TTrickleSource(std::string_view data) : data_(data) {}
    std::size_t Read(void* dst, std::size_t n) override {
        std::size_t take = n < 5 ? n : 5;
        if (take > data_.size() - pos_) take = data_.size() - pos_;
        std::memcpy(dst, data_.data() + pos_, take);
        pos_ += take;
        return take;
    }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

bool Save(const TPicList& list, std::string& out) {
    TStringSink sink(out);
    try {
        list.SaveToStream(sink);
    } catch (const Exception&) {
        return false;  // an old-version folder path too long for the current record
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TPicList whole;
    TMemorySource source(bytes);
    const std::uint32_t version = whole.LoadFromStream(source);

    TPicList trickled;
    TTrickleSource trickle(bytes);
    if (trickled.LoadFromStream(trickle) != version) std::abort();

    // "PR" and four little-endian bytes, or no version at all.
    std::uint32_t header = 0;
    if (size >= 6 && data[0] == 'P' && data[1] == 'R')
        header = std::uint32_t(data[2]) | std::uint32_t(data[3]) << 8 | std::uint32_t(data[4]) << 16 |
                 std::uint32_t(data[5]) << 24;
    if (version != header) std::abort();

    std::string first;
    std::string second;
    const bool saved = Save(whole, first);
    if (Save(trickled, second) != saved || first != second) std::abort();
    if (!saved) return 0;

    TPicList again;
    TMemorySource reread(first);
    again.LoadFromStream(reread);
    std::string third;
    if (!Save(again, third) || third != first || again.Count() != whole.Count()) std::abort();
    if (whole.TotalCount() > 0 && whole.PictureAt(whole.TotalCount() - 1).size() > size) std::abort();
    return 0;
}
