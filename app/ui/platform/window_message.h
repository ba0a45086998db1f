// Window messages between the worker thread and the wizard's windows, and the pre-filter that
// sees them before the window they are meant for does.
//
// A posted message travels as a Qt event; Qt delivers the events posted to the windows of one
// thread in the order they were posted, whichever window each went to. A message is first
// offered to PreTranslateMessage of its window and of every window around it, innermost first,
// up to the top-level window; if none of them consumes it, the window's WindowProc gets it.
// Key presses take the same road, as WM_KEYDOWN aimed at the control that has the focus.
#pragma once

#include <QEvent>

#include <cstdint>
#include <string>

class QWidget;

namespace platform {

inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_KEYDOWN = 0x0100;
// wParam: the command id of a menu item.
inline constexpr uint32_t WM_COMMAND = 0x0111;

// Virtual-key codes carried by WM_KEYDOWN in wParam.
inline constexpr uintptr_t VK_RETURN = 0x0D;
inline constexpr uintptr_t VK_ESCAPE = 0x1B;

struct Message {
    // The window the message was posted to, or the control a key press is meant for.
    QWidget* target = nullptr;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    // The text of a text message; owned by the message, so nothing is left to release.
    std::string text;
};

// A window that takes part in the pre-filter and has a window procedure. Mixed into QWidget
// subclasses, whose event() hands posted messages to DispatchMessageEvent.
class MessageWindow {
public:
    virtual ~MessageWindow() = default;
    // True consumes the message: no other pre-filter and no window procedure sees it.
    virtual bool PreTranslateMessage(Message& message);
    // A message that no pre-filter consumed.
    virtual void WindowProc(Message& message);
};

// The event that carries a posted message.
class MessageEvent final : public QEvent {
public:
    explicit MessageEvent(Message message);
    static QEvent::Type EventType();
    Message& Payload() { return message_; }

private:
    Message message_;
};

// Queues the message for window; safe from any thread while the window exists.
void PostMessage(QWidget* window, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0,
                 std::string text = {});
// Hands the message to the window procedure at once, past every pre-filter; UI thread only.
void SendMessage(QWidget* window, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

// Offers message to the pre-filters from its target outwards, then to the target's window
// procedure. True when a pre-filter consumed it.
bool DeliverMessage(Message& message);
// For the event() of a message window: delivers a posted message; false for any other event.
bool DispatchMessageEvent(QEvent* event);

// The virtual-key code of a Qt key: Enter and Return are VK_RETURN, Esc VK_ESCAPE, letters and
// digits their upper-case ASCII code; 0 for keys nobody here looks at.
uintptr_t VirtualKey(int qtKey);

}  // namespace platform
