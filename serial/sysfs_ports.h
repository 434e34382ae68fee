// What Linux says about its terminal devices, read from sysfs and /dev. Both roots are
// parameters so the native tests can walk a made-up tree; the program reads /sys and /dev.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "serial/station.h"

struct SysRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// "188:0": the device numbers as sysfs writes them, and the key of a port, so that two paths
// to one device compare equal.
std::string DeviceKey(dev_t device);

// Whether character device `device` is a port: a serial device as ListTtys finds them, or a
// pseudo-terminal slave (which sysfs does not list). Not the other terminals: /dev/tty,
// /dev/console, the virtual consoles, /dev/ptmx. Decided without opening anything.
bool IsPortDevice(const SysRoots& roots, dev_t device);

// The tty name sysfs gives character device `device` ("ttyUSB0"); empty when it has none.
std::string TtyName(const SysRoots& roots, dev_t device);

// Names in the order people count: "ttyS2" before "ttyS10".
bool NaturalLess(const std::string& a, const std::string& b);

// The serial devices: entries of class/tty with a device link, without the 8250 placeholders
// that have no hardware (type 0), as dev/NAME in natural order, described. With `needNode`,
// only those whose node dev/NAME exists already (a watch sees sysfs before udev makes the
// node). False when class/tty cannot be read.
bool ListTtys(const SysRoots& roots, bool needNode, std::vector<PortEntry>* ports);

// Adds the tags (the tty's name, its driver's name) and the facts sysfs knows of tty `name`:
// driver, by_id, and for USB devices vid, pid, serial, manufacturer, product.
void DescribeTty(const SysRoots& roots, const std::string& name, PortEntry* entry);
