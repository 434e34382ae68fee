// SetupAPI as serial/port_devices_win32.cpp finds it at run time, for the native build: look-alike
// types, a loader whose GetProcAddress hands out stand-ins by name (unless a test takes one
// away, as XP lacks SetupDiGetDevicePropertyW), and a table of devices. Devnode handles are
// 100 + index, their parents 200 + index; handle 0 is the first device, as under Wine.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/win_types.h"

#define WINAPI
#define MAX_PATH 260
#define DIGCF_PRESENT 2
#define DICS_FLAG_GLOBAL 1
#define DIREG_DEV 1
#define KEY_READ 0x20019
#define REG_SZ 1
#define CR_SUCCESS 0
#define CR_NO_SUCH_DEVNODE 0xD
typedef unsigned long ULONG;
typedef DWORD REGSAM;
typedef struct HKEY__* HKEY;
typedef void* HWND;
typedef void* HDEVINFO;
typedef void* HMODULE;
typedef void (*FARPROC)();
struct GUID {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
};
struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    uintptr_t Reserved;
};

struct FakeDevice {
    std::string id, portName, parent, product;
};
struct FakeSetupApi {
    bool loadable = true;
    std::set<std::string> missing;  // exports GetProcAddress does not find
    bool parentFails = false;       // CM_Get_Parent as Wine's stub: an error and handle 0
    std::vector<FakeDevice> devices;
    std::vector<std::string> calls;
};
inline FakeSetupApi fakeApi;
inline HMODULE const kSetupApi = reinterpret_cast<HMODULE>(0x5E),
                     kCfgMgr = reinterpret_cast<HMODULE>(0xCF);
inline HDEVINFO const kSet = reinterpret_cast<HDEVINFO>(0x1157);

inline UINT GetSystemDirectoryA(char* path, UINT size) {
    return static_cast<UINT>(std::snprintf(path, size, "C:\\WINDOWS\\system32"));
}
inline HMODULE LoadLibraryA(const char* path) {
    fakeApi.calls.push_back(std::string("LoadLibraryA ") + path);
    bool setupapi = std::strstr(path, "setupapi.dll") != nullptr;
    return !fakeApi.loadable ? nullptr : setupapi ? kSetupApi : kCfgMgr;
}
inline BOOL FreeLibrary(HMODULE module) {
    fakeApi.calls.push_back(module == kSetupApi ? "FreeLibrary setupapi" : "FreeLibrary cfgmgr32");
    return TRUE;
}

inline void CopyText(const std::string& text, char* buffer, size_t size) {
    std::snprintf(buffer, size, "%s", text.c_str());
}
inline HDEVINFO SetupDiGetClassDevsA(const GUID* guid, const char*, HWND, DWORD flags) {
    fakeApi.calls.push_back("SetupDiGetClassDevsA " + std::to_string(guid->Data1) + " " +
                            std::to_string(flags));
    return kSet;
}
inline BOOL SetupDiEnumDeviceInfo(HDEVINFO, DWORD index, SP_DEVINFO_DATA* data) {
    data->DevInst = 100 + index;
    return index < fakeApi.devices.size();
}
inline BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO, SP_DEVINFO_DATA* data, char* id, DWORD size,
                                        DWORD*) {
    CopyText(fakeApi.devices[data->DevInst - 100].id, id, size);
    return TRUE;
}
inline HKEY SetupDiOpenDevRegKey(HDEVINFO, SP_DEVINFO_DATA* data, DWORD, DWORD, DWORD, REGSAM) {
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>(data->DevInst));
}
inline LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data,
                             DWORD* size) {
    const FakeDevice& device = fakeApi.devices[reinterpret_cast<uintptr_t>(key) - 100];
    *type = REG_SZ;
    CopyText(std::strcmp(name, "PortName") ? "" : device.portName, reinterpret_cast<char*>(data),
             *size);
    return ERROR_SUCCESS;
}
inline LONG RegCloseKey(HKEY) {
    return ERROR_SUCCESS;
}
struct DevicePropertyKey;
inline BOOL SetupDiGetDevicePropertyW(HDEVINFO, SP_DEVINFO_DATA* data, const DevicePropertyKey* key,
                                      DWORD* type, BYTE* buffer, DWORD size, DWORD* needed, DWORD) {
    DWORD id;  // the key's number, after its GUID
    std::memcpy(&id, reinterpret_cast<const BYTE*>(key) + sizeof(GUID), sizeof id);
    const FakeDevice& device = fakeApi.devices[data->DevInst - 100];
    const std::string& text = id == 8 ? device.parent : device.product;
    std::vector<uint16_t> wide(text.begin(), text.end());
    wide.push_back(0);
    *type = 0x12;
    *needed = static_cast<DWORD>(wide.size() * 2);
    std::memcpy(buffer, wide.data(), std::min<DWORD>(size, *needed));
    return !text.empty() && *needed <= size;
}
inline DWORD CM_Get_Parent(DWORD* parent, DWORD devInst, ULONG) {
    fakeApi.calls.push_back("CM_Get_Parent " + std::to_string(devInst));
    *parent = fakeApi.parentFails ? 0 : devInst + 100;
    return fakeApi.parentFails ? CR_NO_SUCH_DEVNODE : CR_SUCCESS;
}
inline DWORD CM_Get_Device_IDA(DWORD devInst, char* id, ULONG size, ULONG) {
    const FakeDevice& device = fakeApi.devices[devInst >= 200 ? devInst - 200 : devInst];
    CopyText(devInst >= 200 ? device.parent : device.id, id, size);
    return CR_SUCCESS;
}
inline BOOL SetupDiDestroyDeviceInfoList(HDEVINFO) {
    fakeApi.calls.push_back("SetupDiDestroyDeviceInfoList");
    return TRUE;
}

inline FARPROC GetProcAddress(HMODULE, const char* name) {
    struct {
        const char* name;
        FARPROC function;
    } exports[] = {
        {"SetupDiGetClassDevsA", reinterpret_cast<FARPROC>(SetupDiGetClassDevsA)},
        {"SetupDiEnumDeviceInfo", reinterpret_cast<FARPROC>(SetupDiEnumDeviceInfo)},
        {"SetupDiGetDeviceInstanceIdA", reinterpret_cast<FARPROC>(SetupDiGetDeviceInstanceIdA)},
        {"SetupDiOpenDevRegKey", reinterpret_cast<FARPROC>(SetupDiOpenDevRegKey)},
        {"SetupDiDestroyDeviceInfoList", reinterpret_cast<FARPROC>(SetupDiDestroyDeviceInfoList)},
        {"SetupDiGetDevicePropertyW", reinterpret_cast<FARPROC>(SetupDiGetDevicePropertyW)},
        {"CM_Get_Parent", reinterpret_cast<FARPROC>(CM_Get_Parent)},
        {"CM_Get_Device_IDA", reinterpret_cast<FARPROC>(CM_Get_Device_IDA)},
    };
    for (const auto& e : exports) {
        if (std::strcmp(e.name, name) == 0 && !fakeApi.missing.count(name)) {
            return e.function;
        }
    }
    return nullptr;
}
