#include "widgets/ITButton.h"

#include <QDebug>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

namespace QKvWidget {

namespace {

constexpr int iconTextGap = 6;
constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 6;
constexpr qreal disabledOpacity = 0.45;

QColor blend(const QColor& from, const QColor& to, qreal level)
{
    if (!to.isValid())
        return from;
    if (!from.isValid())
        return to;
    const qreal t = qBound<qreal>(0.0, level, 1.0);
    return QColor::fromRgbF(from.redF() + (to.redF() - from.redF()) * t,
        from.greenF() + (to.greenF() - from.greenF()) * t, from.blueF() + (to.blueF() - from.blueF()) * t,
        from.alphaF() + (to.alphaF() - from.alphaF()) * t);
}

} // namespace

ITButton::ITButton(QWidget* parent)
    : QPushButton(parent)
    , m_iconIndex(-1)
    , m_radius(0)
    , m_colors { QColor("#1CAFE9"), QColor("#2EB4E9"), QColor("#1BA7DE"), QColor("#1CAFE9"), QColor(Qt::white),
        QColor() }
    , m_hoverLevel(0.0)
    , m_pressLevel(0.0)
    , m_disabledLevel(0.0)
    , m_hoverAnimation(new QPropertyAnimation(this, "hoverLevel", this))
    , m_pressAnimation(new QPropertyAnimation(this, "pressLevel", this))
    , m_disabledAnimation(new QPropertyAnimation(this, "disabledLevel", this))
{
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    for (QPropertyAnimation* animation : { m_hoverAnimation, m_pressAnimation, m_disabledAnimation }) {
        animation->setDuration(FadeMs);
        animation->setEasingCurve(QEasingCurve::OutCubic);
    }
}

ITButton::~ITButton() = default;

bool ITButton::addIcon(const QString& path)
{
    QPixmap pixmap(path);
    if (pixmap.isNull()) {
        qDebug() << "ITButton: cannot read icon" << path;
        return false;
    }
    m_icons.append(pixmap);
    if (m_iconIndex < 0)
        m_iconIndex = 0;
    updateGeometry();
    update();
    return true;
}

bool ITButton::setIconIndex(int index)
{
    if (index < 0 || index >= m_icons.size())
        return false;
    if (index != m_iconIndex) {
        m_iconIndex = index;
        update();
    }
    return true;
}

void ITButton::setRadius(int radius)
{
    m_radius = qMax(0, radius);
    update();
}

void ITButton::setColorSet(const ColorSet& colors)
{
    m_colors = colors;
    update();
}

void ITButton::setColorSet(
    const QColor& normal, const QColor& hover, const QColor& pressed, const QColor& disabled, const QColor& text)
{
    setColorSet(ColorSet { normal, hover, pressed, disabled, text, QColor() });
}

QColor ITButton::currentBoxColor() const
{
    QColor colour = blend(m_colors.normal, m_colors.hover, m_hoverLevel);
    colour = blend(colour, m_colors.pressed, m_pressLevel);
    return blend(colour, m_colors.disabled, m_disabledLevel);
}

void ITButton::setHoverLevel(qreal level)
{
    m_hoverLevel = qBound<qreal>(0.0, level, 1.0);
    update();
}

void ITButton::setPressLevel(qreal level)
{
    m_pressLevel = qBound<qreal>(0.0, level, 1.0);
    update();
}

void ITButton::setDisabledLevel(qreal level)
{
    m_disabledLevel = qBound<qreal>(0.0, level, 1.0);
    update();
}

QSize ITButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = 2 * horizontalPadding;
    int height = metrics.height();
    if (m_iconIndex >= 0) {
        const QSize icon = m_icons.at(m_iconIndex).size() / m_icons.at(m_iconIndex).devicePixelRatio();
        width += icon.width();
        height = qMax(height, icon.height());
    }
    if (!text().isEmpty())
        width += metrics.horizontalAdvance(text()) + (m_iconIndex >= 0 ? iconTextGap : 0);
    return QSize(width, height + 2 * verticalPadding);
}

QSize ITButton::minimumSizeHint() const
{
    return sizeHint();
}

void ITButton::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(1.0 - (1.0 - disabledOpacity) * m_disabledLevel);

    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, m_radius, m_radius);
    painter.fillPath(path, currentBoxColor());
    if (m_colors.border.isValid())
        painter.strokePath(path, QPen(m_colors.border, 1));

    // Icon and text sit together, centred in the box.
    QSizeF iconSize;
    QPixmap icon;
    if (m_iconIndex >= 0) {
        icon = m_icons.at(m_iconIndex);
        iconSize = QSizeF(icon.size()) / icon.devicePixelRatio();
        const qreal room = height() - 2.0 * verticalPadding;
        if (iconSize.height() > room && room > 0)
            iconSize.scale(iconSize.width(), room, Qt::KeepAspectRatio);
    }
    const QFontMetrics metrics(font());
    const int textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    const qreal gap = (!icon.isNull() && textWidth > 0) ? iconTextGap : 0;
    const qreal contentWidth = iconSize.width() + gap + textWidth;
    qreal x = (width() - contentWidth) / 2.0;
    // Pressing nudges the content down a little, as a physical key would move.
    const qreal shift = m_pressLevel;
    if (!icon.isNull()) {
        const QRectF target(x, (height() - iconSize.height()) / 2.0 + shift, iconSize.width(), iconSize.height());
        painter.drawPixmap(target, icon, QRectF(icon.rect()));
        x += iconSize.width() + gap;
    }
    if (textWidth > 0) {
        painter.setPen(m_colors.text.isValid() ? m_colors.text : palette().color(QPalette::ButtonText));
        painter.setFont(font());
        painter.drawText(QRectF(x, shift, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
}

void ITButton::fadeTo(QPropertyAnimation* animation, qreal target)
{
    animation->stop();
    animation->setStartValue(animation->targetObject()->property(animation->propertyName()));
    animation->setEndValue(target);
    animation->start();
}

void ITButton::enterEvent(QEvent* event)
{
    fadeTo(m_hoverAnimation, 1.0);
    QPushButton::enterEvent(event);
}

void ITButton::leaveEvent(QEvent* event)
{
    fadeTo(m_hoverAnimation, 0.0);
    fadeTo(m_pressAnimation, 0.0);
    QPushButton::leaveEvent(event);
}

void ITButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        fadeTo(m_pressAnimation, 1.0);
    QPushButton::mousePressEvent(event);
}

void ITButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        fadeTo(m_pressAnimation, 0.0);
    QPushButton::mouseReleaseEvent(event);
}

void ITButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        fadeTo(m_disabledAnimation, isEnabled() ? 0.0 : 1.0);
        if (!isEnabled()) {
            fadeTo(m_hoverAnimation, 0.0);
            fadeTo(m_pressAnimation, 0.0);
        }
    }
    QPushButton::changeEvent(event);
}

} // namespace QKvWidget
