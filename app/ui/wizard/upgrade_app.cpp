#include "wizard/upgrade_app.h"

#include "flashmate/reporting.h"
#include "flashmate/session.h"
#include "wizard/upgrade_sheet.h"

int RunUpgradeWizard(const std::function<void(CUpgradeSheet&)>& onSheetCreated)
{
    InitSession(GetSession());
    CUpgradeSheet sheet;
    sheet.Create();
    if (onSheetCreated) {
        onSheetCreated(sheet);
    }
    SetMainWindow(&sheet);
    const int result = sheet.DoModal();
    SetMainWindow(nullptr);
    return result;
}

CUpgradeApp::CUpgradeApp(int& argc, char** argv) : platform::Application(argc, argv) {}

bool CUpgradeApp::InitInstance()
{
    RunUpgradeWizard([this](CUpgradeSheet& sheet) { OnSheetCreated(sheet); });
    return false;
}

void CUpgradeApp::OnSheetCreated(CUpgradeSheet&) {}
