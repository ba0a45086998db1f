// Page 2: the write or read job at work: status line, progress bar and log. Next cancels the
// transfer; while the receiver burns, nothing works; at the end a message tells the outcome,
// Back ("Повторить") starts over from the connect page and Next ("Завершить") closes.
#pragma once

#include "platform/controls.h"
#include "platform/wizard.h"

#include <QLabel>
#include <QProgressBar>

#include <cstdint>
#include <string>

class CUpgradeSheet;

// The message at a job's end, by process kind and outcome.
std::string FinalMessage(uint32_t processKind, bool failed);

class CPageProcess : public platform::WizardPage {
public:
    static constexpr int StatusLineId = 1025;
    static constexpr int ProgressId = 1018;
    static constexpr int PercentId = 1019;
    static constexpr int LogId = 1006;

    CPageProcess();

    bool OnSetActive() override;
    int OnWizardNext() override;
    int OnWizardBack() override;
    bool PreTranslateMessage(platform::Message& message) override;

    // From the burn's start until the job's end.
    bool IsBurning() const { return burning_; }

    QLabel* StatusLine() const { return status_; }
    QProgressBar* Progress() const { return progress_; }
    QLabel* Percent() const { return percent_; }
    platform::LogEdit* Log() const { return log_; }

protected:
    void CreateControls() override;

private:
    CUpgradeSheet* UpgradeSheet() const;
    void SetButtons(bool enabled);
    void OnJobDone(bool failed, bool cancelled);

    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* percent_ = nullptr;
    platform::LogEdit* log_ = nullptr;
    bool burning_ = false;
};
