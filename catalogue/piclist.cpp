#include "catalogue/piclist.h"

#include <algorithm>
#include <climits>
#include <cstring>


namespace {

// Offsets are 32-bit and the file's "total" field is too, so one entry's
// picture block can never grow past this.
constexpr std::size_t kMaxBlock = 0xFFFFFFFFu;
// Picture indices are int: a block of 2^32 one-byte paths would hold more.
constexpr std::uint32_t kMaxPictures = INT_MAX;
// L is 16-bit and counts the path plus its 0x00, flags, count and total.
constexpr std::size_t kRecordFixed = 10;
constexpr std::size_t kMaxFolderPath = 0xFFFF - kRecordFixed;
// A picture block whose size the source cannot vouch for is read in steps
// of growing size, so a forged "total" costs memory only as far as the data
// really goes.
constexpr std::size_t kFirstChunk = 1 << 16;

std::uint32_t Le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t Le16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

void PutLe32(std::string& out, std::uint32_t v) {
    const char bytes[4] = {char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24 & 0xFF)};
    out.append(bytes, 4);
}

// Reads until n bytes have arrived or the source has no more.
std::size_t ReadFull(TByteSource& source, void* dst, std::size_t n) {
    std::size_t have = 0;
    while (have < n) {
        const std::size_t got = source.Read(static_cast<char*>(dst) + have, n - have);
        if (got == 0) break;
        have += got;
    }
    return have;
}

// Reads exactly `total` bytes into `out`; false when fewer arrive, and
// `out` then holds those that did.
bool ReadBlock(TByteSource& source, std::uint32_t total, std::string& out) {
    out.clear();
    if (total == 0) return true;
    std::uint64_t remaining = 0;
    const bool known = source.Remaining(remaining);
    if (known && remaining < total) return false;
    if (std::uint64_t(total) > std::uint64_t(out.max_size())) return false;
    const std::size_t want = total;
    out.resize(known ? want : std::min(want, kFirstChunk));
    std::size_t have = 0;
    while (have < want) {
        if (have == out.size()) out.resize(std::min(want, out.size() * 2));
        const std::size_t got = source.Read(&out[have], out.size() - have);
        if (got == 0) break;
        have += got;
    }
    out.resize(have);
    return have == want;
}

}  // namespace

EListError::EListError(int index) : Exception("List index exceeds bounds (" + std::to_string(index) + ")") {}

std::size_t TMemorySource::Read(void* dst, std::size_t n) {
    const std::size_t take = std::min(n, data_.size() - pos_);
    if (take) std::memcpy(dst, data_.data() + pos_, take);
    pos_ += take;
    return take;
}

bool TMemorySource::Remaining(std::uint64_t& bytes) const {
    bytes = data_.size() - pos_;
    return true;
}

// ---- TPictureList ----

std::string_view TPictureList::Item(int i) const {
    if (i < 0 || i >= Count()) throw EListError(i);
    const std::size_t start = offsets_[std::size_t(i)];
    const std::size_t end = std::size_t(i) + 1 < offsets_.size() ? offsets_[std::size_t(i) + 1] : data_.size();
    return std::string_view(data_).substr(start, end - start - 1);
}

void TPictureList::Add(std::string_view path) {
    path = path.substr(0, path.find('\0'));
    if (path.size() + 1 > kMaxBlock - data_.size() || offsets_.size() >= kMaxPictures)
        throw Exception("The picture list is too large");
    offsets_.push_back(std::uint32_t(data_.size()));
    data_.append(path);
    data_.push_back('\0');
}

void TPictureList::Append(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) Add(p);
}

void TPictureList::Delete(int i) {
    if (i < 0 || i >= Count()) throw EListError(i);
    const std::size_t idx = std::size_t(i);
    const std::uint32_t start = offsets_[idx];
    const std::uint32_t end = idx + 1 < offsets_.size() ? offsets_[idx + 1] : std::uint32_t(data_.size());
    data_.erase(start, end - start);
    offsets_.erase(offsets_.begin() + std::ptrdiff_t(idx));
    for (std::size_t k = idx; k < offsets_.size(); ++k) offsets_[k] -= end - start;
}

void TPictureList::Clear() {
    std::string().swap(data_);
    std::vector<std::uint32_t>().swap(offsets_);
}

std::vector<std::string> TPictureList::ToVector() const {
    std::vector<std::string> out;
    out.reserve(offsets_.size());
    for (int i = 0; i < Count(); ++i) out.emplace_back(Item(i));
    return out;
}

void TPictureList::AssignBlock(std::string&& block, std::uint32_t maxCount) {
    Clear();
    if (block.size() > kMaxBlock) block.resize(kMaxBlock);
    if (maxCount > kMaxPictures) maxCount = kMaxPictures;
    // Each path needs at least its 0x00, so the block bounds the count too.
    offsets_.reserve(std::min<std::size_t>(maxCount, block.size()));
    const char* base = block.data();
    std::size_t pos = 0;
    while (offsets_.size() < maxCount && pos < block.size()) {
        const void* zero = std::memchr(base + pos, 0, block.size() - pos);
        if (!zero) break;
        offsets_.push_back(std::uint32_t(pos));
        pos = std::size_t(static_cast<const char*>(zero) - base) + 1;
    }
    block.resize(pos);
    if (block.capacity() > 2 * block.size() + 64) block.shrink_to_fit();
    data_ = std::move(block);
}

// ---- TPicList ----

const TFolderItem& TPicList::GetItem(int i) const {
    if (i < 0 || i >= Count()) throw EListError(i);
    return *items_[std::size_t(i)];
}

TFolderItem& TPicList::ItemAt(int i) {
    if (i < 0 || i >= Count()) throw EListError(i);
    return *items_[std::size_t(i)];
}

int TPicList::AddFolder(const std::string& path) {
    Owner.Check("The catalogue");
    auto item = std::make_unique<TFolderItem>();
    item->FolderPath = path;
    items_.push_back(std::move(item));
    return Count() - 1;
}

int TPicList::Add(TFolderItem item) {
    Owner.Check("The catalogue");
    items_.push_back(std::make_unique<TFolderItem>(std::move(item)));
    return Count() - 1;
}

void TPicList::Delete(int i) {
    Owner.Check("The catalogue");
    if (i < 0 || i >= Count()) throw EListError(i);
    items_.erase(items_.begin() + i);
}

void TPicList::Clear() {
    Owner.Check("The catalogue");
    items_.clear();
    readProblem_.clear();
}

int TPicList::TotalCount() const {
    std::int64_t total = 0;
    for (const auto& item : items_) total += item->Pictures.Count();
    return int(std::min<std::int64_t>(total, INT_MAX));
}

std::string TPicList::PictureAt(int n) const {
    if (n < 0) return {};
    // 64-bit: the entries' counts together may pass INT_MAX.
    std::int64_t before = 0;
    for (const auto& item : items_) {
        const int own = item->Pictures.Count();
        if (n - before < own) return std::string(item->Pictures.Item(int(n - before)));
        before += own;
    }
    return {};
}

void TPicList::SaveToStream(TByteSink& sink) const {
    static const char header[6] = {'P', 'R', 0x00, 0x00, 0x02, 0x02};
    sink.Write(header, sizeof header);
    for (int i = 0; i < Count(); ++i) WriteItem(i, sink);
}

void TPicList::WriteItem(int i, TByteSink& sink) const {
    const TFolderItem& item = GetItem(i);
    const std::string& path = item.FolderPath;
    // Either would make a record that reads back as something else.
    if (path.find('\0') != std::string::npos) throw Exception("A catalogue folder path holds a 0x00 byte");
    if (path.size() > kMaxFolderPath) throw Exception("A catalogue folder path is too long to be saved");
    const std::string_view block = item.Pictures.Block();
    std::string record;
    record.reserve(2 + path.size() + kRecordFixed);
    const std::size_t length = path.size() + kRecordFixed;
    record.push_back(char(length & 0xFF));
    record.push_back(char(length >> 8));
    record.append(path);
    record.push_back('\0');
    record.push_back(char((item.AutoRefresh ? 1 : 0) | (item.IncludeSubdirs ? 2 : 0)));
    PutLe32(record, std::uint32_t(item.Pictures.Count()));
    PutLe32(record, std::uint32_t(block.size()));
    sink.Write(record.data(), record.size());
    if (!block.empty()) sink.Write(block.data(), block.size());
}

std::uint32_t TPicList::LoadFromStream(TByteSource& source) {
    Owner.Check("The catalogue");
    std::uint32_t version = 0;
    unsigned char head[4];
    if (ReadFull(source, head, 2) < 2) return version;
    if (head[0] == 'P' && head[1] == 'R') {
        if (ReadFull(source, head, 4) < 4) return version;
        version = Le32(head);
    }
    std::string record;
    for (;;) {
        if (ReadFull(source, head, 2) < 2) return version;
        const std::size_t length = Le16(head);
        if (length == 0) return version;
        record.resize(length);
        if (ReadFull(source, &record[0], length) < length) return version;
        if (!ReadItem(record, source, version)) return version;
    }
}

bool TPicList::ReadItem(std::string_view record, TByteSource& source, std::uint32_t version) {
    const std::size_t zero = record.find('\0');
    if (zero == std::string_view::npos) return false;
    const bool wideCount = version >= kPicListVersion;
    // Flags, count and total must all be there; a record cut inside them
    // cannot say how long its picture block is, so reading stops.
    const std::size_t fixed = wideCount ? 9 : 7;
    if (record.size() - zero - 1 < fixed) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(record.data()) + zero + 1;
    const unsigned flags = p[0];
    const std::uint32_t count = wideCount ? Le32(p + 1) : Le16(p + 1);
    const std::uint32_t total = wideCount ? Le32(p + 5) : Le32(p + 3);

    auto item = std::make_unique<TFolderItem>();
    item->FolderPath.assign(record.substr(0, zero));
    item->AutoRefresh = (flags & 1) != 0;
    item->IncludeSubdirs = (flags & 2) != 0;
    std::string block;
    const bool complete = ReadBlock(source, total, block);
    // A block cut short by the end of the data is not trusted; one cut
    // short by a read error keeps the paths that arrived whole.
    if (complete || source.Failed()) item->Pictures.AssignBlock(std::move(block), count);
    items_.push_back(std::move(item));
    return complete;
}
