#include "platform/Controls.h"

#include "platform/text_win32.h"

int CComboBox::AddString(const char* text) {
    WideBuffer wide = ToWide(text);
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
}

int CComboBox::GetLBText(int index, CString& text) const {
    text = CString();
    LRESULT length = SendMessage(CB_GETLBTEXTLEN, index);
    if (length == CB_ERR) {
        return CB_ERR;
    }
    WideBuffer wide(static_cast<size_t>(length));
    if (wide.count() < static_cast<size_t>(length) ||
        SendMessage(CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(wide.data())) == CB_ERR) {
        return CB_ERR;
    }
    text = FromWide(wide.c_str());
    return text.GetLength();
}
