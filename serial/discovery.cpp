#include "serial/discovery.h"

#include <cstring>

#include "serial/port_number.h"

size_t DiscoverPorts(SerialCommValues& values, BYTE* table, size_t capacity) {
    return DiscoverPorts(values, table, capacity, nullptr);
}

namespace {

// The walk; `end` tells what ended it: ERROR_NO_MORE_ITEMS, ERROR_SUCCESS for a full table, or
// the failure that would repeat forever.
size_t Walk(SerialCommValues& values, BYTE* table, size_t capacity, PortValueName* names,
            LONG* end) {
    size_t count = 0;
    *end = ERROR_SUCCESS;
    for (DWORD index = 0; count < capacity; ++index) {
        char name[kValueNameCapacity];
        BYTE data[kValueDataCapacity];
        // The call overwrites both sizes, so each index starts from the full capacities.
        DWORD nameSize = kValueNameCapacity;
        DWORD dataSize = kValueDataCapacity;
        LONG result = values.EnumValue(index, name, &nameSize, data, &dataSize);
        if (result == ERROR_MORE_DATA) {
            continue;
        }
        if (result != ERROR_SUCCESS) {
            *end = result;
            break;  // ERROR_NO_MORE_ITEMS, or a failure that would repeat forever
        }
        std::optional<BYTE> number =
            ParsePortNumber(data, dataSize < sizeof data ? dataSize : sizeof data);
        if (number) {
            if (names) {
                // The size returned excludes the terminator; it is never past the buffer.
                size_t length = nameSize < sizeof name ? nameSize : sizeof name - 1;
                std::memcpy(names[count], name, length);
                names[count][length] = '\0';
            }
            table[count++] = *number;
        }
    }
    return count;
}

}  // namespace

size_t DiscoverPorts(SerialCommValues& values, BYTE* table, size_t capacity, PortValueName* names) {
    LONG end;
    return Walk(values, table, capacity, names, &end);
}

PortList ReadWholePortList(SerialCommValues& values, BYTE* table, size_t capacity,
                           PortValueName* names, size_t* count) {
    for (int tries = 0; tries < kPortListTries; ++tries) {
        DWORD valuesBefore = 0, valuesAfter = 0;
        uint64_t writtenBefore = 0, writtenAfter = 0;
        bool stamped = values.Stamp(&valuesBefore, &writtenBefore);
        LONG end;
        *count = Walk(values, table, capacity, names, &end);
        if (end != ERROR_NO_MORE_ITEMS && end != ERROR_SUCCESS) {
            return PortList::Unreadable;
        }
        if (!stamped || (values.Stamp(&valuesAfter, &writtenAfter) && valuesAfter == valuesBefore &&
                         writtenAfter == writtenBefore)) {
            return PortList::Read;
        }
    }
    return PortList::KeptChanging;
}
