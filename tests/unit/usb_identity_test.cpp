// A Windows port's USB identity from its device's instance ids: what records and field filters
// get, so that a line running both systems sees Linux's values.
#include "serial/usb_identity.h"

#include <gtest/gtest.h>

namespace {

using Facts = std::vector<std::pair<std::string, std::string>>;

Facts FactsOf(const std::vector<PortDevice>& devices, const char* port = "COM5") {
    PortEntry entry;
    entry.port = port;
    AddUsbFacts(devices, &entry);
    return entry.facts;
}

TEST(UsbIdentity, InstanceIdsGiveLinuxsValuesAndNoMadeUpSerial) {
    struct {
        const char* id;
        const char *vid, *pid, *serial;
        bool composite;
    } cases[] = {
        {"USB\\VID_2341&PID_8036\\SERIAL777", "2341", "8036", "SERIAL777", false},
        {"USB\\VID_10C4&PID_EA60\\0001", "10c4", "ea60", "0001", false},
        {"USB\\VID_067B&PID_2303\\5&2C4F1E&0&1", "067b", "2303", "", false},
        {"USB\\VID_2341&PID_8037&MI_00\\6&3A0&0&0000", "2341", "8037", "", true},
        {"FTDIBUS\\VID_0403+PID_6001+A1B2C3D4A\\0000", "0403", "6001", "A1B2C3D4", false},
        {"FTDIBUS\\VID_0403+PID_6001+5&2F0C&0&2\\0000", "0403", "6001", "", false},
        {"USB\\VID_234&PID_8036\\SN", "", "", "", false},
        {"ACPI\\PNP0501\\1", "", "", "", false},
    };
    for (const auto& c : cases) {
        InstanceId id = ParseInstanceId(c.id);
        EXPECT_EQ(id.vid + " " + id.pid + " " + id.serial,
                  std::string(c.vid) + " " + c.pid + " " + c.serial)
            << c.id;
        EXPECT_EQ(id.composite, c.composite) << c.id;
    }
}

TEST(UsbIdentity, ACompositeSerialIsItsParentsAndATwiceClaimedPortHasNone) {
    PortDevice composite{5, "USB\\VID_2341&PID_8037&MI_00\\6&3A0&0&0000",
                         "USB\\VID_2341&PID_8037\\SN0001", "Leonardo"};
    EXPECT_EQ(
        FactsOf({composite}),
        (Facts{{"vid", "2341"}, {"pid", "8037"}, {"serial", "SN0001"}, {"product", "Leonardo"}}));
    PortDevice hubChild = composite;
    hubChild.parentId = "USB\\VID_8087&PID_0024\\5&1A2B";
    EXPECT_EQ(FactsOf({hubChild}).size(), 3u);  // no serial: the parent is another device
    PortDevice other{5, "USB\\VID_0403&PID_6015\\DN01", "", ""};
    EXPECT_EQ(FactsOf({composite, other}), Facts());
    EXPECT_EQ(FactsOf({composite, other}, "COM7"), Facts());
}

TEST(UsbIdentity, Utf16TextBecomesUtf8) {
    const uint16_t text[] = {'U', 0xDC, 0x4E2D, 0xD83D, 0xDE00, 0xD800, 'x', 0, 'y'};
    EXPECT_EQ(Utf8FromUtf16(text, 9), "U\xc3\x9c\xe4\xb8\xad\xf0\x9f\x98\x80\xef\xbf\xbdx");
}

}  // namespace
