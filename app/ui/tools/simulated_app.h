// The wizard as usual, with COM1 answered by a simulated receiver in this process.
#pragma once

#include "tools/simulation.h"
#include "wizard/upgrade_app.h"

class SimulatedApp : public CUpgradeApp {
public:
    SimulatedApp(int& argc, char** argv);

protected:
    bool InitInstance() override;
    void OnSheetCreated(CUpgradeSheet& sheet) override;

private:
    Simulation simulation_;
};
