// Port discovery against a registry key whose every answer comes from the input: successes,
// "more data", "no more items" and other failures, in any order, with value data of any length
// (up to and past the 30-byte buffer), with or without a terminating NUL. The port table is as
// large as the input says, 0 to 255 entries, and is followed by guard bytes.
//
// Input layout, so that seeds can be written by hand:
//   byte 0          table capacity
//   then per value  kind byte, length byte, `length` data bytes (cut short at the input's end)
// kind, low 3 bits: 0-4 success, 5 ERROR_MORE_DATA, 6 ERROR_NO_MORE_ITEMS, 7 another error
//       bit 3:      the stored data gets a terminating NUL
//       bits 4-5:   which other error
// Past the last value the key answers ERROR_NO_MORE_ITEMS.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/discovery.h"
#include "serial/port_number.h"

namespace {

const LONG kOtherErrors[] = {5 /* access denied */, 6 /* invalid handle */, 1018 /* key deleted */,
                             1 /* invalid function */};
const size_t kGuardBytes = 32;
const BYTE kGuard = 0xA5;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "discovery: %s\n", what);
    std::abort();
}

struct Value {
    LONG result;
    std::string data;  // the bytes a successful call stores, NUL included when there is one
};

std::vector<Value> ParseScript(const uint8_t* input, size_t size) {
    std::vector<Value> values;
    size_t pos = 1;
    while (pos + 2 <= size) {
        const uint8_t kind = input[pos];
        size_t length = input[pos + 1];
        pos += 2;
        if (length > size - pos) {
            length = size - pos;
        }
        Value v;
        v.data.assign(reinterpret_cast<const char*>(input + pos), length);
        pos += length;
        if (kind & 0x08) {
            v.data.push_back('\0');
        }
        switch (kind & 0x07) {
            case 5:
                v.result = ERROR_MORE_DATA;
                break;
            case 6:
                v.result = ERROR_NO_MORE_ITEMS;
                break;
            case 7:
                v.result = kOtherErrors[(kind >> 4) & 0x03];
                break;
            default:
                // Like RegEnumValueA: data that does not fit the caller's buffer is not returned.
                v.result = v.data.size() > kValueDataCapacity ? ERROR_MORE_DATA : ERROR_SUCCESS;
                break;
        }
        values.push_back(std::move(v));
    }
    return values;
}

// The key, answering RegEnumValueA's way and checking how it is asked.
class ScriptedValues : public SerialCommValues {
public:
    explicit ScriptedValues(const std::vector<Value>& values) : m_values(values) {}

    LONG EnumValue(DWORD index, char* name, DWORD* nameSize, BYTE* data, DWORD* dataSize) override {
        // A walk that asks past "no more items", or asks an index twice, may never end.
        if (m_ended || index != m_calls) {
            Fail("values are not walked once each, in index order, up to \"no more items\"");
        }
        ++m_calls;
        if (*nameSize != kValueNameCapacity || *dataSize != kValueDataCapacity) {
            Fail("the buffer sizes handed in are not the buffers' full capacities");
        }
        // The whole buffers as declared: a caller that declares more than it has overflows here.
        // Bytes past what a call stores hold digits, so reading past the data shows.
        std::memset(name, 'N', *nameSize);
        std::memset(data, '9', *dataSize);

        if (index >= m_values.size() || m_values[index].result == ERROR_NO_MORE_ITEMS) {
            m_ended = true;
            return ERROR_NO_MORE_ITEMS;
        }
        const Value& v = m_values[index];
        if (v.result != ERROR_SUCCESS) {
            // What a failed call leaves in the buffer looks like a port, and must not become one.
            static const char kStale[] = "COM7";
            std::memcpy(data, kStale, sizeof kStale);
            if (v.result == ERROR_MORE_DATA) {
                *dataSize = static_cast<DWORD>(v.data.size());
            }
            return v.result;
        }
        int n = std::snprintf(name, *nameSize, "\\Device\\Serial%u", static_cast<unsigned>(index));
        *nameSize = static_cast<DWORD>(n);
        std::memcpy(data, v.data.data(), v.data.size());
        *dataSize = static_cast<DWORD>(v.data.size());
        return ERROR_SUCCESS;
    }

private:
    const std::vector<Value>& m_values;
    size_t m_calls = 0;
    bool m_ended = false;
};

// What the table must hold: the addressable ports in registry order, skipping values too large
// for the buffer, up to the first other failure or "no more items", and no more than fit.
std::vector<BYTE> ExpectedTable(const std::vector<Value>& values, size_t capacity) {
    std::vector<BYTE> table;
    for (const Value& v : values) {
        if (table.size() == capacity) {
            break;
        }
        if (v.result == ERROR_MORE_DATA) {
            continue;
        }
        if (v.result != ERROR_SUCCESS) {
            break;
        }
        std::optional<BYTE> number =
            ParsePortNumber(reinterpret_cast<const BYTE*>(v.data.data()), v.data.size());
        if (number) {
            table.push_back(*number);
        }
    }
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    const size_t capacity = size ? input[0] : 0;
    const std::vector<Value> values = ParseScript(input, size);

    // An exact-size heap block (table plus guard), so a write far past the table is an ASan
    // report and one just past it changes a guard byte.
    std::unique_ptr<BYTE[]> table(new BYTE[capacity + kGuardBytes]);
    std::memset(table.get(), 0x00, capacity);
    std::memset(table.get() + capacity, kGuard, kGuardBytes);

    ScriptedValues key(values);
    const size_t count = DiscoverPorts(key, table.get(), capacity);

    for (size_t i = 0; i < kGuardBytes; ++i) {
        if (table[capacity + i] != kGuard) {
            Fail("written past the end of the port table");
        }
    }
    if (count > capacity) {
        Fail("more ports reported than the table holds");
    }
    const std::vector<BYTE> expected = ExpectedTable(values, capacity);
    if (count != expected.size()) {
        std::fprintf(stderr, "discovery: %zu ports found, %zu expected (capacity %zu)\n", count,
                     expected.size(), capacity);
        std::abort();
    }
    for (size_t i = 0; i < count; ++i) {
        if (table[i] != expected[i]) {
            std::fprintf(stderr, "discovery: entry %zu is %u, expected %u\n", i,
                         static_cast<unsigned>(table[i]), static_cast<unsigned>(expected[i]));
            std::abort();
        }
    }
    return 0;
}
