#include "platform/Wnd.h"

#include "platform/Menu.h"
#include "platform/text_win32.h"

void CWnd::SetWindowText(const char* text) {
    ::SetWindowTextW(m_hWnd, ToWide(text).c_str());
}

CString CWnd::GetWindowText() const {
    int length = ::GetWindowTextLengthW(m_hWnd);
    WideBuffer text(length > 0 ? static_cast<size_t>(length) : 0);
    ::GetWindowTextW(m_hWnd, text.data(), static_cast<int>(text.count() + 1));
    return FromWide(text.c_str());
}

CMenu CWnd::GetSystemMenu(BOOL revert) const {
    return CMenu::FromHandle(::GetSystemMenu(m_hWnd, revert));
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DetachControls() {
    CDataExchange dx(this, FALSE);
    dx.m_bDetach = true;
    DoDataExchange(&dx);
    m_hTextField = nullptr;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
    if (!m_pDlgWnd->m_hTextField || m_pDlgWnd->m_textFieldId != id) {
        m_pDlgWnd->m_hTextField = m_pDlgWnd->GetDlgItem(id);
        m_pDlgWnd->m_textFieldId = id;
    }
    return m_pDlgWnd->m_hTextField;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (pDX->m_bDetach) {
        control.m_hWnd = nullptr;
    } else if (!control.m_hWnd) {
        control.m_hWnd = pDX->m_pDlgWnd->GetDlgItem(id);
    }
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    if (pDX->m_bDetach) {
        return;
    }
    CWnd field;
    field.m_hWnd = pDX->PrepareEditCtrl(id);
    if (pDX->m_bSaveAndValidate) {
        value = field.GetWindowText();
    } else if (field.GetWindowText() != value) {
        // Most exchanges show the text the field already has; setting it again would make the
        // control lay it out and repaint for nothing, in the middle of a Set press.
        field.SetWindowText(value);
    }
}
