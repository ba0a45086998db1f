// The wizard's sheet: the three pages, the title with the tool's and the receiver's protocol
// version, the library's version at the bottom left, and the one place where the wizard
// closes. It is the application's main window: the jobs post their messages to it, and it
// passes them on to the page that is active.
#pragma once

#include "flashmate/reporting.h"
#include "platform/wizard.h"
#include "wizard/page_connect.h"
#include "wizard/page_process.h"
#include "wizard/page_select.h"

#include <QDialog>
#include <QLabel>
#include <QRect>

#include <cstdint>
#include <string>

inline constexpr const char* SheetCaption = "VUZ Idudevi 2.0.0";
inline constexpr const char* ToolTitle = "Flashmate Version:2.0.0c. 2008-01-25";
inline constexpr int LibraryLabelId = 0xFFFF;

// Every label the pages put on the wizard's buttons.
namespace ButtonLabel {
inline constexpr const char* Back = "< Назад";
inline constexpr const char* Connect = "Подключить";  // Next on the connect page while idle
inline constexpr const char* Next = "Далее >";        // Next on the select page
inline constexpr const char* CancelJob = "Отмена";    // Next while a job runs
inline constexpr const char* Repeat = "Повторить";    // Back after a finished job
inline constexpr const char* Finish = "Завершить";    // Next after a finished job
inline constexpr const char* Exit = "Выход";          // Cancel on every page
}  // namespace ButtonLabel

// A small box asking to wait, in light green; hidden unless ShowWaitBox shows it.
class CWaitDialog : public QDialog {
public:
    CWaitDialog();
    // Makes the box, owned by owner, centred over it and hidden.
    void Create(QWidget* owner);
    void CentreOverOwner();
    static const QColor& Colour();
};

// Where the library label goes in a client area: a strip 15 pixels high, 2 pixels above the
// bottom, from 2 pixels off the left edge to the middle of what remains.
QRect LibraryLabelRect(const QRect& client);

// The title for a protocol version; 0: none found yet.
std::string VersionTitle(uint32_t protocolVersion);

class CUpgradeSheet : public platform::WizardSheet, public MainWindow {
public:
    CUpgradeSheet();
    ~CUpgradeSheet() override;

    void AddWizardPages();
    // Sets the text of the child with the id, if there is one.
    void SetButtonText(int id, const std::string& text);
    // Enables or disables the child with the id: 1 when it was disabled before, else 0; 0 when
    // there is no such child.
    int EnableButton(int id, bool enable);
    void ShowVersionTitle(uint32_t protocolVersion);
    void ShowWaitBox(bool show);

    bool OnInitDialog() override;
    bool PreTranslateMessage(platform::Message& message) override;

    // The jobs' messages, from the worker thread.
    void Post(JobMessage message) override;

    CPageConnect& ConnectPage() { return connectPage_; }
    CPageSelect& SelectPage() { return selectPage_; }
    CPageProcess& ProcessPage() { return processPage_; }
    CWaitDialog& WaitBox() { return waitBox_; }
    QLabel& LibraryLabel() { return libraryLabel_; }

protected:
    // Dropped while the receiver burns; otherwise the session is shut down and the wizard ends.
    void OnClose() override;

private:
    CPageConnect connectPage_;
    CPageSelect selectPage_;
    CPageProcess processPage_;
    CWaitDialog waitBox_;
    QLabel libraryLabel_;
    bool closed_ = false;
};
