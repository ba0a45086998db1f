#include "wizard/file_chooser.h"

#include "platform/dialogs.h"

std::optional<std::string> DialogFileChooser::AskPath(FileDialogKind dialog, const ChunkFileKind& kind)
{
    platform::FileDialogRequest request;
    request.mode = dialog == FileDialogKind::Save ? platform::FileDialogMode::Save : platform::FileDialogMode::Open;
    request.defaultExtension = kind.defaultExtension;
    request.filter = kind.filter;
    request.folder = folder_;
    return platform::ShowFileDialog(owner_, request);
}

void DialogFileChooser::ShowMessage(const std::string& text)
{
    platform::MessageBox(owner_, text);
}
