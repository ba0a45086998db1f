#include "platform/dialogs.h"

#include "platform/window_message.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace platform {

namespace {

constexpr char kFilterSeparator = '|';

// Qt reads the wildcards from the parentheses at the end of a name filter, separated by
// blanks.
QString QtPatterns(const std::string& pattern)
{
    QStringList patterns;
    for (const QString& one : QString::fromStdString(pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = one.trimmed();
        patterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
    }
    return patterns.join(QLatin1Char(' '));
}

}  // namespace

void MessageBox(QWidget* owner, const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), QString::fromStdString(text),
                    QMessageBox::Ok, owner);
    box.exec();
}

QStringList NameFilters(const std::string& filter)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : filter) {
        if (c == kFilterSeparator) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    QStringList filters;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        QString description = QString::fromStdString(parts[i]);
        const QString pattern = QString::fromStdString(parts[i + 1]);
        const QString patterns = QtPatterns(parts[i + 1]);
        const QString shown = QLatin1Char('(') + pattern + QLatin1Char(')');
        if (description.endsWith(shown)) {
            if (patterns == pattern) {
                filters << description;
                continue;
            }
            description.chop(shown.size());
            filters << description + QLatin1Char('(') + patterns + QLatin1Char(')');
        } else {
            filters << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
        }
    }
    return filters;
}

std::optional<std::string> ShowFileDialog(QWidget* owner, const FileDialogRequest& request)
{
    QFileDialog dialog(owner);
    // Qt's own dialog, so that it speaks the wizard's language on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const bool save = request.mode == FileDialogMode::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFilters(request.filter));
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.folder.empty()) {
        dialog.setDirectory(QString::fromStdString(request.folder));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
}

void TrackPopupMenu(const std::vector<MenuCommand>& commands, QPoint screenPosition, QWidget* receiver)
{
    QMenu menu(receiver);
    for (const MenuCommand& command : commands) {
        menu.addAction(QString::fromStdString(command.text))->setData(command.id);
    }
    if (const QAction* chosen = menu.exec(screenPosition)) {
        PostMessage(receiver, WM_COMMAND, static_cast<uintptr_t>(chosen->data().toInt()));
    }
}

}  // namespace platform
