#include "platform/controls.h"

#include <QPainter>
#include <QScrollBar>
#include <QVariant>

namespace platform {

namespace {

constexpr const char* kIdProperty = "flashmateControlId";

}  // namespace

void SetControlId(QWidget* control, int id)
{
    control->setProperty(kIdProperty, id);
}

int ControlId(const QWidget* control)
{
    return control->property(kIdProperty).toInt();
}

QWidget* FindControl(const QWidget* parent, int id, bool directChildrenOnly)
{
    const Qt::FindChildOptions options = directChildrenOnly ? Qt::FindDirectChildrenOnly : Qt::FindChildrenRecursively;
    for (QWidget* child : parent->findChildren<QWidget*>(QString(), options)) {
        if (ControlId(child) == id) {
            return child;
        }
    }
    return nullptr;
}

LogEdit::LogEdit(VerticalBar bar, QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(bar == VerticalBar::Always ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void LogEdit::SetText(const std::string& text)
{
    text_ = text;
    setPlainText(DisplayText(text_));
}

void LogEdit::ScrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QString DisplayText(const std::string& text)
{
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                shown += '\n';
                ++i;
            }
            continue;
        }
        shown += text[i];
    }
    return QString::fromStdString(shown);
}

PictureControl::PictureControl(Painter painter, QWidget* parent) : QWidget(parent), painter_(std::move(painter)) {}

void PictureControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter_(painter, rect());
}

}  // namespace platform
