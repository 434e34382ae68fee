// The controls the program uses, each a CWnd with the few messages it needs.
#pragma once

#include "platform/Wnd.h"

class CComboBox : public CWnd {
public:
    int AddString(const char* text);
    int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, index)); }
    // CB_ERR when nothing is selected.
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    // The text of item `index`; returns its length, or CB_ERR (leaving `text` empty) when the
    // list has no such item.
    int GetLBText(int index, CString& text) const;
};

class CButton : public CWnd {};
