#include "tools/simulated_app.h"

#include "wizard/upgrade_sheet.h"

#include <cstdio>

SimulatedApp::SimulatedApp(int& argc, char** argv) : CUpgradeApp(argc, argv), simulation_(Simulation::DefaultFolder()) {}

bool SimulatedApp::InitInstance()
{
    std::string error;
    if (!simulation_.Start(&error)) {
        std::fprintf(stderr, "flashmate-gui: the simulated receiver did not start: %s\n", error.c_str());
        return false;
    }
    std::fprintf(stderr,
                 "flashmate-gui: COM1 is a simulated receiver.\n"
                 "  Sample image to write: %s\n"
                 "  Settings and files read back: %s\n",
                 simulation_.SampleImagePath().c_str(), simulation_.Folder().c_str());
    return CUpgradeApp::InitInstance();
}

void SimulatedApp::OnSheetCreated(CUpgradeSheet& sheet)
{
    simulation_.MapPort();
    sheet.ConnectPage().ShowNotice(simulation_.NoticeStatus(), simulation_.NoticeLog());
    sheet.SelectPage().Dialogs().SetFolder(simulation_.Folder());
}
