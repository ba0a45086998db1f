#include "wizard/upgrade_sheet.h"

#include "flashmate/session.h"
#include "flashmate/upgrade.h"
#include "platform/controls.h"

#include <QAbstractButton>
#include <QPalette>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kVersionTitleFormat = "%s Protocol version: %d.%d";
constexpr const char* kLibraryLabelFormat = "Upgrade Library Version: %s";

// The wait box's template, in its own dialog units.
constexpr platform::DialogTemplate kWaitTemplate{222, 30, "System", 10};
constexpr const char* kWaitText = "Ждите завершения...";
const QRect kWaitTextUnits(12, 11, 179, 8);

// The library label's strip, in pixels from the client area's edges.
constexpr int kLabelTopFromBottom = 17;
constexpr int kLabelBottomFromBottom = 2;
constexpr int kLabelLeftInset = 2;

constexpr int kSelectPageIndex = 1;

bool IsForwardedJobMessage(uint32_t message)
{
    return message == WM_JOB_STATUS || message == WM_JOB_LOG || message == WM_JOB_PROGRESS || message == WM_JOB_DONE ||
           message == WM_BURN_STARTED;
}

}  // namespace

// ---- wait box ----

CWaitDialog::CWaitDialog()
{
    setFont(platform::DialogFont(kWaitTemplate.fontFamily, kWaitTemplate.fontPointSize));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Colour());
    setPalette(colours);
    setAutoFillBackground(true);
}

void CWaitDialog::Create(QWidget* owner)
{
    setParent(owner, Qt::Tool | Qt::FramelessWindowHint);
    const platform::DialogUnits units(font());
    setFixedSize(units.Map(0, 0, kWaitTemplate.width, kWaitTemplate.height).size());
    auto* text = new QLabel(QString::fromUtf8(kWaitText), this);
    text->setGeometry(units.Map(kWaitTextUnits.x(), kWaitTextUnits.y(), kWaitTextUnits.width(), kWaitTextUnits.height()));
    text->setAutoFillBackground(true);
    CentreOverOwner();
    hide();
}

void CWaitDialog::CentreOverOwner()
{
    if (const QWidget* owner = parentWidget()) {
        move(owner->mapToGlobal(owner->rect().center()) - rect().center());
    }
}

const QColor& CWaitDialog::Colour()
{
    static const QColor colour(155, 250, 50);
    return colour;
}

// ---- sheet ----

QRect LibraryLabelRect(const QRect& client)
{
    // Edges as the window system counts them: right and bottom are one past the last pixel.
    const int clientRight = client.x() + client.width();
    const int clientBottom = client.y() + client.height();
    const int top = clientBottom - kLabelTopFromBottom;
    const int bottom = clientBottom - kLabelBottomFromBottom;
    const int left = client.x() + kLabelLeftInset;
    const int right = left + (clientRight - left) / 2;
    return QRect(left, top, right - left, bottom - top);
}

std::string VersionTitle(uint32_t protocolVersion)
{
    if (protocolVersion == 0) {
        return ToolTitle;
    }
    char title[128];
    std::snprintf(title, sizeof title, kVersionTitleFormat, ToolTitle, static_cast<int>(protocolVersion >> 4),
                  static_cast<int>(protocolVersion & 0xF));
    return title;
}

CUpgradeSheet::CUpgradeSheet() : platform::WizardSheet(QString::fromUtf8(SheetCaption))
{
    AddWizardPages();
}

CUpgradeSheet::~CUpgradeSheet() = default;

void CUpgradeSheet::AddWizardPages()
{
    AddPage(&connectPage_);
    AddPage(&selectPage_);
    AddPage(&processPage_);
}

void CUpgradeSheet::SetButtonText(int id, const std::string& text)
{
    if (auto* button = dynamic_cast<QAbstractButton*>(GetDlgItem(id))) {
        button->setText(QString::fromStdString(text));
    } else if (auto* label = dynamic_cast<QLabel*>(GetDlgItem(id))) {
        label->setText(QString::fromStdString(text));
    }
}

int CUpgradeSheet::EnableButton(int id, bool enable)
{
    QWidget* child = GetDlgItem(id);
    if (child == nullptr) {
        return 0;
    }
    const bool wasDisabled = !child->isEnabled();
    child->setEnabled(enable);
    return wasDisabled ? 1 : 0;
}

void CUpgradeSheet::ShowVersionTitle(uint32_t protocolVersion)
{
    setWindowTitle(QString::fromStdString(VersionTitle(protocolVersion)));
}

void CUpgradeSheet::ShowWaitBox(bool show)
{
    // Centred again: the sheet may have moved since the box was made.
    if (show) {
        waitBox_.CentreOverOwner();
    }
    waitBox_.setVisible(show);
}

bool CUpgradeSheet::OnInitDialog()
{
    const bool result = platform::WizardSheet::OnInitDialog();
    ShowVersionTitle(0);
    waitBox_.Create(this);

    char text[64];
    std::snprintf(text, sizeof text, kLibraryLabelFormat, UpgGetLibraryVersion());
    libraryLabel_.setParent(this);
    libraryLabel_.setText(QString::fromUtf8(text));
    platform::SetControlId(&libraryLabel_, LibraryLabelId);
    libraryLabel_.setGeometry(LibraryLabelRect(rect()));
    libraryLabel_.show();
    return result;
}

bool CUpgradeSheet::PreTranslateMessage(platform::Message& message)
{
    if (message.message == platform::WM_KEYDOWN && message.wParam == platform::VK_ESCAPE) {
        platform::PostMessage(this, platform::WM_CLOSE);
        return true;
    }
    if (message.message == platform::WM_KEYDOWN && message.wParam == platform::VK_RETURN) {
        if (const QWidget* next = GetDlgItem(platform::ButtonNext); next != nullptr && next->isEnabled()) {
            PressButton(platform::ButtonNext);
        }
        return true;
    }
    if (IsForwardedJobMessage(message.message)) {
        // Only what was posted to the sheet goes on; a page that has no use for a message
        // drops it, or it would come back here for ever.
        if (message.target == this) {
            platform::PostMessage(GetActivePage(), message.message, message.wParam, message.lParam,
                                  std::move(message.text));
        }
        return true;
    }
    if (message.message == WM_CONNECT_DONE) {
        if (message.wParam == 1) {
            ShowVersionTitle(GetSession().protocolVersion);
            SetActivePage(kSelectPageIndex);
        } else {
            SetButtonText(platform::ButtonNext, ButtonLabel::Connect);
        }
        return true;
    }
    return false;
}

void CUpgradeSheet::Post(JobMessage message)
{
    platform::PostMessage(this, message.message, message.wParam, message.lParam, std::move(message.text));
}

void CUpgradeSheet::OnClose()
{
    if (closed_ || GetSession().jobState.load() == JobBurning || processPage_.IsBurning()) {
        return;
    }
    closed_ = true;
    if (!ShutdownSession()) {
        // The job did not end and still uses the session: nothing may be destroyed under it.
        std::quick_exit(EXIT_FAILURE);
    }
    platform::WizardSheet::OnClose();
}
