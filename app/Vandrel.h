// The application: runs the "Brand" dialog, then ends.
#pragma once

#include "platform/WinApp.h"

class CVandrelApp : public CWinApp {
public:
    CVandrelApp() = default;
    ~CVandrelApp() override = default;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
