// Loaded into the Brand program by a WH_CALLWNDPROC hook (see window_probe.cpp): reads the
// window's system menu and icons from inside the program, where GetSystemMenu works and icon
// handles can be compared with the program's own, and writes them to a named shared section the
// probe reads. Another process cannot read either under Wine, so this is the only way to check
// them on the running program.
#include <windows.h>

#include <cwchar>

#include "tests/e2e/window_probe.h"

namespace {

void Report(HWND window) {
    HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kWindowProbeSection);
    if (!section) {
        return;
    }
    auto* out = static_cast<wchar_t*>(
        MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, kWindowProbeChars * sizeof(wchar_t)));
    if (out) {
        size_t used = 0;
        auto put = [&](const wchar_t* format, auto... values) {
            int n = std::swprintf(out + used, kWindowProbeChars - used, format, values...);
            if (n > 0) {
                used += static_cast<size_t>(n);
            }
        };
        // The program's icon, and what the window answers for its two icons and for the icon
        // dragged while it is minimized: a dialog procedure returns that one directly.
        put(L"icon.program=%p\nicon.big=%p\nicon.small=%p\nicon.drag=%p\n",
            LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128)),
            reinterpret_cast<void*>(SendMessageW(window, WM_GETICON, ICON_BIG, 0)),
            reinterpret_cast<void*>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0)),
            reinterpret_cast<void*>(SendMessageW(window, WM_QUERYDRAGICON, 0, 0)));
        HMENU menu = GetSystemMenu(window, FALSE);
        int count = menu ? GetMenuItemCount(menu) : -1;
        put(L"sysmenu.available=%d\nsysmenu.count=%d\n", menu ? 1 : 0, count);
        for (int i = 0; i < count; ++i) {
            wchar_t text[128] = {};
            MENUITEMINFOW info = {};
            info.cbSize = sizeof info;
            info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
            info.dwTypeData = text;
            info.cch = 127;
            GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
            put(L"sysmenu.item%d.id=%u\nsysmenu.item%d.separator=%d\nsysmenu.item%d.text=%ls\n", i,
                info.wID, i, (info.fType & MFT_SEPARATOR) ? 1 : 0, i, text);
        }
        UnmapViewOfFile(out);
    }
    CloseHandle(section);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    WindowProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == RegisterWindowMessageW(kWindowProbeMessage)) {
            Report(message->hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
