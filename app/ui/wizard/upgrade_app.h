// The application: prepares the session, runs the wizard sheet modally as its main window, and
// ends when the sheet closes.
#pragma once

#include "platform/application.h"

#include <functional>

class CUpgradeSheet;

// The application's work between start and end: the session with its settings and the
// library's message callback, then the sheet as the main window, run modally. onSheetCreated
// sees the sheet's window before it is shown. The sheet's modal result.
int RunUpgradeWizard(const std::function<void(CUpgradeSheet&)>& onSheetCreated);

class CUpgradeApp : public platform::Application {
public:
    CUpgradeApp(int& argc, char** argv);

protected:
    // RunUpgradeWizard; false, since no message loop is to follow the sheet.
    bool InitInstance() override;
    // The sheet's window exists and is about to be run.
    virtual void OnSheetCreated(CUpgradeSheet& sheet);
};
