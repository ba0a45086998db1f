#include "wizard/page_select.h"

#include "flashmate/jobs.h"
#include "flashmate/session.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "wizard/artwork.h"
#include "wizard/upgrade_sheet.h"

#include <QHeaderView>
#include <QMouseEvent>

#include <algorithm>
#include <cstring>

namespace {

constexpr platform::DialogTemplate kTemplate{340, 193, "MS Sans Serif", 10};

constexpr int kItemColumn = 0;
constexpr int kFileColumn = 1;
constexpr int kItemColumnWidth = 170;
constexpr int kFileColumnWidth = 300;
constexpr int kKeyRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

constexpr const char* kAllChunk = "All Chunk";
constexpr const char* kAllChunkNoBootLoader = "All Chunk(No BootLoader)";
constexpr const char* kProcessLabel = "Процесс:";
constexpr const char* kWriteSuffix = " запись";
constexpr const char* kReadSuffix = " чтение";
constexpr const char* kSelectFirst = "Сначала выберите файл!";

const std::vector<platform::MenuCommand> kMenu = {
    {CPageSelect::OpenFileCommand, "Open File"},
    {CPageSelect::CancelSelectCommand, "Cancel Select"},
};

}  // namespace

CPageSelect::CPageSelect() : platform::WizardPage(kTemplate), dialogs_(this) {}

void CPageSelect::CreateControls()
{
    AddControl<platform::PictureControl>(
        0, QRect(0, 0, 92, 193),
        [](QPainter& painter, const QRect& area) { DrawWizardPicture(painter, area, WizardPicture::Select); });
    list_ = AddControl<QTreeWidget>(ListId, QRect(128, 21, 201, 168));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setRootIsDecorated(false);
    list_->setHeaderHidden(true);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->viewport()->installEventFilter(this);
    process_ = AddControl<QLabel>(ProcessLabelId, QRect(128, 7, 201, 8), QString::fromUtf8("Процесс: запись"));

    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { BindSelectedRow(); });
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ShowMenu(at); });
}

bool CPageSelect::OnInitDialog()
{
    platform::WizardPage::OnInitDialog();
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("Item"), QStringLiteral("File")});
    list_->header()->setDefaultAlignment(Qt::AlignLeft);
    list_->header()->setStretchLastSection(false);
    list_->setColumnWidth(kItemColumn, kItemColumnWidth);
    list_->setColumnWidth(kFileColumn, kFileColumnWidth);
    images_[ImageNoFile] = PaperImage(false);
    images_[ImageFile] = PaperImage(true);
    list_->setIconSize(QSize(ListImageSize, ListImageSize));
    return true;
}

CUpgradeSheet* CPageSelect::UpgradeSheet() const
{
    return dynamic_cast<CUpgradeSheet*>(Sheet());
}

bool CPageSelect::OnSetActive()
{
    UpgradeSession& session = GetSession();
    const bool write = session.processKind == ProcessWrite;

    CUpgradeSheet* sheet = UpgradeSheet();
    sheet->EnableButton(platform::ButtonBack, true);
    sheet->EnableButton(platform::ButtonNext, false);
    sheet->EnableButton(platform::ButtonCancel, true);
    sheet->SetButtonText(platform::ButtonBack, ButtonLabel::Back);
    sheet->SetButtonText(platform::ButtonNext, ButtonLabel::Next);
    sheet->SetButtonText(platform::ButtonCancel, ButtonLabel::Exit);

    process_->setText(QString::fromUtf8(kProcessLabel) + QString::fromUtf8(write ? kWriteSuffix : kReadSuffix));
    ResetSelections(session);

    list_->clear();
    AddRow(QString::fromUtf8(kAllChunk), KeyAll);
    if (write) {
        AddRow(QString::fromUtf8(kAllChunkNoBootLoader), KeyAllNoBootLoader);
    }
    for (uint32_t i = 0; i < ReceiverChunks.count && i < MaxChunks; ++i) {
        const ChunkInfo& chunk = ReceiverChunks.chunks[i];
        if (chunk.masked == 0) {
            AddRow(QString::fromLatin1(chunk.name, static_cast<qsizetype>(strnlen(chunk.name, sizeof chunk.name))),
                   static_cast<int32_t>(i));
        }
    }
    // The item column keeps its 170 pixels, or grows to its longest label where the system's
    // font is wider than the dialog font the page was laid out for.
    list_->resizeColumnToContents(kItemColumn);
    list_->setColumnWidth(kItemColumn, std::max(list_->columnWidth(kItemColumn), kItemColumnWidth));
    return platform::WizardPage::OnSetActive();
}

void CPageSelect::AddRow(const QString& label, int32_t key)
{
    auto* row = new QTreeWidgetItem(list_);
    row->setText(kItemColumn, label);
    row->setText(kFileColumn, QString());
    row->setData(kItemColumn, kKeyRole, key);
    SetRowImage(row, ImageNoFile);
}

void CPageSelect::SetRowImage(QTreeWidgetItem* row, int image)
{
    row->setData(kItemColumn, kImageRole, image);
    row->setIcon(kItemColumn, QIcon(images_[image]));
}

int32_t CPageSelect::RowKey(const QTreeWidgetItem* row)
{
    return row->data(kItemColumn, kKeyRole).toInt();
}

int CPageSelect::RowImage(const QTreeWidgetItem* row)
{
    return row->data(kItemColumn, kImageRole).toInt();
}

int CPageSelect::SelectedRow() const
{
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) {
        return -1;
    }
    const int row = list_->indexOfTopLevelItem(selected.constFirst());
    return row >= 0 && row < list_->topLevelItemCount() ? row : -1;
}

void CPageSelect::BindSelectedRow()
{
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    if (ChooseChunkFile(RowKey(list_->topLevelItem(row)), dialogs_).Accepted()) {
        UpdateRow(row, true);
    }
}

void CPageSelect::DropSelectedRow()
{
    const int row = SelectedRow();
    if (row >= 0) {
        UpdateRow(row, false);
    }
}

void CPageSelect::UpdateRow(int row, bool bound)
{
    QTreeWidgetItem* item = list_->topLevelItem(row);
    const int32_t key = RowKey(item);
    std::string text;
    int image = ImageNoFile;
    if (bound) {
        if (const ChunkSelection* slot = SelectionSlot(GetSession(), key)) {
            text = slot->filePath;
        }
        if (key == KeyAll || key == KeyAllNoBootLoader) {
            for (int other = 0; other < list_->topLevelItemCount(); ++other) {
                QTreeWidgetItem* shown = list_->topLevelItem(other);
                if (!shown->text(kFileColumn).isEmpty()) {
                    SetRowImage(shown, ImageNoFile);
                    shown->setText(kFileColumn, QString());
                }
            }
            list_->viewport()->repaint();
            KeepOnlyWholeImage(key);
        }
        image = ImageFile;
    } else {
        CancelChunkChoice(key);
    }
    item->setText(kFileColumn, QString::fromStdString(text));
    SetRowImage(item, image);
    UpgradeSheet()->EnableButton(platform::ButtonNext, HasAnySelection());
}

void CPageSelect::ShowMenu(const QPoint& position)
{
    if (SelectedRow() < 0) {
        return;
    }
    platform::TrackPopupMenu(kMenu, list_->viewport()->mapToGlobal(position), this);
}

bool CPageSelect::OnCommand(int commandId)
{
    switch (commandId) {
    case OpenFileCommand:
        BindSelectedRow();
        return true;
    case CancelSelectCommand:
        DropSelectedRow();
        return true;
    default:
        return false;
    }
}

int CPageSelect::OnWizardNext()
{
    if (!HasAnySelection()) {
        platform::MessageBox(this, kSelectFirst);
        return platform::WizardStay;
    }
    // Refused only while the connect job is still winding down; moving on then would leave the
    // progress page waiting for a job that never started.
    if (!StartProcessJob()) {
        return platform::WizardStay;
    }
    return platform::WizardMoveOn;
}

bool CPageSelect::PreTranslateMessage(platform::Message& message)
{
    return CloseSheetOnEscape(message);
}

bool CPageSelect::eventFilter(QObject* watched, QEvent* event)
{
    // A click beside the rows leaves no row selected, so that neither the menu nor a
    // double-click acts on a row the pointer is not on.
    if (watched == list_->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (list_->itemAt(mouse->position().toPoint()) == nullptr) {
            list_->clearSelection();
            list_->setCurrentItem(nullptr);
        }
    }
    return platform::WizardPage::eventFilter(watched, event);
}
