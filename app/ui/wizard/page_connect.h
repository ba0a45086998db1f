// Page 0: the serial port, its speed and parity, and the kind of work; Next connects, and while
// the connect job runs it cancels. The job's status line and log show on the page.
#pragma once

#include "platform/controls.h"
#include "platform/wizard.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include <string>

class CUpgradeSheet;

class CPageConnect : public platform::WizardPage {
public:
    static constexpr int PortListId = 1039;
    static constexpr int BaudListId = 1040;
    static constexpr int ParityListId = 1041;
    static constexpr int ToolAutoId = 1000;
    static constexpr int ToolEromId = 1001;
    static constexpr int ToolLoaderId = 1002;
    static constexpr int ProcessListId = 1005;
    static constexpr int StatusLineId = 1003;
    static constexpr int LogId = 1006;

    static constexpr int PortCount = 32;

    CPageConnect();

    bool OnInitDialog() override;
    bool OnSetActive() override;
    int OnWizardNext() override;
    void OnCancel() override;
    bool PreTranslateMessage(platform::Message& message) override;

    // Shows the status line and the log with these texts until the next connect or activation.
    void ShowNotice(const std::string& status, const std::string& log);

    QLabel* StatusLine() const { return status_; }
    platform::LogEdit* Log() const { return log_; }

protected:
    void CreateControls() override;

private:
    CUpgradeSheet* UpgradeSheet() const;

    QComboBox* ports_ = nullptr;
    QComboBox* bauds_ = nullptr;
    QComboBox* parities_ = nullptr;
    QRadioButton* tools_[3] = {};
    QComboBox* processes_ = nullptr;
    QLabel* status_ = nullptr;
    platform::LogEdit* log_ = nullptr;
};

// The parity code of each position of the parity list, "None", "Even", "Odd", "Mark", "Space".
inline constexpr int ParityCodeAt[] = {0, 2, 1, 3, 4};
