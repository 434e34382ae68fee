// The application object. The program defines exactly one, globally; the entry point runs its
// InitInstance, and the process ends when InitInstance returns.
#pragma once

#include "platform/CmdTarget.h"

class CWnd;

class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs the program. A program of this framework does all its work here (a modal dialog) and
    // returns FALSE; there is no message loop to enter afterwards.
    virtual BOOL InitInstance() = 0;
    // The program ships no help file: a help request has nothing to open.
    void OnHelp() {}

    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The module that holds the program's resources: the executable itself.
HINSTANCE AfxFindResourceHandle();
// The command the application handles: a help request.
#define ID_HELP 0xE146

// Hosting ActiveX controls needs nothing here; the call stays so that start-up reads in order.
inline void AfxEnableControlContainer() {}
