// A byte string in the program's own code page (GBK, code page 936; ASCII is a subset). The
// window glue converts it with that code page explicitly wherever it reaches a control, so the
// texts read the same whatever the system's ANSI code page is.
//
// It keeps its bytes in a plain heap block rather than a std::string: the standard string's
// library code would make up most of the shipped executable. An allocation that fails leaves the
// string empty; nothing here throws.
#pragma once

#include <cstddef>

#include "platform/win_types.h"

class CString {
public:
    CString() = default;
    CString(const char* text);
    CString(const char* text, size_t length);
    CString(const CString& other) : CString(other.m_data, other.m_length) {}
    CString(CString&& other) noexcept : m_data(other.m_data), m_length(other.m_length) {
        other.m_data = nullptr;
        other.m_length = 0;
    }
    CString& operator=(CString other) noexcept {
        Swap(other);
        return *this;
    }
    ~CString();

    // printf-style formatting; replaces the current text.
    void Format(const char* format, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // Loads string resource `id` of the program's module (Windows only).
    BOOL LoadString(UINT id);

    BOOL IsEmpty() const {
        return m_length == 0;
    }
    int GetLength() const {
        return static_cast<int>(m_length);
    }
    // The byte at `index`; 0 at index == GetLength(), as with a terminated C string.
    char GetAt(int index) const {
        return static_cast<const char*>(*this)[index];
    }

    operator const char*() const {
        return m_data ? m_data : "";
    }
    bool operator==(const CString& other) const;
    bool operator!=(const CString& other) const {
        return !(*this == other);
    }

private:
    void Swap(CString& other) noexcept;

    char* m_data = nullptr;  // null for the empty string
    size_t m_length = 0;
};
