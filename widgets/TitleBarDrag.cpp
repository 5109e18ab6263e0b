#include "widgets/TitleBarDrag.h"

#include "widgets/Sizeable.h"

#include <QMouseEvent>
#include <QWidget>

#include <utility>

namespace {

// Presses on these widgets keep their own meaning instead of moving the window.
const char* const kNoDragClasses[]
    = { "QSpinBox", "QDoubleSpinBox", "QTimeEdit", "QDateEdit", "QDateTimeEdit", "QtCharts::GLWidget", "QLabel" };

} // namespace

TitleBarDrag::TitleBarDrag(QWidget* titleBar, QWidget* window, MaximizedCheck isMaximized)
    : QObject(titleBar)
    , m_titleBar(titleBar)
    , m_window(window)
    , m_isMaximized(std::move(isMaximized))
    , m_margin(0)
    , m_dragging(false)
{
    if (m_titleBar)
        m_titleBar->installEventFilter(this);
}

bool TitleBarDrag::pressStartsDrag(const QPoint& pos) const
{
    if (!m_titleBar || !m_window)
        return false;
    if (const QWidget* child = m_titleBar->childAt(pos)) {
        const char* className = child->metaObject()->className();
        for (const char* noDrag : kNoDragClasses) {
            if (qstrcmp(className, noDrag) == 0)
                return false;
        }
    }
    const int inset = 2 * m_margin;
    const QRect area = m_titleBar->rect().adjusted(inset, inset, -inset, -inset);
    const bool strictlyInside
        = pos.x() > area.left() && pos.x() < area.right() && pos.y() > area.top() && pos.y() < area.bottom();
    const bool maximized = m_isMaximized ? m_isMaximized() : m_window->isMaximized();
    return strictlyInside && !maximized;
}

bool TitleBarDrag::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_titleBar) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            m_pressPos = mouse->pos();
            if (mouse->button() == Qt::LeftButton && pressStartsDrag(mouse->pos()))
                m_dragging = true;
            break;
        }
        case QEvent::MouseMove:
            if (m_dragging) {
                const QPoint offset = static_cast<QMouseEvent*>(event)->globalPos() - m_pressPos;
                if (offset.manhattanLength() > 2 * m_margin)
                    m_window->move(offset);
            }
            break;
        case QEvent::MouseButtonDblClick:
            emit sigDoubleClicked();
            break;
        default:
            break;
        }
    }
    if (event->type() == QEvent::MouseButtonRelease)
        m_dragging = false;
    return QObject::eventFilter(watched, event);
}

TitleBarDrag* TitleBarDrag::makeFrameless(QWidget* window, QWidget* titleBar, MaximizedCheck isMaximized)
{
    auto* sizeable = new Sizeable(window);
    sizeable->setBorderWidth(0);
    window->setAttribute(Qt::WA_StyledBackground);
    return new TitleBarDrag(titleBar, window, std::move(isMaximized));
}
