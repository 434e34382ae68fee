#include "platform/Controls.h"

#include <vector>

#include "platform/text_win32.h"

int CComboBox::AddString(const char* text) {
    std::wstring wide = ToWide(text);
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
}

int CComboBox::GetLBText(int index, CString& text) const {
    text = CString();
    LRESULT length = SendMessage(CB_GETLBTEXTLEN, index);
    if (length == CB_ERR) {
        return CB_ERR;
    }
    std::vector<wchar_t> wide(static_cast<size_t>(length) + 1, L'\0');
    if (SendMessage(CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(wide.data())) == CB_ERR) {
        return CB_ERR;
    }
    text = FromWide(wide.data());
    return text.GetLength();
}
