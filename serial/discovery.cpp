#include "serial/discovery.h"

#include <cstring>

#include "serial/port_number.h"

size_t DiscoverPorts(SerialCommValues& values, BYTE* table, size_t capacity) {
    return DiscoverPorts(values, table, capacity, nullptr);
}

size_t DiscoverPorts(SerialCommValues& values, BYTE* table, size_t capacity, PortValueName* names) {
    size_t count = 0;
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
