#include "platform/wizard.h"

#include "platform/controls.h"

#include <QCloseEvent>
#include <QFrame>
#include <QPushButton>
#include <QStackedWidget>

#include <algorithm>

namespace platform {

namespace {

// The frame around the pages and the buttons, in dialog units.
constexpr int kMargin = 7;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kButtonGap = 7;

}  // namespace

// ---- page ----

WizardPage::WizardPage(const DialogTemplate& dialogTemplate)
    : template_(dialogTemplate), units_(DialogFont(dialogTemplate.fontFamily, dialogTemplate.fontPointSize))
{
    setFont(DialogFont(dialogTemplate.fontFamily, dialogTemplate.fontPointSize));
    const QRect size = units_.Map(0, 0, template_.width, template_.height);
    setFixedSize(size.size());
}

void WizardPage::Create()
{
    if (created_) {
        return;
    }
    created_ = true;
    CreateControls();
    OnInitDialog();
}

bool WizardPage::CloseSheetOnEscape(const Message& message)
{
    if (message.message != WM_KEYDOWN || message.wParam != VK_ESCAPE) {
        return false;
    }
    PostMessage(Sheet(), WM_CLOSE);
    return true;
}

QWidget* WizardPage::GetDlgItem(int id) const
{
    return FindControl(this, id);
}

bool WizardPage::OnInitDialog()
{
    return true;
}

bool WizardPage::OnSetActive()
{
    return true;
}

bool WizardPage::OnKillActive()
{
    return true;
}

int WizardPage::OnWizardNext()
{
    return WizardMoveOn;
}

int WizardPage::OnWizardBack()
{
    return WizardMoveOn;
}

void WizardPage::OnCancel() {}

bool WizardPage::OnCommand(int)
{
    return false;
}

void WizardPage::WindowProc(Message& message)
{
    if (message.message == WM_COMMAND) {
        OnCommand(static_cast<int>(message.wParam));
    }
}

bool WizardPage::event(QEvent* event)
{
    return DispatchMessageEvent(event) || QWidget::event(event);
}

void WizardPage::PlaceControl(QWidget* control, int id, const QRect& units)
{
    if (id != 0) {
        SetControlId(control, id);
    }
    control->setGeometry(units_.Map(units.x(), units.y(), units.width(), units.height()));
}

// ---- sheet ----

WizardSheet::WizardSheet(const QString& caption, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(caption);
}

WizardSheet::~WizardSheet() = default;

void WizardSheet::AddPage(WizardPage* page)
{
    page->sheet_ = this;
    pages_.push_back(page);
}

void WizardSheet::Create()
{
    if (created_) {
        return;
    }
    created_ = true;

    int width = 0;
    int height = 0;
    for (const WizardPage* page : pages_) {
        width = std::max(width, page->Template().width);
        height = std::max(height, page->Template().height);
    }
    if (!pages_.empty()) {
        setFont(pages_.front()->font());
    }
    units_ = DialogUnits(font());

    stack_ = new QStackedWidget(this);
    stack_->setGeometry(units_.Map(kMargin, kMargin, width, height));
    for (WizardPage* page : pages_) {
        stack_->addWidget(page);
    }

    const int lineTop = kMargin + height + kMargin;
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    const QRect lineRect = units_.Map(kMargin, lineTop, width, 1);
    line->setGeometry(lineRect.x(), lineRect.y(), lineRect.width(), 2);

    const int totalWidth = kMargin + width + kMargin;
    const int buttonTop = lineTop + kButtonGap;
    const int cancelLeft = totalWidth - kMargin - kButtonWidth;
    const int nextLeft = cancelLeft - kButtonGap - kButtonWidth;
    const int backLeft = nextLeft - kButtonWidth;
    AddButton(ButtonBack, QStringLiteral("< Back"))->setGeometry(units_.Map(backLeft, buttonTop, kButtonWidth, kButtonHeight));
    QPushButton* next = AddButton(ButtonNext, QStringLiteral("Next >"));
    next->setGeometry(units_.Map(nextLeft, buttonTop, kButtonWidth, kButtonHeight));
    next->setDefault(true);
    AddButton(ButtonCancel, QStringLiteral("Cancel"))->setGeometry(units_.Map(cancelLeft, buttonTop, kButtonWidth, kButtonHeight));

    const QRect whole = units_.Map(0, 0, totalWidth, buttonTop + kButtonHeight + kMargin);
    setFixedSize(whole.size());

    OnInitDialog();
}

QPushButton* WizardSheet::AddButton(int id, const QString& text)
{
    auto* button = new QPushButton(text, this);
    SetControlId(button, id);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { PressButton(id); });
    return button;
}

int WizardSheet::DoModal()
{
    ending_ = false;
    Create();
    return exec();
}

void WizardSheet::EndDialog(int result)
{
    ending_ = true;
    done(result);
}

bool WizardSheet::SetActivePage(int index)
{
    WizardPage* page = GetPage(index);
    if (page == nullptr) {
        return false;
    }
    if (WizardPage* current = GetActivePage(); current != nullptr && index != active_ && !current->OnKillActive()) {
        return false;
    }
    page->Create();
    if (!page->OnSetActive()) {
        return false;
    }
    active_ = index;
    if (stack_ != nullptr) {
        stack_->setCurrentWidget(page);
    }
    return true;
}

WizardPage* WizardSheet::GetActivePage() const
{
    return GetPage(active_);
}

WizardPage* WizardSheet::GetPage(int index) const
{
    if (index < 0 || index >= GetPageCount()) {
        return nullptr;
    }
    return pages_[static_cast<size_t>(index)];
}

QWidget* WizardSheet::GetDlgItem(int id) const
{
    return FindControl(this, id, true);
}

void WizardSheet::PressButton(int buttonId)
{
    switch (buttonId) {
    case ButtonBack:
        OnBackPressed();
        break;
    case ButtonNext:
        OnNextPressed();
        break;
    case ButtonCancel:
        OnCancelPressed();
        break;
    default:
        break;
    }
}

void WizardSheet::OnBackPressed()
{
    WizardPage* page = GetActivePage();
    if (page != nullptr && page->OnWizardBack() == WizardMoveOn) {
        SetActivePage(active_ - 1);
    }
}

void WizardSheet::OnNextPressed()
{
    WizardPage* page = GetActivePage();
    if (page != nullptr && page->OnWizardNext() == WizardMoveOn) {
        SetActivePage(active_ + 1);
    }
}

void WizardSheet::OnCancelPressed()
{
    for (WizardPage* page : pages_) {
        if (page->IsCreated()) {
            page->OnCancel();
        }
    }
}

bool WizardSheet::OnInitDialog()
{
    SetActivePage(0);
    return true;
}

void WizardSheet::WindowProc(Message& message)
{
    if (message.message == WM_CLOSE) {
        OnClose();
    }
}

bool WizardSheet::event(QEvent* event)
{
    return DispatchMessageEvent(event) || QDialog::event(event);
}

void WizardSheet::OnClose()
{
    EndDialog(QDialog::Rejected);
}

void WizardSheet::closeEvent(QCloseEvent* event)
{
    if (ending_) {
        event->accept();
        return;
    }
    event->ignore();
    PostMessage(this, WM_CLOSE);
}

void WizardSheet::reject()
{
    if (ending_) {
        QDialog::reject();
        return;
    }
    PostMessage(this, WM_CLOSE);
}

}  // namespace platform
