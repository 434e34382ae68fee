// A byte string in the program's own code page (GBK, code page 936; ASCII is a subset). The
// window glue converts it with that code page explicitly wherever it reaches a control, so the
// texts read the same whatever the system's ANSI code page is.
#pragma once

#include <string>

#include "platform/win_types.h"

class CString {
public:
    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}

    // printf-style formatting; replaces the current text.
    void Format(const char* format, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // Loads string resource `id` of the program's module (Windows only).
    BOOL LoadString(UINT id);

    BOOL IsEmpty() const {
        return m_text.empty();
    }
    int GetLength() const {
        return static_cast<int>(m_text.size());
    }
    // The byte at `index`; 0 at index == GetLength(), as with a terminated C string.
    char GetAt(int index) const {
        return m_text.c_str()[index];
    }

    operator const char*() const {
        return m_text.c_str();
    }
    bool operator==(const CString& other) const {
        return m_text == other.m_text;
    }
    bool operator!=(const CString& other) const {
        return m_text != other.m_text;
    }

private:
    std::string m_text;
};
