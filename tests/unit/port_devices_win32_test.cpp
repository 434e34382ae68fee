// brandcli's SetupAPI walk against the stand-ins of tests/unit/fake_setupapi.h: loaded by full
// path only when asked, present devices only, and on XP (no SetupDiGetDevicePropertyW) the
// parent found through CM_Get_Parent, whose failure must never lend another device's serial.
// Wine cannot show the XP path: its SetupAPI has the property call.
#include <gtest/gtest.h>

#include "serial/station.h"
#include "tests/unit/fake_setupapi.h"

namespace {

using Facts = std::vector<std::pair<std::string, std::string>>;
using Calls = std::vector<std::string>;

class PortDevices : public testing::Test {
protected:
    PortDevices() {
        fakeApi = FakeSetupApi();
        // A board with a serial number on COM3, and the same kind of board, composite, on COM5.
        fakeApi.devices = {{"USB\\VID_2341&PID_8036\\OTHER1", "COM3", "", "Leonardo"},
                           {"USB\\VID_2341&PID_8036&MI_00\\6&1&0&0000", "COM5",
                            "USB\\VID_2341&PID_8036\\SN0001", "Leonardo"}};
    }
    Facts Identify(const char* port = "COM5") {
        std::vector<PortEntry> ports(1);
        ports[0].port = port;
        ports[0].facts = {{"device", "\\Device\\USBSER000"}};
        IdentifyPorts(&ports);
        return ports[0].facts;
    }
    const std::string kLoadSetupApi = "LoadLibraryA C:\\WINDOWS\\system32\\setupapi.dll";
    const std::string kClassDevs = "SetupDiGetClassDevsA 1295444344 2";  // Ports, DIGCF_PRESENT
};

TEST_F(PortDevices, FromVistaOnTheParentAndProductAreDeviceProperties) {
    EXPECT_EQ(Identify(), (Facts{{"device", "\\Device\\USBSER000"},
                                 {"vid", "2341"},
                                 {"pid", "8036"},
                                 {"serial", "SN0001"},
                                 {"product", "Leonardo"}}));
    EXPECT_EQ(fakeApi.calls, (Calls{kLoadSetupApi, kClassDevs, "SetupDiDestroyDeviceInfoList",
                                    "FreeLibrary setupapi"}));
}

TEST_F(PortDevices, OnXpTheParentComesFromACheckedCmGetParent) {
    fakeApi.missing = {"SetupDiGetDevicePropertyW"};
    EXPECT_EQ(Identify(), (Facts{{"device", "\\Device\\USBSER000"},
                                 {"vid", "2341"},
                                 {"pid", "8036"},
                                 {"serial", "SN0001"}}));
    EXPECT_EQ(fakeApi.calls,
              (Calls{kLoadSetupApi, "LoadLibraryA C:\\WINDOWS\\system32\\cfgmgr32.dll", kClassDevs,
                     "CM_Get_Parent 101", "SetupDiDestroyDeviceInfoList", "FreeLibrary cfgmgr32",
                     "FreeLibrary setupapi"}));
    fakeApi.parentFails = true;  // handle 0 then names COM3's board
    EXPECT_EQ(Identify().size(), 3u);
}

TEST_F(PortDevices, WithoutSetupApiOrAPortNameNothingIsAdded) {
    fakeApi.missing = {"SetupDiOpenDevRegKey"};
    EXPECT_EQ(Identify().size(), 1u);
    fakeApi.missing.clear();
    fakeApi.loadable = false;
    EXPECT_EQ(Identify().size(), 1u);
    fakeApi.calls.clear();
    EXPECT_EQ(Identify("\\\\.\\COM5").size(), 1u);
    EXPECT_EQ(fakeApi.calls, Calls());  // nothing to look up: nothing loaded
}

}  // namespace
