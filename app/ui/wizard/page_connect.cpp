#include "wizard/page_connect.h"

#include "flashmate/jobs.h"
#include "flashmate/reporting.h"
#include "flashmate/session.h"
#include "wizard/artwork.h"
#include "wizard/upgrade_sheet.h"

#include <QButtonGroup>
#include <QGroupBox>

namespace {

constexpr platform::DialogTemplate kTemplate{340, 193, "MS Sans Serif", 10};

constexpr const char* kBauds[] = {"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                                  "14400", "19200", "38400", "56000", "57600", "115200"};
constexpr const char* kParities[] = {"None", "Even", "Odd", "Mark", "Space"};
constexpr const char* kProcesses[] = {"Запись ", "Чтение   "};

// The drop-down part of a list is Qt's to size; the template's height is that of the open list.
QComboBox* DropDownList(QComboBox* list)
{
    list->setEditable(false);
    list->resize(list->width(), list->sizeHint().height());
    return list;
}

}  // namespace

CPageConnect::CPageConnect() : platform::WizardPage(kTemplate) {}

void CPageConnect::CreateControls()
{
    AddControl<platform::PictureControl>(
        0, QRect(0, 0, 125, 193),
        [](QPainter& painter, const QRect& area) { DrawWizardPicture(painter, area, WizardPicture::Connect); });
    AddControl<QGroupBox>(0, QRect(128, 3, 198, 64), QString::fromUtf8("Параметры порта"));
    AddControl<QLabel>(0, QRect(135, 24, 17, 12), QString::fromUtf8("Порт"));
    ports_ = DropDownList(AddControl<QComboBox>(PortListId, QRect(166, 22, 49, 60)));
    AddControl<QLabel>(0, QRect(230, 24, 35, 12), QString::fromUtf8("Скорость"));
    bauds_ = DropDownList(AddControl<QComboBox>(BaudListId, QRect(268, 22, 49, 59)));
    for (const char* baud : kBauds) {
        bauds_->addItem(QString::fromUtf8(baud));
    }
    AddControl<QLabel>(0, QRect(135, 43, 29, 12), QString::fromUtf8("Паритет"));
    parities_ = DropDownList(AddControl<QComboBox>(ParityListId, QRect(166, 41, 49, 52)));
    for (const char* parity : kParities) {
        parities_->addItem(QString::fromUtf8(parity));
    }

    AddControl<QLabel>(0, QRect(128, 70, 37, 8), QString::fromUtf8("STB Tool:"))->hide();
    tools_[0] = AddControl<QRadioButton>(ToolAutoId, QRect(188, 69, 32, 10), QString::fromUtf8("Авто"));
    tools_[1] = AddControl<QRadioButton>(ToolEromId, QRect(229, 69, 32, 10), QString::fromUtf8("EROM"));
    tools_[2] = AddControl<QRadioButton>(ToolLoaderId, QRect(270, 69, 60, 10), QString::fromUtf8("Загрузчик"));
    auto* toolGroup = new QButtonGroup(this);
    for (QRadioButton* tool : tools_) {
        toolGroup->addButton(tool);
        tool->hide();
    }

    AddControl<QLabel>(0, QRect(136, 103, 35, 8), QString::fromUtf8("Процесс:"));
    processes_ = DropDownList(AddControl<QComboBox>(ProcessListId, QRect(189, 102, 136, 49)));
    for (const char* process : kProcesses) {
        processes_->addItem(QString::fromUtf8(process));
    }
    status_ = AddControl<QLabel>(StatusLineId, QRect(128, 123, 196, 8), QString::fromUtf8("Открытие порта"));
    status_->hide();
    log_ = AddControl<platform::LogEdit>(LogId, QRect(128, 138, 196, 55), platform::LogEdit::VerticalBar::None);
}

bool CPageConnect::OnInitDialog()
{
    platform::WizardPage::OnInitDialog();
    GetSession();

    for (int n = 1; n <= PortCount; ++n) {
        ports_->addItem(QStringLiteral("COM%1").arg(n));
    }
    ports_->setCurrentIndex(PortNumber > 0 && PortNumber <= PortCount ? PortNumber - 1 : -1);

    bauds_->setCurrentIndex(-1);
    for (int i = 0; i < bauds_->count(); ++i) {
        if (bauds_->itemText(i).toInt() == BaudRate) {
            bauds_->setCurrentIndex(i);
            break;
        }
    }

    parities_->setCurrentIndex(-1);
    for (int i = 0; i < parities_->count(); ++i) {
        if (ParityCodeAt[i] == ParityCode) {
            parities_->setCurrentIndex(i);
            break;
        }
    }

    tools_[0]->setChecked(true);
    processes_->setCurrentIndex(0);
    return true;
}

CUpgradeSheet* CPageConnect::UpgradeSheet() const
{
    return dynamic_cast<CUpgradeSheet*>(Sheet());
}

bool CPageConnect::OnSetActive()
{
    CUpgradeSheet* sheet = UpgradeSheet();
    sheet->EnableButton(platform::ButtonBack, false);
    sheet->EnableButton(platform::ButtonNext, true);
    sheet->EnableButton(platform::ButtonCancel, true);
    sheet->SetButtonText(platform::ButtonBack, ButtonLabel::Back);
    sheet->SetButtonText(platform::ButtonNext, ButtonLabel::Connect);
    sheet->SetButtonText(platform::ButtonCancel, ButtonLabel::Exit);
    status_->hide();
    log_->hide();
    return platform::WizardPage::OnSetActive();
}

int CPageConnect::OnWizardNext()
{
    UpgradeSession& session = GetSession();
    if (session.jobState.load() == JobConnecting) {
        CancelRequested = 1;
        return platform::WizardStay;
    }
    CUpgradeSheet* sheet = UpgradeSheet();
    sheet->SetButtonText(platform::ButtonNext, ButtonLabel::CancelJob);
    if (ports_->currentIndex() >= 0) {
        PortNumber = ports_->currentIndex() + 1;
    }
    if (bauds_->currentIndex() >= 0) {
        BaudRate = bauds_->currentText().toInt();
    }
    if (parities_->currentIndex() >= 0) {
        ParityCode = ParityCodeAt[parities_->currentIndex()];
    }
    if (processes_->currentIndex() >= 0) {
        session.processKind = static_cast<uint32_t>(processes_->currentIndex());
    }
    for (int i = 0; i < 3; ++i) {
        if (tools_[i]->isChecked()) {
            session.stbToolMode = i;
        }
    }
    status_->clear();
    status_->show();
    log_->SetText({});
    log_->show();
    // Refused only while the last job is still winding down: then nothing runs that "Отмена"
    // could stop, and the page stays ready to connect.
    if (!StartConnectJob()) {
        sheet->SetButtonText(platform::ButtonNext, ButtonLabel::Connect);
    }
    return platform::WizardStay;
}

void CPageConnect::OnCancel()
{
    platform::SendMessage(Sheet(), platform::WM_CLOSE);
}

bool CPageConnect::PreTranslateMessage(platform::Message& message)
{
    if (CloseSheetOnEscape(message)) {
        return true;
    }
    switch (message.message) {
    case WM_JOB_STATUS:
        status_->setText(QString::fromStdString(message.text));
        log_->SetText(log_->Text() + message.text + "\r\n");
        return true;
    case WM_JOB_LOG:
        log_->SetText(log_->Text() + message.text);
        return true;
    default:
        return false;
    }
}

void CPageConnect::ShowNotice(const std::string& status, const std::string& log)
{
    status_->setText(QString::fromStdString(status));
    status_->show();
    log_->SetText(log);
    log_->show();
}
