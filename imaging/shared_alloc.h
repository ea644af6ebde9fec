#pragma once
#include <cstddef>
#include <cstdint>

#include "base/exception.h"

// Memory that host and image plug-ins share. In the program the three entries
// are thin wrappers around the shared memory manager's exports; until one is
// installed (and in native builds) they fall back to malloc, free and realloc.
// Byte counts are signed 32-bit because that is what the shared manager takes.
struct TSharedAllocator {
    void* (*GetMem)(std::int32_t size);          // null on failure
    std::int32_t (*FreeMem)(void* p);            // 0 on success
    void* (*ReallocMem)(void** p, std::int32_t size);  // stores and returns the new block
};

// A picture or work buffer whose byte count does not fit the allocator's
// signed 32-bit size, or an allocation the allocator could not satisfy.
class EPictureTooLarge : public Exception {
public:
    using Exception::Exception;
};

// Installs `allocator` (null restores the built-in one). Blocks already handed
// out keep the allocator they came from.
void SetSharedAllocator(const TSharedAllocator* allocator);
const TSharedAllocator& SharedAllocator();

// a * b * c as a byte count the shared allocator accepts; throws
// EPictureTooLarge naming `what` when the product is negative or above
// INT32_MAX. Every buffer size goes through here before it is allocated.
std::int32_t CheckedBytes(std::int64_t a, std::int64_t b, std::int64_t c, const char* what);

// One block from the shared allocator, released on destruction through the
// allocator it came from. Move-only.
class TSharedBlock {
public:
    TSharedBlock() = default;
    explicit TSharedBlock(std::int32_t bytes);
    TSharedBlock(TSharedBlock&& other) noexcept;
    TSharedBlock& operator=(TSharedBlock&& other) noexcept;
    TSharedBlock(const TSharedBlock&) = delete;
    TSharedBlock& operator=(const TSharedBlock&) = delete;
    ~TSharedBlock() { Reset(); }

    void Reset();
    std::uint8_t* Data() const { return data_; }
    std::int32_t Size() const { return size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::int32_t size_ = 0;
    std::int32_t (*free_)(void*) = nullptr;  // the allocator this block came from
};
