// The registry's value data for a serial port, as untrusted bytes: any length, any content, and
// no promise of a terminating NUL. The parse must stay inside the bytes it was given and must
// agree with a second, independently written reading of the same rule.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "serial/port_number.h"

namespace {

// The rule spelled out with the C library instead of by hand: the text ends at the first NUL or
// at the end of the data, its first three bytes are the "COM" prefix, and the rest is read the
// way atoi reads (strtol in base 10 skips the same blanks and takes the same sign and digits).
// Only 0..255 names a port; anything else, huge values included, is refused.
std::optional<BYTE> ReferencePortNumber(const uint8_t* data, size_t size) {
    const void* nul = size ? std::memchr(data, 0, size) : nullptr;
    size_t end = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
    std::string digits;
    if (end > 3) {
        digits.assign(reinterpret_cast<const char*>(data) + 3, end - 3);
    }
    errno = 0;
    long value = std::strtol(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || value < 0 || value > 255) {
        return std::nullopt;
    }
    return static_cast<BYTE>(value);
}

void PrintResult(const char* who, std::optional<BYTE> result) {
    if (result) {
        std::fprintf(stderr, "%s: %u\n", who, static_cast<unsigned>(*result));
    } else {
        std::fprintf(stderr, "%s: refused\n", who);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    // An exact-size heap copy: one byte read past `size` is a heap overflow that ASan reports.
    // (libFuzzer's own buffer may be larger than the input.)
    std::unique_ptr<BYTE[]> data(new BYTE[size]);
    if (size) {
        std::memcpy(data.get(), input, size);
    }

    std::optional<BYTE> parsed = ParsePortNumber(data.get(), size);
    std::optional<BYTE> expected = ReferencePortNumber(input, size);
    if (parsed != expected) {
        std::fprintf(stderr, "port number of %zu data bytes disagrees with the reference\n", size);
        PrintResult("ParsePortNumber", parsed);
        PrintResult("reference", expected);
        std::abort();
    }
    if (std::memcmp(data.get(), input, size) != 0) {
        std::fprintf(stderr, "ParsePortNumber changed the data it was given\n");
        std::abort();
    }
    return 0;
}
