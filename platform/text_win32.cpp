#include "platform/text_win32.h"

namespace {

// A system without the East Asian code pages installed cannot convert 936; the ANSI code page
// is then the best remaining guess (and exact for the ASCII texts).
UINT UsableCodePage() {
    static const UINT codePage = IsValidCodePage(kProgramCodePage) ? kProgramCodePage : CP_ACP;
    return codePage;
}

}  // namespace

std::wstring ToWide(const char* text) {
    int length = MultiByteToWideChar(UsableCodePage(), 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(UsableCodePage(), 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

CString FromWide(const wchar_t* text) {
    int length = WideCharToMultiByte(UsableCodePage(), 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return CString();
    }
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(UsableCodePage(), 0, text, -1, &bytes[0], length, nullptr, nullptr);
    return CString(bytes.c_str());
}
