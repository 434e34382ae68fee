#include "platform/CString.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

CString::CString(const char* text) : CString(text, text ? std::strlen(text) : 0) {}

CString::CString(const char* text, size_t length) {
    if (length == 0) {
        return;
    }
    m_data = static_cast<char*>(std::malloc(length + 1));
    if (!m_data) {
        return;
    }
    std::memcpy(m_data, text, length);
    m_data[length] = '\0';
    m_length = length;
}

CString::~CString() {
    std::free(m_data);
}

void CString::Swap(CString& other) noexcept {
    char* data = m_data;
    size_t length = m_length;
    m_data = other.m_data;
    m_length = other.m_length;
    other.m_data = data;
    other.m_length = length;
}

bool CString::operator==(const CString& other) const {
    return m_length == other.m_length &&
           std::memcmp(static_cast<const char*>(*this), static_cast<const char*>(other),
                       m_length) == 0;
}

void CString::Format(const char* format, ...) {
    // Grow until the text fits. Older C runtimes report truncation as -1 instead of the length
    // needed, so the size is found by doubling rather than asked for.
    const size_t kMaxSize = 64 * 1024;
    for (size_t size = 128; size <= kMaxSize; size *= 2) {
        char* buffer = static_cast<char*>(std::malloc(size));
        if (!buffer) {
            break;
        }
        va_list args;
        va_start(args, format);
#ifdef _WIN32
        // The system C runtime's own: MinGW's C99 printf would more than double the program.
        int length = _vsnprintf(buffer, size, format, args);
#else
        int length = std::vsnprintf(buffer, size, format, args);
#endif
        va_end(args);
        if (length >= 0 && static_cast<size_t>(length) < size) {
            *this = CString(buffer, static_cast<size_t>(length));
            std::free(buffer);
            return;
        }
        std::free(buffer);
    }
    *this = CString();
}
