#include "platform/CString.h"
#include "platform/text_win32.h"

BOOL CString::LoadString(UINT id) {
    // With a zero buffer size LoadStringW hands out a pointer to the resource text itself,
    // which is not terminated: the returned length is all there is.
    const wchar_t* resource = nullptr;
    int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || !resource) {
        *this = CString();
        return FALSE;
    }
    *this = FromWide(resource, length);
    return TRUE;
}
