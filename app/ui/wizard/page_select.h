// Page 1: what is to be written or read. One row for the whole image, in a write one for the
// image without its boot loader, and one for every chunk of the receiver that ChunkMask does
// not hide; a double-click or the right-click menu binds a file to the selected row, the menu
// also drops it. Next starts the job.
#pragma once

#include "flashmate/chunk_files.h"
#include "platform/wizard.h"
#include "wizard/file_chooser.h"

#include <QLabel>
#include <QPixmap>
#include <QTreeWidget>

#include <cstdint>

class CUpgradeSheet;

class CPageSelect : public platform::WizardPage {
public:
    static constexpr int ListId = 1007;
    static constexpr int ProcessLabelId = 1025;
    static constexpr int OpenFileCommand = 32771;
    static constexpr int CancelSelectCommand = 32772;
    // List images.
    static constexpr int ImageNoFile = 0;
    static constexpr int ImageFile = 1;

    CPageSelect();

    bool OnInitDialog() override;
    bool OnSetActive() override;
    int OnWizardNext() override;
    bool OnCommand(int commandId) override;
    bool PreTranslateMessage(platform::Message& message) override;

    // The file dialogs and message boxes of binding a file.
    DialogFileChooser& Dialogs() { return dialogs_; }

    QTreeWidget* List() const { return list_; }
    // The row's key: -1 "All Chunk", -2 "All Chunk(No BootLoader)", else the chunk's index.
    static int32_t RowKey(const QTreeWidgetItem* row);
    // The list image a row shows.
    static int RowImage(const QTreeWidgetItem* row);
    // The selected row's position, or -1.
    int SelectedRow() const;

protected:
    void CreateControls() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CUpgradeSheet* UpgradeSheet() const;
    void AddRow(const QString& label, int32_t key);
    void SetRowImage(QTreeWidgetItem* row, int image);
    void BindSelectedRow();
    void DropSelectedRow();
    void UpdateRow(int row, bool bound);
    void ShowMenu(const QPoint& position);

    QTreeWidget* list_ = nullptr;
    QLabel* process_ = nullptr;
    QPixmap images_[2];
    DialogFileChooser dialogs_;
};
