#include "app/Vandrel.h"

#include "dialog/VandrelDlg.h"

BEGIN_MESSAGE_MAP(CVandrelApp, CWinApp)
// Nothing sends ID_HELP (F1 brings WM_HELP, left to the system), and there is no help file.
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CVandrelApp theApp;

BOOL CVandrelApp::InitInstance() {
    // The dialogs host no ActiveX controls, so there is no container to enable.
    AfxEnableControlContainer();

    CVandrelDlg dlg;
    m_pMainWnd = &dlg;
    // However the dialog ended, there is nothing more to do.
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // No message loop: the program ends with its dialog.
    return FALSE;
}
