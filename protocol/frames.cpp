#include "protocol/frames.h"

BrandFrame BuildBrandFrame(const char* text, size_t length) {
    BrandFrame frame{};  // filler after ";" stays 0x00
    frame[0] = 'B';
    frame[1] = 'R';
    size_t copied = 0;
    for (; copied < length && copied < kBrandPayloadMax; ++copied) {
        frame[2 + copied] = static_cast<uint8_t>(text[copied]);
    }
    frame[2 + copied] = ';';
    return frame;
}

std::optional<CodeFrame> BuildCodeFrame(const char* text, size_t length) {
    if (length == 0) {
        return std::nullopt;
    }
    CodeFrame frame{};
    frame[0] = 'D';
    frame[1] = 'T';
    frame[2] = static_cast<uint8_t>(text[0]);
    frame[3] = length > 1 ? static_cast<uint8_t>(text[1]) : 0;
    frame[4] = ';';
    return frame;
}
