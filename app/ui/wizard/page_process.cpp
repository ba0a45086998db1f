#include "wizard/page_process.h"

#include "flashmate/reporting.h"
#include "flashmate/session.h"
#include "platform/dialogs.h"
#include "wizard/artwork.h"
#include "wizard/upgrade_sheet.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr platform::DialogTemplate kTemplate{340, 193, "MS Sans Serif", 10};

constexpr const char* kWritePiece = "Запись ";
constexpr const char* kReadPiece = "Чтение ";
constexpr const char* kSuccessPiece = " завершено успешно!";
constexpr const char* kFailurePiece = "Ошибка";

constexpr int kConnectPageIndex = 0;
constexpr int kProgressMaximum = 100;

}  // namespace

std::string FinalMessage(uint32_t processKind, bool failed)
{
    return std::string(processKind == ProcessWrite ? kWritePiece : kReadPiece) + (failed ? kFailurePiece : kSuccessPiece);
}

CPageProcess::CPageProcess() : platform::WizardPage(kTemplate) {}

void CPageProcess::CreateControls()
{
    status_ = AddControl<QLabel>(StatusLineId, QRect(125, 10, 202, 8), QString::fromUtf8("Загрузка.."));
    progress_ = AddControl<QProgressBar>(ProgressId, QRect(125, 24, 163, 14));
    progress_->setRange(0, kProgressMaximum);
    progress_->setTextVisible(false);
    percent_ = AddControl<QLabel>(PercentId, QRect(297, 29, 25, 8), QStringLiteral("0%"));
    AddControl<platform::PictureControl>(
        0, QRect(0, 0, 92, 193),
        [](QPainter& painter, const QRect& area) { DrawWizardPicture(painter, area, WizardPicture::Process); });
    log_ = AddControl<platform::LogEdit>(LogId, QRect(126, 46, 198, 144), platform::LogEdit::VerticalBar::Always);
}

CUpgradeSheet* CPageProcess::UpgradeSheet() const
{
    return dynamic_cast<CUpgradeSheet*>(Sheet());
}

bool CPageProcess::OnSetActive()
{
    status_->clear();
    log_->SetText({});
    CUpgradeSheet* sheet = UpgradeSheet();
    sheet->EnableButton(platform::ButtonBack, false);
    sheet->EnableButton(platform::ButtonNext, true);
    sheet->EnableButton(platform::ButtonCancel, true);
    sheet->SetButtonText(platform::ButtonBack, ButtonLabel::Back);
    sheet->SetButtonText(platform::ButtonNext, ButtonLabel::CancelJob);
    sheet->SetButtonText(platform::ButtonCancel, ButtonLabel::Exit);
    progress_->setValue(0);
    percent_->setText(QStringLiteral("0%"));
    burning_ = false;
    return platform::WizardPage::OnSetActive();
}

int CPageProcess::OnWizardNext()
{
    if (GetSession().jobState.load() == JobTransferring) {
        CancelRequested = 1;
        return platform::WizardStay;
    }
    platform::PostMessage(Sheet(), platform::WM_CLOSE);
    return platform::WizardStay;
}

int CPageProcess::OnWizardBack()
{
    Sheet()->SetActivePage(kConnectPageIndex);
    return platform::WizardStay;
}

void CPageProcess::SetButtons(bool enabled)
{
    CUpgradeSheet* sheet = UpgradeSheet();
    sheet->EnableButton(platform::ButtonBack, enabled);
    sheet->EnableButton(platform::ButtonNext, enabled);
    sheet->EnableButton(platform::ButtonCancel, enabled);
}

void CPageProcess::OnJobDone(bool failed, bool cancelled)
{
    burning_ = false;
    if (cancelled) {
        Sheet()->SetActivePage(kConnectPageIndex);
        return;
    }
    SetButtons(true);
    CUpgradeSheet* sheet = UpgradeSheet();
    sheet->SetButtonText(platform::ButtonBack, ButtonLabel::Repeat);
    sheet->SetButtonText(platform::ButtonNext, ButtonLabel::Finish);
    sheet->SetButtonText(platform::ButtonCancel, ButtonLabel::Exit);
    platform::MessageBox(Sheet(), FinalMessage(GetSession().processKind, failed));
}

bool CPageProcess::PreTranslateMessage(platform::Message& message)
{
    if (CloseSheetOnEscape(message)) {
        return true;
    }
    switch (message.message) {
    case WM_JOB_STATUS: {
        status_->setText(QString::fromStdString(message.text));
        std::string log = log_->Text();
        if (!log.empty()) {
            log += "\r\n";
        }
        log_->SetText(log + message.text);
        return true;
    }
    case WM_JOB_LOG:
        log_->SetText(log_->Text() + message.text);
        log_->ScrollToEnd();
        return true;
    case WM_JOB_PROGRESS: {
        // The bar stops at its ends; the label says what came.
        progress_->setValue(static_cast<int>(std::min<uintptr_t>(message.wParam, kProgressMaximum)));
        char percent[16];
        std::snprintf(percent, sizeof percent, "%u%%", static_cast<unsigned>(message.wParam));
        percent_->setText(QString::fromLatin1(percent));
        return true;
    }
    case WM_JOB_DONE:
        OnJobDone(message.wParam != 0, message.lParam != 0);
        return true;
    case WM_BURN_STARTED:
        burning_ = true;
        SetButtons(false);
        return true;
    default:
        return false;
    }
}
