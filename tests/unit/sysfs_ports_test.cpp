// Linux discovery over a made-up sysfs and /dev: which ttys are serial ports, in which order,
// and what is known of each.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial/sysfs_ports.h"

namespace {

using Facts = std::vector<std::pair<std::string, std::string>>;

class SysfsPorts : public testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/brand-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
        roots.sys = root + "/sys";
        roots.dev = root + "/dev";
        std::string pnp = "devices/pnp0/00:01", platform = "devices/platform/serial8250";
        std::string usb = "devices/pci0/usb1/1-1", port = usb + "/1-1:1.0/ttyUSB0";
        Tty("ttyS0", pnp, "4:64", "4");
        Tty("ttyS1", platform, "4:65", "0");  // a placeholder without hardware
        Tty("ttyS2", platform, "4:66", "4");
        Tty("ttyS10", platform, "4:74", "4");
        Tty("ttyUSB0", port, "188:0", nullptr);
        Tty("tty0", "", "4:0", nullptr);  // a virtual console: no device link
        Link("bus/pnp/drivers/serial", pnp + "/driver");
        Link("bus/usb-serial/drivers/ftdi_sio", port + "/driver");
        File("devices/pci0/usb1/idVendor", "1d6b\n");  // the root hub, above the device
        File(usb + "/idVendor", "0403\n");
        File(usb + "/idProduct", "6001\n");
        File(usb + "/serial", "A50285BI\n");
        File(usb + "/product", "FT232R USB UART\n");
        File("devices/virtual/mem/null/dev", "1:3\n");
        Link("class/mem", "devices/virtual/mem/null/subsystem");
        Link("devices/virtual/mem/null", "dev/char/1:3");
        // udev has made two of the nodes, and a stable name for the USB one.
        File("../dev/ttyS0", "");
        File("../dev/ttyUSB0", "");
        Mkdir(roots.dev + "/serial/by-id");
        ASSERT_EQ(symlink("../../ttyUSB0",
                          (roots.dev + "/serial/by-id/usb-FTDI_A50285BI-if00-port0").c_str()),
                  0);
    }
    void TearDown() override { std::system(("rm -rf " + root).c_str()); }

    void Mkdir(const std::string& path) {
        for (size_t slash = root.size(); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            mkdir(path.substr(0, slash).c_str(), 0755);
        }
        mkdir(path.c_str(), 0755);
    }
    void File(const std::string& path, const char* text) {
        std::string full = roots.sys + "/" + path;
        Mkdir(full.substr(0, full.rfind('/')));
        FILE* file = std::fopen(full.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        std::fclose(file);
    }
    // A link at sys/`at` to sys/`target`.
    void Link(const std::string& target, const std::string& at) {
        Mkdir(roots.sys + "/" + target);
        std::string full = roots.sys + "/" + at;
        Mkdir(full.substr(0, full.rfind('/')));
        ASSERT_EQ(symlink((roots.sys + "/" + target).c_str(), full.c_str()), 0);
    }
    // A tty as the kernel files it: under its device, listed in class/tty and dev/char.
    void Tty(const std::string& name, const std::string& device, const std::string& numbers,
             const char* type) {
        std::string entry = (device.empty() ? "devices/virtual" : device) + "/tty/" + name;
        File(entry + "/dev", (numbers + "\n").c_str());
        if (type) {
            File(entry + "/type", type);
        }
        if (!device.empty()) {
            Link(device, entry + "/device");
        }
        Link("class/tty", entry + "/subsystem");
        Link(entry, "class/tty/" + name);
        Link(entry, "dev/char/" + numbers);
    }

    std::vector<std::string> Ports(bool needNode) {
        std::vector<PortEntry> ports;
        EXPECT_TRUE(ListTtys(roots, needNode, &ports));
        std::vector<std::string> names;
        for (const PortEntry& port : ports) {
            names.push_back(port.port.substr(roots.dev.size()));
        }
        return names;
    }

    std::string root;
    SysRoots roots;
};

TEST_F(SysfsPorts, SerialDevicesInNumericOrderWithoutPlaceholdersOrConsoles) {
    EXPECT_EQ(Ports(false), (std::vector<std::string>{"/ttyS0", "/ttyS2", "/ttyS10", "/ttyUSB0"}));
    // A watch counts a device once its node exists.
    EXPECT_EQ(Ports(true), (std::vector<std::string>{"/ttyS0", "/ttyUSB0"}));
    std::vector<PortEntry> none;
    EXPECT_FALSE(ListTtys(SysRoots{root + "/nothing", roots.dev}, false, &none));
}

TEST_F(SysfsPorts, UsbDeviceIsDescribedFromTheDeviceAboveItsPort) {
    std::vector<PortEntry> ports;
    ASSERT_TRUE(ListTtys(roots, false, &ports));
    const PortEntry& usb = ports.back();
    EXPECT_EQ(usb.key, "188:0");
    EXPECT_EQ(usb.tags, (std::vector<std::string>{"ttyUSB0", "ftdi_sio"}));
    EXPECT_EQ(usb.facts, (Facts{{"driver", "ftdi_sio"},
                                {"by_id", roots.dev + "/serial/by-id/usb-FTDI_A50285BI-if00-port0"},
                                {"vid", "0403"},
                                {"pid", "6001"},
                                {"serial", "A50285BI"},
                                {"product", "FT232R USB UART"}}));
    EXPECT_EQ(ports.front().facts, (Facts{{"driver", "serial"}}));
}

TEST_F(SysfsPorts, OnlySerialDevicesAndPtysArePorts) {
    EXPECT_TRUE(IsPortDevice(roots, makedev(188, 0)));
    EXPECT_TRUE(IsPortDevice(roots, makedev(136, 9)));
    EXPECT_FALSE(IsPortDevice(roots, makedev(4, 0)));     // a virtual console: a tty, no device
    EXPECT_FALSE(IsPortDevice(roots, makedev(1, 3)));     // /dev/null
    EXPECT_FALSE(IsPortDevice(roots, makedev(10, 130)));  // unknown to sysfs: a watchdog
    EXPECT_EQ(TtyName(roots, makedev(4, 74)), "ttyS10");
    EXPECT_EQ(TtyName(roots, makedev(1, 3)), "null");
}

}  // namespace
