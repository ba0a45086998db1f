// Controls as the wizard's dialog templates describe them: found by a numeric id, placed in
// dialog units; the multi-line log box, which keeps its text with CR LF line ends as written;
// and a picture drawn by code.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

#include <functional>
#include <string>

class QPainter;

namespace platform {

void SetControlId(QWidget* control, int id);
// The control's id; 0 when it has none.
int ControlId(const QWidget* control);
// The first child of parent with this id, searched in the whole tree below parent, or only
// among its direct children; nullptr when there is none.
QWidget* FindControl(const QWidget* parent, int id, bool directChildrenOnly = false);

// The log: read-only, several lines, no line wrapping. Its text is what the pages wrote, byte
// for byte; what it shows takes CR LF and a lone LF as line breaks and leaves a lone CR out.
class LogEdit : public QPlainTextEdit {
public:
    enum class VerticalBar { None, Always };
    LogEdit(VerticalBar bar, QWidget* parent);

    const std::string& Text() const { return text_; }
    // Replaces the whole text; the view then shows its beginning.
    void SetText(const std::string& text);
    // Brings the last line into view.
    void ScrollToEnd();

private:
    std::string text_;
};

// What a log's text looks like on screen.
QString DisplayText(const std::string& text);

// A picture drawn by code each time it is painted, filling the control.
class PictureControl : public QWidget {
public:
    using Painter = std::function<void(QPainter&, const QRect&)>;
    PictureControl(Painter painter, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Painter painter_;
};

}  // namespace platform
