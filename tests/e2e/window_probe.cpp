// Prints the icons and the system menu of the window titled "Brand" as key=value lines (UTF-8):
// icon.program, icon.big, icon.small, icon.drag; sysmenu.available, sysmenu.count and, per item,
// its id, whether it is a separator, its text. It hooks the window's thread with window_hook.dll
// (next to this program) and sends the window a probe message, so both are read inside the
// program.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/e2e/window_probe.h"

int wmain() {
    HWND window = FindWindowW(L"#32770", L"Brand");
    if (!window) {
        std::printf("error=no window\n");
        return 1;
    }
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        kWindowProbeChars * sizeof(wchar_t), kWindowProbeSection);
    auto* text = static_cast<wchar_t*>(
        MapViewOfFile(section, FILE_MAP_READ, 0, 0, kWindowProbeChars * sizeof(wchar_t)));

    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path, length);
    dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"window_hook.dll";
    HMODULE module = LoadLibraryW(dll.c_str());
    auto hook = module ? reinterpret_cast<HOOKPROC>(
                             reinterpret_cast<void*>(GetProcAddress(module, "WindowProbeHook")))
                       : nullptr;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HHOOK installed = hook ? SetWindowsHookExW(WH_CALLWNDPROC, hook, module, thread) : nullptr;
    if (!section || !text || !installed) {
        std::printf("error=cannot hook the program\n");
        return 1;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, RegisterWindowMessageW(kWindowProbeMessage), 0, 0, SMTO_NORMAL,
                        5000, &ignored);
    UnhookWindowsHookEx(installed);

    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
    std::fputs(utf8.c_str(), stdout);
    if (utf8.find("sysmenu.available=") == std::string::npos) {
        std::printf("error=the hook did not answer\n");
        return 1;
    }
    return 0;
}
