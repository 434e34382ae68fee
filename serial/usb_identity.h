// The USB identity of a Windows port, told from what SetupAPI gives of its device: the instance
// ids (USB\VID_2341&PID_8036\SERIAL777, FTDIBUS\VID_0403+PID_6001+A1B2C3D4A\0000) and the
// device's own product string. Plain text work, so the native tests can drive it.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"
#include "serial/station.h"

// What one instance id says. Empty fields are unknown.
struct InstanceId {
    std::string vid, pid;  // four lower-case hex digits, as Linux gives them
    std::string serial;
    // A composite device's interface (&MI_xx): its serial number is its parent device's.
    bool composite = false;
};
InstanceId ParseInstanceId(const std::string& id);

// One present device of the Ports class, as SetupAPI describes it.
struct PortDevice {
    int port = 0;  // the number of its PortName (COMn); 0 for none
    std::string instanceId;
    std::string parentId;  // read only for composite devices
    std::string product;   // UTF-8
};

// Adds vid, pid, serial and product to `entry` (a COMn port) from the one device that claims
// its port. A port that more than one device claims gets nothing: which of them is plugged in
// cannot be told, and a record must never name the wrong device.
void AddUsbFacts(const std::vector<PortDevice>& devices, PortEntry* entry);

// XP has no device properties: a composite device's parent is found through its devnode, with
// CM_Get_Parent and CM_Get_Device_IDA (or stand-ins). Each result is checked: a failed
// CM_Get_Parent can leave a handle that names another device (Wine's stub leaves 0, its first).
template <typename GetParent, typename GetDeviceId>
std::string ParentThroughDevnodes(GetParent getParent, GetDeviceId getDeviceId, DWORD devnode) {
    DWORD parent = 0;
    char id[201] = {};  // MAX_DEVICE_ID_LEN, and room for the end
    if (getParent(&parent, devnode, 0) != 0 || getDeviceId(parent, id, sizeof id - 1, 0) != 0) {
        return "";
    }
    return id;
}
