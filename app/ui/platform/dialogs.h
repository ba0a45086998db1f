// The standard dialogs the wizard uses: a message box with an OK button, the file dialogs, and
// a popup menu of commands.
#pragma once

#include <QPoint>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace platform {

// A modal box with the text, an OK button and the application's name as its caption.
void MessageBox(QWidget* owner, const std::string& text);

enum class FileDialogMode {
    Open,  // an existing file
    Save,  // any name; an existing file only after the user confirmed overwriting it
};

struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    // Added to a typed name that has none.
    std::string defaultExtension;
    // "description|pattern|" pairs, each ended by a vertical bar; a pattern may list several
    // wildcards separated by ';'.
    std::string filter;
    // Where the dialog starts; empty: Qt's choice.
    std::string folder;
};

// The filter pairs as Qt's name filters, "description (patterns)", Qt taking the wildcards
// from the parentheses. A description that already ends with its pattern in parentheses stays
// as it is, unless the pattern has to change for Qt: ';' between wildcards becomes a blank, and
// "*.*", every file, becomes "*", which is what matches every file here.
QStringList NameFilters(const std::string& filter);

// Shows the dialog modally. The chosen file's full path in the system's file-name encoding,
// or nullopt when the user cancelled.
std::optional<std::string> ShowFileDialog(QWidget* owner, const FileDialogRequest& request);

struct MenuCommand {
    int id = 0;
    std::string text;
};

// Shows the commands as a popup menu at a screen position; the chosen command is posted to
// receiver as WM_COMMAND with its id. Returns once the menu has closed.
void TrackPopupMenu(const std::vector<MenuCommand>& commands, QPoint screenPosition, QWidget* receiver);

}  // namespace platform
