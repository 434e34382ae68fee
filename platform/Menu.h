// A menu handle with the one operation the program needs on it.
#pragma once

#include "platform/text_win32.h"

class CMenu {
public:
    HMENU m_hMenu = nullptr;

    static CMenu FromHandle(HMENU menu) {
        CMenu wrapped;
        wrapped.m_hMenu = menu;
        return wrapped;
    }
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr) {
        if (!text) {
            return ::AppendMenuW(m_hMenu, flags, id, nullptr);
        }
        return ::AppendMenuW(m_hMenu, flags, id, ToWide(text).c_str());
    }
};
