#include "platform/application.h"

#include "platform/window_message.h"

#include <QKeyEvent>
#include <QLibraryInfo>
#include <QWidget>

namespace platform {

namespace {

// The name shown as the caption of every message box.
constexpr const char* kApplicationName = "Flashmate";

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QString::fromUtf8(kApplicationName));
    translated_ = translator_.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (translated_) {
        installTranslator(&translator_);
    }
}

Application::~Application()
{
    if (translated_) {
        removeTranslator(&translator_);
    }
}

int Application::Run()
{
    if (!InitInstance()) {
        return ExitInstance();
    }
    exec();
    return ExitInstance();
}

bool Application::InitInstance()
{
    return true;
}

int Application::ExitInstance()
{
    return 0;
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && receiver->isWidgetType()) {
        auto* control = static_cast<QWidget*>(receiver);
        const auto* key = static_cast<QKeyEvent*>(event);
        Message message{control, WM_KEYDOWN, VirtualKey(key->key()), 0, {}};
        if (dynamic_cast<MessageWindow*>(control->window()) != nullptr && DeliverMessage(message)) {
            return true;
        }
    }
    return QApplication::notify(receiver, event);
}

}  // namespace platform
