#include "platform/text_win32.h"

#include <cstdlib>

namespace {

// A system without the East Asian code pages installed cannot convert 936; the ANSI code page
// is then the best remaining guess (and exact for the ASCII texts).
UINT UsableCodePage() {
    static const UINT codePage = IsValidCodePage(kProgramCodePage) ? kProgramCodePage : CP_ACP;
    return codePage;
}

}  // namespace

WideBuffer::WideBuffer(size_t count)
    : m_data(static_cast<wchar_t*>(std::calloc(count + 1, sizeof(wchar_t)))),
      m_count(m_data ? count : 0) {}

WideBuffer::~WideBuffer() {
    std::free(m_data);
}

WideBuffer ToWide(const char* text) {
    int length = MultiByteToWideChar(UsableCodePage(), 0, text, -1, nullptr, 0);
    WideBuffer wide(length > 0 ? static_cast<size_t>(length) : 0);
    if (wide.count() > 0) {
        MultiByteToWideChar(UsableCodePage(), 0, text, -1, wide.data(),
                            static_cast<int>(wide.count()));
    }
    return wide;
}

CString FromWide(const wchar_t* text, int length) {
    UINT codePage = UsableCodePage();
    int size = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return CString();
    }
    char* bytes = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!bytes) {
        return CString();
    }
    WideCharToMultiByte(codePage, 0, text, length, bytes, size, nullptr, nullptr);
    // With length -1 the converted text includes its terminator.
    size_t textLength = static_cast<size_t>(size);
    while (textLength > 0 && bytes[textLength - 1] == '\0') {
        --textLength;
    }
    CString result(bytes, textLength);
    std::free(bytes);
    return result;
}
