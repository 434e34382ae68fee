#include "platform/WinApp.h"

namespace {

CWinApp* theApplication = nullptr;

}  // namespace

CWinApp::CWinApp() {
    theApplication = this;
}

CWinApp::~CWinApp() {
    theApplication = nullptr;
}

CWinApp* AfxGetApp() {
    return theApplication;
}

HINSTANCE AfxFindResourceHandle() {
    return ::GetModuleHandleW(nullptr);
}

// The command line is not looked at: the program has no options.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (app) {
        app->InitInstance();
    }
    return 0;
}
