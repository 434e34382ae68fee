// The USB identity of brandcli's ports on Windows, read from the present devices of the Ports
// class through SetupAPI. setupapi.dll (and on XP cfgmgr32.dll) is loaded from the system folder
// by full path, and only when a port's identity is wanted: imported, it would load with every
// plain send, and by a bare name a copy planted in the current folder could load instead.
#include "platform/win_types.h"  // before setupapi.h, which needs windows.h

#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "serial/port_number.h"
#include "serial/station.h"
#include "serial/usb_identity.h"

// DEVPROPKEY, which the headers declare only for Vista and later.
struct DevicePropertyKey {
    GUID category;
    DWORD id;
};

namespace {

// GUID_DEVCLASS_PORTS
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

const DevicePropertyKey kParentKey = {
    {0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}}, 8};
// The product string the device itself reports (Windows 7 and later).
const DevicePropertyKey kBusReportedDescKey = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};
const DWORD kStringType = 0x12;  // DEVPROP_TYPE_STRING
const DWORD kIdCapacity = 200;   // MAX_DEVICE_ID_LEN

struct SetupApi {
    HDEVINFO(WINAPI* getClassDevs)(const GUID*, const char*, HWND, DWORD);
    BOOL(WINAPI* enumDevice)(HDEVINFO, DWORD, SP_DEVINFO_DATA*);
    BOOL(WINAPI* getInstanceId)(HDEVINFO, SP_DEVINFO_DATA*, char*, DWORD, DWORD*);
    HKEY(WINAPI* openDevKey)(HDEVINFO, SP_DEVINFO_DATA*, DWORD, DWORD, DWORD, REGSAM);
    BOOL(WINAPI* destroyList)(HDEVINFO);
    // Vista and later; null before.
    BOOL(WINAPI* getProperty)
    (HDEVINFO, SP_DEVINFO_DATA*, const DevicePropertyKey*, DWORD*, BYTE*, DWORD, DWORD*, DWORD);
    // XP's way to a parent (cfgmgr32.dll), used only where getProperty is missing.
    DWORD(WINAPI* getParent)(DWORD*, DWORD, ULONG);
    DWORD(WINAPI* getDeviceId)(DWORD, char*, ULONG, ULONG);
};

HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    std::snprintf(path + length, sizeof path - length, "\\%s", name);
    return LoadLibraryA(path);
}

template <typename Function>
bool Find(HMODULE module, const char* name, Function* function) {
    FARPROC found = module ? GetProcAddress(module, name) : nullptr;
    static_assert(sizeof found == sizeof *function, "a function pointer is a function pointer");
    std::memcpy(function, &found, sizeof found);
    return found != nullptr;
}

int PortNumber(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA* device) {
    HKEY key = api.openDevKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        return 0;
    }
    char name[16] = {};
    DWORD type = 0, size = sizeof name - 1;
    LONG read =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    std::optional<BYTE> number = ParsePortName(name);
    return read == ERROR_SUCCESS && type == REG_SZ && number ? *number : 0;
}

std::string StringProperty(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA* device,
                           const DevicePropertyKey& key) {
    wchar_t text[256] = {};  // the last one stays 0: a string that fills it still ends
    char utf8[3 * 256];
    DWORD type = 0, size = 0;
    if (!api.getProperty ||
        !api.getProperty(set, device, &key, &type, reinterpret_cast<BYTE*>(text),
                         sizeof text - sizeof *text, &size, 0) ||
        type != kStringType) {
        return "";
    }
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    return length > 1 ? std::string(utf8, length - 1) : "";
}

std::string ParentId(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA* device) {
    if (api.getProperty) {
        return StringProperty(api, set, device, kParentKey);
    }
    return api.getParent && api.getDeviceId
               ? ParentThroughDevnodes(api.getParent, api.getDeviceId, device->DevInst)
               : "";
}

// Every present device whose port is `wanted` (indexed by port number), described.
std::vector<PortDevice> ReadPortDevices(const SetupApi& api, const bool* wanted) {
    std::vector<PortDevice> devices;
    // Only present devices: Windows keeps entries for unplugged boards, which may share a name.
    HDEVINFO set = api.getClassDevs(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return devices;
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; api.enumDevice(set, i, &data); ++i) {
        PortDevice device;
        device.port = PortNumber(api, set, &data);
        if (!wanted[device.port]) {
            continue;
        }
        char id[kIdCapacity + 1] = {};
        if (api.getInstanceId(set, &data, id, kIdCapacity, nullptr)) {
            device.instanceId = id;
        }
        if (ParseInstanceId(device.instanceId).composite) {
            device.parentId = ParentId(api, set, &data);
        }
        device.product = StringProperty(api, set, &data, kBusReportedDescKey);
        devices.push_back(device);
    }
    api.destroyList(set);
    return devices;
}

}  // namespace

void IdentifyPorts(std::vector<PortEntry>* ports) {
    bool wanted[256] = {};  // port 0 stands for "no port name" and is never wanted
    bool any = false;
    for (const PortEntry& port : *ports) {
        if (std::optional<BYTE> number = ParsePortName(port.port.c_str())) {
            wanted[*number] = any = true;
        }
    }
    if (!any) {
        return;
    }
    SetupApi api = {};
    HMODULE setupapi = LoadSystemLibrary("setupapi.dll");
    HMODULE cfgmgr = nullptr;
    bool complete = Find(setupapi, "SetupDiGetClassDevsA", &api.getClassDevs) &&
                    Find(setupapi, "SetupDiEnumDeviceInfo", &api.enumDevice) &&
                    Find(setupapi, "SetupDiGetDeviceInstanceIdA", &api.getInstanceId) &&
                    Find(setupapi, "SetupDiOpenDevRegKey", &api.openDevKey) &&
                    Find(setupapi, "SetupDiDestroyDeviceInfoList", &api.destroyList);
    if (complete && !Find(setupapi, "SetupDiGetDevicePropertyW", &api.getProperty)) {
        cfgmgr = LoadSystemLibrary("cfgmgr32.dll");
        Find(cfgmgr, "CM_Get_Parent", &api.getParent);
        Find(cfgmgr, "CM_Get_Device_IDA", &api.getDeviceId);
    }
    if (complete) {
        std::vector<PortDevice> devices = ReadPortDevices(api, wanted);
        for (PortEntry& port : *ports) {
            AddUsbFacts(devices, &port);
        }
    }
    if (cfgmgr) {
        FreeLibrary(cfgmgr);
    }
    if (setupapi) {
        FreeLibrary(setupapi);
    }
}
