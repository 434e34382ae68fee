// A thin window object over an HWND, and the data exchange that moves values between a dialog's
// members and its controls.
#pragma once

#include "platform/CString.h"
#include "platform/CmdTarget.h"

class CDataExchange;
class CMenu;

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    // Texts are the program's GBK bytes; the window shows them as Unicode.
    void SetWindowText(const char* text);
    CString GetWindowText() const;
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    // The window menu's handle wrapped as a CMenu; its handle is null when there is none.
    CMenu GetSystemMenu(BOOL revert) const;

    // TRUE: controls to members; FALSE: members to controls.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange*) {}

protected:
    // The window has gone: the controls the exchange attached go with it, so that the next
    // window of this object (a second DoModal) attaches its own.
    void DetachControls();

    // Message handlers return whether they handled the message. The base ones handle nothing:
    // a derived handler that calls one leaves the message to the system's default handling.
    bool OnDestroy() { return false; }

private:
    friend class CDataExchange;

    // The text field DDX_Text last looked up (this program's dialogs have one), kept until the
    // window goes: under Wine every GetDlgItem is a round trip to the server, and a Set press
    // exchanges eight times.
    int m_textFieldId = 0;
    HWND m_hTextField = nullptr;
};

class CDataExchange {
public:
    CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate)
        : m_pDlgWnd(dlgWnd), m_bSaveAndValidate(saveAndValidate) {}
    // The dialog's child `id`, looked up at its first exchange only.
    HWND PrepareEditCtrl(int id);

    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
    // Set by DetachControls: no values move, the controls let go of their windows.
    bool m_bDetach = false;
};

// Attaches `control` to the dialog's child `id` at the first exchange, until the window goes.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Moves `value` between the member and the text of the dialog's child `id`.
void DDX_Text(CDataExchange* pDX, int id, CString& value);
