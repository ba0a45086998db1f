// Driving the wizard from code as a person would, for the pictures and the tests: waiting for
// what the wizard shows, and answering the modal dialogs it opens, which run an event loop of
// their own and so can only be answered from a timer.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace driver {

// Runs the event loop until condition holds; false when timeout passed first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Runs the event loop for a while.
void Pause(std::chrono::milliseconds duration);
// No job is running and the last job's thread has ended: a job may start now.
bool NoJobRunning();

// What a message box said.
struct MessageSeen {
    std::string caption;
    std::string text;
    QStringList buttons;
};

// What a file dialog offered.
struct FileDialogSeen {
    bool save = false;
    QStringList nameFilters;
    std::string defaultSuffix;
    std::string folder;
};

// Watches for modal dialogs while it lives. A message box is noted and closed with Yes, OK or
// else its first button; a file dialog is noted and given the next queued answer (a path, or a cancel when
// none is queued).
class ModalResponder : public QObject {
public:
    ModalResponder();

    void QueuePath(const std::string& path) { answers_.push_back(path); }
    void QueueCancel() { answers_.push_back(std::nullopt); }
    // Called with each dialog just before it is answered, for a picture.
    void OnDialog(std::function<void(QWidget*)> callback) { onDialog_ = std::move(callback); }

    const std::vector<MessageSeen>& Messages() const { return messages_; }
    const std::vector<FileDialogSeen>& FileDialogs() const { return fileDialogs_; }
    size_t DialogsSeen() const { return messages_.size() + fileDialogs_.size(); }

private:
    void Look();

    QTimer timer_;
    std::deque<std::optional<std::string>> answers_;
    std::function<void(QWidget*)> onDialog_;
    std::vector<MessageSeen> messages_;
    std::vector<FileDialogSeen> fileDialogs_;
};

}  // namespace driver
