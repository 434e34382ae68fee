// A Windows port's USB identity where Wine cannot show it: a serial number lent by another
// device (a hub above it, a failed CM_Get_Parent on XP), and a port two present devices claim.
#include "serial/usb_identity.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string FactsOf(const std::vector<PortDevice>& devices) {
    PortEntry entry;
    entry.port = "COM5";
    AddUsbFacts(devices, &entry);
    std::string text;
    for (const auto& fact : entry.facts) {
        text += fact.first + "=" + fact.second + " ";
    }
    return text;
}

TEST(UsbIdentity, ASerialNumberComesOnlyFromTheDeviceItself) {
    PortDevice composite{5, "USB\\VID_2341&PID_8036&MI_00\\6&1&0&0000",
                         "USB\\VID_2341&PID_8036\\SN1", "Leonardo"};
    EXPECT_EQ(FactsOf({composite}), "vid=2341 pid=8036 serial=SN1 product=Leonardo ");
    composite.parentId = "USB\\VID_05E3&PID_0610\\HUB9";  // a hub, not this board
    EXPECT_EQ(FactsOf({composite}), "vid=2341 pid=8036 product=Leonardo ");
    EXPECT_EQ(FactsOf({composite, {5, "USB\\VID_067B&PID_2303\\SN8", "", ""}}), "");

    // Devnode 0 is another board of the same kind, as Wine's first device may be.
    auto id = [](DWORD devnode, char* text, unsigned size, unsigned) {
        return DWORD(std::snprintf(text, size, "USB\\VID_2341&PID_8036\\%s",
                                   devnode ? "SN1" : "OTHER1") < 0);
    };
    auto found = [](DWORD* parent, DWORD, unsigned) { return *parent = 7, DWORD(0); };
    auto stub = [](DWORD* parent, DWORD, unsigned) { return *parent = 0, DWORD(0xD); };
    EXPECT_EQ(ParentThroughDevnodes(found, id, 101), "USB\\VID_2341&PID_8036\\SN1");
    EXPECT_EQ(ParentThroughDevnodes(stub, id, 101), "");
}

}  // namespace
