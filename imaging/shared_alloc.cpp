#include "imaging/shared_alloc.h"

#include <cstdlib>
#include <string>
#include <utility>

namespace {

void* DefaultGetMem(std::int32_t size) {
    return size > 0 ? std::malloc(static_cast<std::size_t>(size)) : nullptr;
}

std::int32_t DefaultFreeMem(void* p) {
    if (!p) return -1;
    std::free(p);
    return 0;
}

void* DefaultReallocMem(void** p, std::int32_t size) {
    if (size <= 0) {
        std::free(*p);
        *p = nullptr;
        return nullptr;
    }
    void* grown = std::realloc(*p, static_cast<std::size_t>(size));
    if (grown) *p = grown;  // on failure the old block stays valid and owned by the caller
    return grown;
}

const TSharedAllocator kDefaultAllocator{DefaultGetMem, DefaultFreeMem, DefaultReallocMem};
const TSharedAllocator* current = &kDefaultAllocator;

}  // namespace

void SetSharedAllocator(const TSharedAllocator* allocator) {
    current = allocator ? allocator : &kDefaultAllocator;
}

const TSharedAllocator& SharedAllocator() { return *current; }

std::int32_t CheckedBytes(std::int64_t a, std::int64_t b, std::int64_t c, const char* what) {
    const std::int64_t limit = INT32_MAX;
    // Each factor is checked against the limit before multiplying so that the
    // 64-bit products themselves cannot overflow.
    bool ok = a >= 0 && b >= 0 && c >= 0 && a <= limit && b <= limit && c <= limit;
    if (ok && a != 0 && b != 0) ok = a <= limit / b;
    if (ok && a * b != 0 && c != 0) ok = a * b <= limit / c;
    if (!ok) {
        throw EPictureTooLarge(std::string("picture too large: ") + what + " needs " + std::to_string(a) +
                               " x " + std::to_string(b) + " x " + std::to_string(c) + " bytes");
    }
    return static_cast<std::int32_t>(a * b * c);
}

TSharedBlock::TSharedBlock(std::int32_t bytes) {
    if (bytes <= 0) return;
    const TSharedAllocator& alloc = SharedAllocator();
    data_ = static_cast<std::uint8_t*>(alloc.GetMem(bytes));
    if (!data_) throw EPictureTooLarge("out of memory allocating " + std::to_string(bytes) + " bytes");
    size_ = bytes;
    free_ = alloc.FreeMem;
}

TSharedBlock::TSharedBlock(TSharedBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      free_(std::exchange(other.free_, nullptr)) {}

TSharedBlock& TSharedBlock::operator=(TSharedBlock&& other) noexcept {
    if (this != &other) {
        Reset();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        free_ = std::exchange(other.free_, nullptr);
    }
    return *this;
}

void TSharedBlock::Reset() {
    if (data_) free_(data_);
    data_ = nullptr;
    size_ = 0;
    free_ = nullptr;
}
