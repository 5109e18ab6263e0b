#include "widgets/Sizeable.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QTimerEvent>
#include <QWidget>

namespace {

// Inclusive bounds taken literally: a rectangle whose right edge lies left of
// its left edge contains nothing (QRect::contains would normalise it instead,
// which on a very small widget would hand out resize strips that overlap).
bool containsInclusive(const QRect& rect, const QPoint& point)
{
    return point.x() >= rect.left() && point.x() <= rect.right() && point.y() >= rect.top()
        && point.y() <= rect.bottom();
}

QRect fromEdges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

void sendSyntheticMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPoint local(1, 1);
    QMouseEvent event(type, local, widget->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

Sizeable::Sizeable(QWidget* widget)
    : QObject(widget)
    , m_enabled(true)
    , m_widget(widget)
    , m_borderWidth(0)
    , m_pressed(false)
    , m_pressRegion(NoRegion)
    , m_hoverTimerId(0)
{
    if (!m_widget)
        return;
    m_widget->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    m_widget->setAttribute(Qt::WA_MouseTracking);
    m_widget->installEventFilter(this);

    // A press and release first leave the filter's drag state clean, whatever
    // the widget saw before the helper was attached.
    sendSyntheticMouse(m_widget, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    sendSyntheticMouse(m_widget, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);

    // Children must track the mouse too, or moves over them would not reach
    // the cursor logic.
    for (QObject* child : m_widget->children()) {
        if (child->isWidgetType())
            static_cast<QWidget*>(child)->setAttribute(Qt::WA_MouseTracking);
    }
    sendSyntheticMouse(m_widget, QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
}

void Sizeable::setBorderWidth(int width)
{
    m_borderWidth = width;
    updateRegions();
}

int Sizeable::regionAt(const QPoint& pos) const
{
    for (int i = 0; i < RegionCount; ++i) {
        if (containsInclusive(m_regions[i], pos))
            return i;
    }
    return NoRegion;
}

QRect Sizeable::regionRect(int index) const
{
    if (index < 0 || index >= RegionCount)
        return QRect();
    return m_regions[index];
}

Qt::CursorShape Sizeable::cursorFor(int region)
{
    switch (region) {
    case TopLeft:
    case BottomRight:
        return Qt::SizeFDiagCursor;
    case TopRight:
    case BottomLeft:
        return Qt::SizeBDiagCursor;
    case Right:
    case Left:
        return Qt::SizeHorCursor;
    case Bottom:
        return Qt::SizeVerCursor;
    default:
        // The top edge is deliberately no resize strip: the title bar lives there.
        return Qt::ArrowCursor;
    }
}

void Sizeable::updateRegions()
{
    if (!m_widget)
        return;
    const int w = m_widget->width();
    const int h = m_widget->height();
    const int b = m_borderWidth;
    m_regions[TopLeft] = fromEdges(0, 0, 2 * b - 1, 2 * b - 1);
    m_regions[Top] = fromEdges(2 * b, 0, w - 2 * b - 1, 2 * b - 1);
    m_regions[TopRight] = fromEdges(w - 2 * b, 0, w - 1, 2 * b - 1);
    m_regions[Right] = fromEdges(w - b, 2 * b, w + b - 1, h - 2 * b - 1);
    m_regions[BottomRight] = fromEdges(w - 2 * b, h - 2 * b, w - 1, h - 1);
    m_regions[Bottom] = fromEdges(2 * b, h - b, w - 2 * b - 1, h + b - 1);
    m_regions[BottomLeft] = fromEdges(0, h - 2 * b, 2 * b - 1, h - 1);
    m_regions[Left] = fromEdges(0, 2 * b, 2 * b - 1, h - 2 * b - 1);
    m_regions[Centre] = fromEdges(2 * b, 2 * b, w - 2 * b - 1, h - 2 * b - 1);
}

void Sizeable::startHoverCheck()
{
    stopHoverCheck();
    m_hoverTimerId = m_widget->startTimer(HoverCheckMs, Qt::CoarseTimer);
}

void Sizeable::stopHoverCheck()
{
    if (m_hoverTimerId != 0) {
        m_widget->killTimer(m_hoverTimerId);
        m_hoverTimerId = 0;
    }
}

void Sizeable::resizeFromPress(const QPoint& globalPos)
{
    const int dx = globalPos.x() - m_pressGlobalPos.x();
    const int dy = globalPos.y() - m_pressGlobalPos.y();
    const int x = m_pressGeometry.x();
    const int y = m_pressGeometry.y();
    const int width = m_pressGeometry.width();
    const int height = m_pressGeometry.height();

    QRect geometry;
    switch (m_pressRegion) {
    case TopLeft:
        geometry = QRect(x + dx, y + dy, width - dx, height - dy);
        break;
    case TopRight:
        geometry = QRect(x, y + dy, width + dx, height - dy);
        break;
    case Right:
        geometry = QRect(x, y, width + dx, height);
        break;
    case BottomRight:
        geometry = QRect(x, y, width + dx, height + dy);
        break;
    case Bottom:
        geometry = QRect(x, y, width, height + dy);
        break;
    case BottomLeft:
        geometry = QRect(x + dx, y, width - dx, height + dy);
        break;
    case Left:
        geometry = QRect(x + dx, y, width - dx, height);
        break;
    default:
        return;
    }

    // Out of bounds the widget keeps its geometry for this move only; a later
    // move back within bounds applies again.
    const bool widthFits = geometry.width() >= m_widget->minimumWidth() && geometry.width() <= m_widget->maximumWidth();
    const bool heightFits
        = geometry.height() >= m_widget->minimumHeight() && geometry.height() <= m_widget->maximumHeight();
    if (widthFits && heightFits)
        m_widget->setGeometry(geometry);
}

void Sizeable::checkHoverEnded()
{
    const QPoint local = m_widget->mapFromGlobal(QCursor::pos());
    if (containsInclusive(m_regions[Centre], local)) {
        m_widget->setCursor(Qt::ArrowCursor);
        stopHoverCheck();
    }
}

bool Sizeable::eventFilter(QObject* watched, QEvent* event)
{
    if (m_enabled && m_widget && watched == m_widget) {
        switch (event->type()) {
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (m_pressed) {
                resizeFromPress(mouse->globalPos());
            } else {
                m_widget->setCursor(cursorFor(regionAt(mouse->pos())));
                startHoverCheck();
            }
            break;
        }
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                m_pressed = true;
                m_pressRegion = regionAt(mouse->pos());
                m_pressGlobalPos = mouse->globalPos();
                m_pressGeometry = m_widget->geometry();
                stopHoverCheck();
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            m_pressed = false;
            m_pressRegion = NoRegion;
            m_widget->setCursor(Qt::ArrowCursor);
            break;
        case QEvent::Resize:
            updateRegions();
            break;
        case QEvent::Leave:
            m_widget->setCursor(Qt::ArrowCursor);
            stopHoverCheck();
            break;
        case QEvent::Timer:
            if (m_hoverTimerId != 0 && static_cast<QTimerEvent*>(event)->timerId() == m_hoverTimerId)
                checkHoverEnded();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
