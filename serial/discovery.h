// Finding the serial ports Windows has registered under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

// One registered port per value; the value data is the port's device name.
constexpr DWORD kValueNameCapacity = 100;
constexpr DWORD kValueDataCapacity = 30;
// The port table holds as many ports as an 8-bit count can name.
constexpr size_t kPortTableCapacity = 255;

// The values of the SERIALCOMM key, read one index at a time with RegEnumValueA's contract:
// on entry the sizes are the buffers' capacities, on return the bytes stored.
class SerialCommValues {
public:
    virtual ~SerialCommValues() = default;
    virtual LONG EnumValue(DWORD index, char* name, DWORD* nameSize, BYTE* data,
                           DWORD* dataSize) = 0;
    // What changes whenever the key's values do (their count and the key's last write time), so
    // that a walk the key changed under can be told. False where it cannot be read.
    virtual bool Stamp(DWORD* values, uint64_t* written) {
        (void)values;
        (void)written;
        return false;
    }
};

// Fills `table` with the port numbers of the registered ports, in registry order, and returns
// how many it stored (at most `capacity`). Values too large for the buffers and values that
// name no addressable port are skipped; any error other than "more data" ends the walk, since
// retrying a failing index would never end and its buffers hold nothing read.
size_t DiscoverPorts(SerialCommValues& values, BYTE* table, size_t capacity);

// A value's name, which names the driver behind the port (\Device\Serial0, \Device\VCP0).
typedef char PortValueName[kValueNameCapacity];

// The same walk, also keeping each stored port's value name in `names[i]` (NUL-terminated).
size_t DiscoverPorts(SerialCommValues& values, BYTE* table, size_t capacity, PortValueName* names);

// How a whole reading of the list ended: `Read` (all of it, the key unchanged meanwhile),
// `Unreadable` (a value could not be read: the ports after it are unknown), or `KeptChanging`
// (the key changed during every one of the tries).
enum class PortList { Read, Unreadable, KeptChanging };
constexpr int kPortListTries = 4;

// brandcli's reading, which must pass neither a failure nor a moving key off as the list: the
// walk of DiscoverPorts, made again while the key changed during it (a value deleted meanwhile
// shifts the ones after it, and a port would drop out). `*count`: the ports stored.
PortList ReadWholePortList(SerialCommValues& values, BYTE* table, size_t capacity,
                           PortValueName* names, size_t* count);
