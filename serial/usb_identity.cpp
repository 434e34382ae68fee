#include "serial/usb_identity.h"

#include <optional>

#include "serial/port_number.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// "VID_2341" with prefix "VID_" gives "2341"; anything but four hex digits after it gives "".
std::string HexField(const std::string& field, const char* prefix) {
    std::string id;
    if (field.compare(0, 4, prefix) != 0 || field.size() != 8) {
        return id;
    }
    for (char c : field.substr(4)) {
        bool digit = c >= '0' && c <= '9';
        bool letter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !letter) {
            return "";
        }
        id += letter && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return id;
}

// Windows makes up an instance for a device without a serial number, always with a '&' in it
// ("6&2C4F1E&0&0000"): that is no serial number.
bool IsSerialNumber(const std::string& text) {
    return !text.empty() && text.find('&') == std::string::npos;
}

void AddFact(PortEntry* entry, const char* name, const std::string& value) {
    if (!value.empty()) {
        entry->facts.emplace_back(name, value);
    }
}

}  // namespace

InstanceId ParseInstanceId(const std::string& id) {
    InstanceId parsed;
    std::vector<std::string> parts = Split(id, '\\');
    bool ftdi = parts[0] == "FTDIBUS";
    if (parts.size() != 3 || (parts[0] != "USB" && !ftdi)) {
        return parsed;
    }
    std::vector<std::string> fields = Split(parts[1], ftdi ? '+' : '&');
    std::string vid, pid;
    for (const std::string& field : fields) {
        vid = vid.empty() ? HexField(field, "VID_") : vid;
        pid = pid.empty() ? HexField(field, "PID_") : pid;
        parsed.composite = parsed.composite || (!ftdi && field.compare(0, 3, "MI_") == 0);
    }
    if (vid.empty() || pid.empty()) {
        return InstanceId();
    }
    parsed.vid = vid;
    parsed.pid = pid;
    if (ftdi) {
        // FTDI's bus driver ends the serial number with the chip's channel letter (A to D).
        const std::string& last = fields.back();
        if (fields.size() == 3 && last.size() > 1 && last.back() >= 'A' && last.back() <= 'Z' &&
            IsSerialNumber(last)) {
            parsed.serial = last.substr(0, last.size() - 1);
        }
    } else if (!parsed.composite && IsSerialNumber(parts[2])) {
        parsed.serial = parts[2];
    }
    return parsed;
}

void AddUsbFacts(const std::vector<PortDevice>& devices, PortEntry* entry) {
    std::optional<BYTE> number = ParsePortName(entry->port.c_str());
    const PortDevice* claimant = nullptr;
    for (const PortDevice& device : devices) {
        if (number && device.port == *number) {
            if (claimant) {
                return;
            }
            claimant = &device;
        }
    }
    if (!claimant) {
        return;
    }
    InstanceId id = ParseInstanceId(claimant->instanceId);
    if (id.vid.empty()) {
        return;  // not a USB device
    }
    if (id.composite) {
        // The parent must be the USB device the interface belongs to, not a hub or a stranger.
        InstanceId parent = ParseInstanceId(claimant->parentId);
        bool same = parent.vid == id.vid && parent.pid == id.pid && !parent.composite;
        id.serial = same ? parent.serial : "";
    }
    AddFact(entry, "vid", id.vid);
    AddFact(entry, "pid", id.pid);
    AddFact(entry, "serial", id.serial);
    AddFact(entry, "product", claimant->product);
}
