#include "platform/window_message.h"

#include <QCoreApplication>
#include <QWidget>

namespace platform {

bool MessageWindow::PreTranslateMessage(Message&)
{
    return false;
}

void MessageWindow::WindowProc(Message&) {}

MessageEvent::MessageEvent(Message message) : QEvent(EventType()), message_(std::move(message)) {}

QEvent::Type MessageEvent::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostMessage(QWidget* window, uint32_t message, uintptr_t wParam, intptr_t lParam, std::string text)
{
    if (window == nullptr) {
        return;
    }
    QCoreApplication::postEvent(window, new MessageEvent(Message{window, message, wParam, lParam, std::move(text)}));
}

void SendMessage(QWidget* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (auto* target = dynamic_cast<MessageWindow*>(window)) {
        Message sent{window, message, wParam, lParam, {}};
        target->WindowProc(sent);
    }
}

bool DeliverMessage(Message& message)
{
    for (QWidget* window = message.target; window != nullptr; window = window->parentWidget()) {
        if (auto* filter = dynamic_cast<MessageWindow*>(window); filter != nullptr && filter->PreTranslateMessage(message)) {
            return true;
        }
        // A dialog or popup of its own ends the road: its keys are not the wizard's.
        if (window->isWindow()) {
            break;
        }
    }
    if (auto* target = dynamic_cast<MessageWindow*>(message.target)) {
        target->WindowProc(message);
    }
    return false;
}

bool DispatchMessageEvent(QEvent* event)
{
    if (event->type() != MessageEvent::EventType()) {
        return false;
    }
    DeliverMessage(static_cast<MessageEvent*>(event)->Payload());
    return true;
}

uintptr_t VirtualKey(int qtKey)
{
    if (qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter) {
        return VK_RETURN;
    }
    if (qtKey == Qt::Key_Escape) {
        return VK_ESCAPE;
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return static_cast<uintptr_t>(qtKey);
    }
    return 0;
}

}  // namespace platform
