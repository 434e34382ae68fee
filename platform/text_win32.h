// The program's texts are GBK bytes (code page 936). Every text that reaches a window goes
// through these conversions, so Chinese reads correctly on a Western system too, where the
// ANSI code page (1252) would turn the same bytes into garbage.
#pragma once

#include <cstddef>

#include "platform/CString.h"

constexpr UINT kProgramCodePage = 936;

// A zeroed, NUL-terminated UTF-16 buffer on the heap. (No std::wstring: its library code alone
// would outweigh the program.) A failed allocation gives an empty, still usable buffer.
class WideBuffer {
public:
    explicit WideBuffer(size_t count);  // room for `count` characters plus the terminator
    WideBuffer(WideBuffer&& other) noexcept : m_data(other.m_data), m_count(other.m_count) {
        other.m_data = nullptr;
        other.m_count = 0;
    }
    WideBuffer(const WideBuffer&) = delete;
    WideBuffer& operator=(const WideBuffer&) = delete;
    ~WideBuffer();

    wchar_t* data() { return m_data ? m_data : m_empty; }
    const wchar_t* c_str() const { return m_data ? m_data : L""; }
    // Characters that fit before the terminator.
    size_t count() const { return m_count; }

private:
    wchar_t* m_data;
    size_t m_count;
    wchar_t m_empty[1] = {L'\0'};
};

WideBuffer ToWide(const char* text);
// `length` characters of `text`, or up to its terminator when -1.
CString FromWide(const wchar_t* text, int length = -1);
