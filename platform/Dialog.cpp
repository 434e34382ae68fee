#include "platform/Dialog.h"

#include "platform/WinApp.h"

INT_PTR CDialog::DoModal() {
    // Without a parent of its own, a dialog belongs to the application's main window (when that
    // exists and is another window), so that a box opened from the main window is modal to it.
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    CWinApp* app = AfxGetApp();
    if (!parent && app && app->m_pMainWnd && app->m_pMainWnd != this) {
        parent = app->m_pMainWnd->m_hWnd;
    }
    return ::DialogBoxParamW(AfxFindResourceHandle(), MAKEINTRESOURCEW(m_templateId), parent,
                             DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return dialog->OnInitDialog();
    }
    dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!dialog) {
        return FALSE;  // messages that arrive before WM_INITDIALOG
    }
    INT_PTR handled = dialog->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        dialog->DetachControls();
    }
    return handled;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        id = LOWORD(wParam);
        // Menus and accelerators (no control window) are plain commands, whatever their code.
        code = lParam ? HIWORD(wParam) : 0;
    }
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message, code, id);
    LRESULT result = 0;
    if (entry && entry->pfn(this, wParam, lParam, result)) {
        if (message == WM_QUERYDRAGICON) {
            return result;  // one of the few results a dialog procedure returns directly
        }
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    if (id == IDOK && code == BN_CLICKED) {
        OnOK();
        return TRUE;
    }
    if (id == IDCANCEL && code == BN_CLICKED) {
        OnCancel();
        return TRUE;
    }
    // Commands the dialog does not handle go to the application, as menu commands would.
    CWinApp* app = AfxGetApp();
    return app && code == 0 && app->OnCmdMsg(0, id);
}
