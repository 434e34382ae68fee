"""USB serial devices planted in a Wine prefix's registry where SetupAPI lists them, so that
brandcli's records and field filters can be tried without hardware. Under Wine 8, keys under
HKLM\\System\\CurrentControlSet\\Enum\\<instance id> with the Ports class and a `Device
Parameters\\PortName` are listed by SetupDiGetClassDevs (present or not), and a device property
is the default value of `Properties\\{category}\\<id>` with the property's type.
"""

import winenv

PORTS_CLASS = "{4d36e978-e325-11ce-bfc1-08002be10318}"
USB_CLASS = "{36fc9e60-c465-11cf-8056-444553540000}"
# DEVPKEY_Device_Parent and DEVPKEY_Device_BusReportedDeviceDesc, as Wine keeps them.
PARENT_PROPERTY = r"Properties\{4340a6c5-93fa-4706-972c-7b648008a5a7}\0008"
PRODUCT_PROPERTY = r"Properties\{540b947e-8b40-45bc-a8a2-6a0b894cbda2}\0004"


def plant_usb_devices(prefix, folder, devices):
    """Plants `devices`, [(instance id, port name or None, parent id or None, product or
    None)], in `prefix` through a .reg file written to `folder` (`reg add` cannot write a
    property's type); one with a port name is a port (Ports class)."""
    lines = ["Windows Registry Editor Version 5.00", ""]

    def key(*parts):
        lines.extend(["", r"[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\%s]" %
                      "\\".join(parts)])

    for instance, port, parent, product in devices:
        key(instance)
        lines.append('"ClassGUID"="%s"' % (PORTS_CLASS if port else USB_CLASS))
        if port:
            key(instance, "Device Parameters")
            lines.append('"PortName"="%s"' % port)
        for name, text in ((PARENT_PROPERTY, parent), (PRODUCT_PROPERTY, product)):
            if text:
                key(instance, name)
                data = (text + "\0").encode("utf-16-le")
                lines.append("@=hex(ffff0012):" + ",".join("%02x" % b for b in data))
    path = folder / "devices.reg"
    path.write_text("\r\n".join(lines) + "\r\n", encoding="ascii")
    winenv.chown_to_user(path, prefix.user)
    prefix.reg_import(path)
