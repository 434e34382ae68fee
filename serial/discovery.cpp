#include "serial/discovery.h"

#include "serial/port_number.h"

size_t DiscoverPorts(SerialCommValues& values, BYTE* table, size_t capacity) {
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
            table[count++] = *number;
        }
    }
    return count;
}
