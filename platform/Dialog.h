// A modal dialog built from a template resource. One dialog procedure serves every CDialog: it
// stores `this` at WM_INITDIALOG and from then on routes each message through the object's
// message map.
#pragma once

#include "platform/Wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr)
        : m_templateId(templateId), m_pParentWnd(parent) {}
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog; returns the value passed to it, or -1 when the dialog
    // could not be created.
    INT_PTR DoModal();
    void EndDialog(int result) { ::EndDialog(m_hWnd, result); }

protected:
    // Attaches the controls and shows the members' values. TRUE: let the system set the focus.
    virtual BOOL OnInitDialog();
    // "Close"/Enter reads the fields, then ends the dialog; Esc/the close box just end it.
    virtual void OnOK();
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // The dialog manager paints a dialog itself.
    bool OnPaint() { return false; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_pParentWnd;
};
