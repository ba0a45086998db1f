#include "tools/wizard_driver.h"

#include "flashmate/reporting.h"
#include "flashmate/session.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

#include <thread>

namespace driver {

namespace {

// Short enough that the dialogs close quickly, long enough not to keep a core busy.
constexpr auto kPollInterval = std::chrono::milliseconds(5);
constexpr int kLookIntervalMs = 10;

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

void Pause(std::chrono::milliseconds duration)
{
    WaitUntil([] { return false; }, duration);
}

bool NoJobRunning()
{
    return GetSession().jobState.load() == JobIdle && WaitForJobEnd(std::chrono::milliseconds(0));
}

ModalResponder::ModalResponder()
{
    timer_.setInterval(kLookIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
    timer_.start();
}

void ModalResponder::Look()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
        return;
    }
    if (auto* box = dynamic_cast<QMessageBox*>(modal)) {
        MessageSeen seen{box->windowTitle().toStdString(), box->text().toStdString(), {}};
        for (const QAbstractButton* button : box->buttons()) {
            seen.buttons << button->text();
        }
        messages_.push_back(seen);
        if (onDialog_) {
            onDialog_(box);
        }
        // A question (such as overwriting a file) is answered yes.
        QAbstractButton* answer = box->button(QMessageBox::Yes);
        if (answer == nullptr) {
            answer = box->button(QMessageBox::Ok);
        }
        if (answer == nullptr) {
            answer = box->buttons().value(0);
        }
        if (answer != nullptr) {
            answer->click();
        }
        return;
    }
    if (auto* dialog = dynamic_cast<QFileDialog*>(modal)) {
        fileDialogs_.push_back(FileDialogSeen{dialog->acceptMode() == QFileDialog::AcceptSave, dialog->nameFilters(),
                                              dialog->defaultSuffix().toStdString(),
                                              dialog->directory().absolutePath().toStdString()});
        if (onDialog_) {
            onDialog_(dialog);
        }
        std::optional<std::string> answer;
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        if (answer) {
            // Typed into the name box as a person would: selectFile() leaves the box alone while
            // it has the focus, which a save dialog gives it as it opens.
            const QString path = QFile::decodeName(QByteArray::fromStdString(*answer));
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name != nullptr) {
                name->setText(path);
            } else {
                dialog->selectFile(path);
            }
            // As pressing the accept button does; accept() itself is protected.
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        } else {
            dialog->reject();
        }
    }
}

}  // namespace driver
