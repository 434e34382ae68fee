#include "serial/port_number.h"

namespace {

bool IsBlank(BYTE c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(BYTE c) {
    return c >= '0' && c <= '9';
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::optional<BYTE> ParsePortNumber(const BYTE* data, size_t size) {
    const size_t kPrefixLength = 3;  // "COM"
    size_t end = 0;
    while (end < size && data[end] != 0) {
        ++end;
    }
    size_t i = kPrefixLength;
    while (i < end && IsBlank(data[i])) {
        ++i;
    }
    bool negative = false;
    if (i < end && (data[i] == '+' || data[i] == '-')) {
        negative = data[i] == '-';
        ++i;
    }
    // Saturate instead of overflowing: any value past 255 is rejected the same way.
    unsigned value = 0;
    for (; i < end && IsDigit(data[i]); ++i) {
        value = value * 10 + (data[i] - '0');
        if (value > 255) {
            value = 256;
        }
    }
    if (value > 255 || (negative && value != 0)) {
        return std::nullopt;
    }
    return static_cast<BYTE>(value);
}

std::optional<BYTE> ParsePortName(const char* text) {
    for (const char* prefix = "COM"; *prefix; ++prefix, ++text) {
        if (Upper(*text) != *prefix) {
            return std::nullopt;
        }
    }
    if (*text < '1' || *text > '9') {
        return std::nullopt;  // no digits, a sign, or a leading zero
    }
    unsigned number = 0;
    int digits = 0;
    for (; IsDigit(static_cast<BYTE>(*text)) && digits < 3; ++text, ++digits) {
        number = number * 10 + static_cast<unsigned>(*text - '0');
    }
    if (*text != '\0' || number > 255) {
        return std::nullopt;
    }
    return static_cast<BYTE>(number);
}
