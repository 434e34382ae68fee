// Any text, of any length and any bytes (double-byte characters, NULs, ";" included), through
// both frame builders. The frames are fixed by their layout alone, so every byte is checked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "protocol/frames.h"

namespace {

void Fail(const char* frame, size_t offset, unsigned got, unsigned want, size_t length) {
    std::fprintf(stderr, "%s frame of a %zu-byte text: byte %zu is 0x%02X, expected 0x%02X\n",
                 frame, length, offset, got, want);
    std::abort();
}

void CheckBrandFrame(const BrandFrame& frame, const uint8_t* text, size_t length) {
    const size_t payload = length < 13 ? length : 13;
    for (size_t i = 0; i < frame.size(); ++i) {
        unsigned want;
        if (i == 0) {
            want = 'B';
        } else if (i == 1) {
            want = 'R';
        } else if (i < 2 + payload) {
            want = text[i - 2];
        } else if (i == 2 + payload) {
            want = ';';
        } else {
            want = 0x00;
        }
        if (frame[i] != want) {
            Fail("brand", i, frame[i], want, length);
        }
    }
}

void CheckCodeFrame(const std::optional<CodeFrame>& frame, const uint8_t* text, size_t length) {
    if (length == 0) {
        if (frame) {
            std::fprintf(stderr, "an empty code produced a frame\n");
            std::abort();
        }
        return;
    }
    if (!frame) {
        std::fprintf(stderr, "a %zu-byte code produced no frame\n", length);
        std::abort();
    }
    const unsigned want[5] = {'D', 'T', text[0], length > 1 ? text[1] : 0x00u, ';'};
    for (size_t i = 0; i < 5; ++i) {
        if ((*frame)[i] != want[i]) {
            Fail("code", i, (*frame)[i], want[i], length);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    static_assert(std::tuple_size<BrandFrame>::value == 16, "the brand frame is 16 bytes");
    static_assert(std::tuple_size<CodeFrame>::value == 5, "the code frame is 5 bytes");

    // An exact-size heap copy, so that a builder reading one byte too many is a heap overflow.
    std::unique_ptr<char[]> text(new char[size]);
    if (size) {
        std::memcpy(text.get(), input, size);
    }

    CheckBrandFrame(BuildBrandFrame(text.get(), size), input, size);
    CheckCodeFrame(BuildCodeFrame(text.get(), size), input, size);
    return 0;
}
