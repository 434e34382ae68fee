// The two command frames the device understands. Each is one fixed-length write: a two-letter
// ASCII tag, the payload, and ";" closing the payload. There is no length field, checksum or line
// ending; the device tells the frames apart by tag and length alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

constexpr size_t kBrandFrameSize = 16;
constexpr size_t kCodeFrameSize = 5;
// The longest brand payload that still leaves room for "BR" and ";".
constexpr size_t kBrandPayloadMax = kBrandFrameSize - 3;

typedef std::array<uint8_t, kBrandFrameSize> BrandFrame;
typedef std::array<uint8_t, kCodeFrameSize> CodeFrame;

// "BR", the first min(length, 13) bytes of `text`, ";", then 0x00 up to 16 bytes. A double-byte
// character that straddles the 13-byte limit is cut: the device counts bytes, not characters.
BrandFrame BuildBrandFrame(const char* text, size_t length);

// "DT", the code's first two bytes, ";". Bytes after the second are ignored; a one-byte code
// gives 0x00 as its second byte. An empty code yields no frame at all: the device has no "no
// code" command, and a frame of zeros would set a code nobody chose.
std::optional<CodeFrame> BuildCodeFrame(const char* text, size_t length);
