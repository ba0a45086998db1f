// The wizard's side of binding a file to a row: the file dialog and the message boxes.
#pragma once

#include "flashmate/chunk_files.h"

#include <string>

class QWidget;

class DialogFileChooser final : public ChunkFileChooser {
public:
    explicit DialogFileChooser(QWidget* owner) : owner_(owner) {}

    // Where the file dialogs start; empty: Qt's choice.
    void SetFolder(const std::string& folder) { folder_ = folder; }

    std::optional<std::string> AskPath(FileDialogKind dialog, const ChunkFileKind& kind) override;
    void ShowMessage(const std::string& text) override;

private:
    QWidget* owner_;
    std::string folder_;
};
