#include "tests/unit/fake_win32.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

FakeWin32 fake;

namespace {

std::string Name(const void* p) {
    if (!p || p == kFakePort || p == kFakeEvent || p == kFakeKey) {
        return !p ? "null" : p == kFakePort ? "port" : p == kFakeEvent ? "event" : "key";
    }
    char hex[12];
    std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    return hex;
}

void Log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fake.calls.push_back(line);
}

}  // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    Log("CreateFileA %s %X %X %s %u %X %s", name, access, share, Name(security).c_str(),
        disposition, flags, Name(templateFile).c_str());
    return fake.file;
}

BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* t) {
    Log("SetCommTimeouts %s %u %u %u %u %u", Name(file).c_str(), t->ReadIntervalTimeout,
        t->ReadTotalTimeoutMultiplier, t->ReadTotalTimeoutConstant, t->WriteTotalTimeoutMultiplier,
        t->WriteTotalTimeoutConstant);
    return TRUE;
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
    Log("GetCommState %s", Name(file).c_str());
    if (fake.stateRead) {
        *dcb = fake.state;
    }
    return fake.stateRead;
}

BOOL SetCommState(HANDLE file, DCB* dcb) {
    Log("SetCommState %s", Name(file).c_str());
    fake.written = *dcb;
    return TRUE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    Log("PurgeComm %s %X", Name(file).c_str(), flags);
    return TRUE;
}

BOOL ClearCommError(HANDLE file, DWORD*, COMSTAT*) {
    Log("ClearCommError %s", Name(file).c_str());
    return TRUE;
}

HANDLE CreateEventA(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                    const char* name) {
    Log("CreateEventA %s %d %d %s", Name(security).c_str(), manualReset, initialState,
        Name(name).c_str());
    return fake.event;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written,
               OVERLAPPED* overlapped) {
    std::string bytes;
    char hex[4];
    for (DWORD i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", static_cast<const BYTE*>(buffer)[i]);
        bytes += hex;
    }
    Log("WriteFile %s%s %u overlapped(%s %u %u)", Name(file).c_str(), bytes.c_str(), count,
        Name(overlapped->hEvent).c_str(), overlapped->Offset, overlapped->OffsetHigh);
    fake.overlapped = overlapped;
    fake.count = count;
    if (fake.writeDone) {
        *written = count;
    }
    return fake.writeDone;
}

DWORD GetLastError() {
    return fake.error;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Log("WaitForSingleObject %s %u", Name(handle).c_str(), milliseconds);
    return fake.wait;
}

BOOL CancelIo(HANDLE file) {
    Log("CancelIo %s", Name(file).c_str());
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
    Log("GetOverlappedResult %s %s %d", Name(file).c_str(),
        overlapped == fake.overlapped ? "overlapped" : "another", wait);
    *transferred = fake.completed ? fake.count : 0;
    return fake.completed;
}

BOOL CloseHandle(HANDLE handle) {
    Log("CloseHandle %s", Name(handle).c_str());
    return TRUE;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result) {
    Log("RegOpenKeyExA %s %s %u %X", Name(key).c_str(), subKey, options, access);
    *result = kFakeKey;  // also on failure, where the key must not be used
    return fake.keyOpen;
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
    Log("RegEnumValueA %s %u %u %s %s %u", Name(key).c_str(), index, *nameSize,
        Name(reserved).c_str(), Name(type).c_str(), *dataSize);
    if (index >= fake.ports.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& port = fake.ports[index];
    name[0] = '\0';
    *nameSize = 0;
    std::memcpy(data, port.c_str(), port.size() + 1);
    *dataSize = static_cast<DWORD>(port.size() + 1);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    Log("RegCloseKey %s", Name(key).c_str());
    return ERROR_SUCCESS;
}
