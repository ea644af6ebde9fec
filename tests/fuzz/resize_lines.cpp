// Drives the progressive line protocol with arbitrary call sequences, picture
// sizes, orientations and fit settings into small targets. Protocol errors
// are expected (they raise Exception); crashes, out-of-bounds accesses and
// leaks are not. Each line is a heap block of exactly width * 3 bytes so that
// AddressSanitizer sees any read past it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/resample.h"

namespace {

struct TReader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    std::int32_t Dimension() {
        // Mostly small, sometimes degenerate or enormous.
        switch (Byte() % 8) {
            case 0: return -static_cast<std::int32_t>(Byte());
            case 1: return static_cast<std::int32_t>(Byte()) << 23;
            default: return Byte() % 96;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReader in{data, size};
    std::vector<std::uint8_t> targetBytes;
    TPixelView target;
    const std::int32_t tw = 1 + in.Byte() % 64, th = 1 + in.Byte() % 64;
    targetBytes.assign(static_cast<std::size_t>(tw) * th * 4, 0);
    target.Bits = targetBytes.data();
    target.Width = tw;
    target.Height = th;
    target.ShrinkToFit = in.Byte() & 1;
    target.EnlargeToFit = in.Byte() & 1;

    // A decode's resize into the target, made by step 0. Before it and after
    // step 6 drops it, a resize without a target stands in: every call on it
    // raises, as lines that reach no decode must.
    std::optional<TProgressiveResize> resize;
    resize.emplace(nullptr, 0);
    std::int32_t width = 0, height = 0, next = 0;
    for (int step = 0; step < 400 && in.size > 0; ++step) {
        try {
            switch (in.Byte() % 8) {
                case 0:
                    resize.reset();
                    resize.emplace(&target, in.Byte() % 4);
                    break;
                case 1:  // announce a picture
                    width = in.Dimension();
                    height = in.Dimension();
                    next = 0;
                    resize->Line(in.Byte() | (in.Byte() << 8), -1, width, height);
                    break;
                case 2:
                case 3:
                case 4: {  // the next line(s), in order, as a well-behaved decoder sends them
                    const int count = 1 + in.Byte() % 64;
                    for (int i = 0; i < count; ++i) {
                        if (width <= 0 || width > 4096) {
                            resize->Line(0, next++, width, height);
                            continue;
                        }
                        std::vector<std::uint8_t> line(static_cast<std::size_t>(width) * 3, in.Byte());
                        resize->Line(reinterpret_cast<std::intptr_t>(line.data()), next++, width, height);
                    }
                    break;
                }
                case 5: {  // any line number, size or pointer
                    const std::int32_t line = static_cast<std::int8_t>(in.Byte());
                    const std::int32_t w = in.Byte() & 1 ? width : in.Dimension();
                    const std::int32_t h = in.Byte() & 1 ? height : in.Dimension();
                    // A line always holds w pixels; wider ones than we care to
                    // allocate are sent without pixels.
                    const bool held = w > 0 && w <= 4096;
                    std::vector<std::uint8_t> pixels(held ? static_cast<std::size_t>(w) * 3 : 1, 7);
                    resize->Line(held ? reinterpret_cast<std::intptr_t>(pixels.data()) : 0, line, w, h);
                    break;
                }
                case 6:
                    if (in.Byte() & 1) {
                        resize->Free();
                    } else {
                        resize.reset();
                        resize.emplace(nullptr, 0);
                    }
                    break;
                case 7:
                    resize->Init(in.Dimension(), in.Dimension());
                    break;
            }
        } catch (const Exception&) {
            // Protocol violations and refused sizes are part of the contract.
        }
    }
    return 0;
}
