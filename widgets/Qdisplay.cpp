#include "widgets/Qdisplay.h"

#include <QPainter>
#include <QPainterPath>

namespace {

const QColor panelColour(0x28, 0x2e, 0x2f);
const QColor captionColour(0x99, 0x99, 0x99);
constexpr int panelRadius = 6;
constexpr int padding = 10;
constexpr int captionPixelSize = 14;
constexpr int valuePixelSize = 28;

QFont sizedFont(QFont font, int pixelSize)
{
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

Qdisplay::Qdisplay(QWidget* parent)
    : QWidget(parent)
    , m_value(QStringLiteral("0"))
    , m_valueColor(Qt::white)
{
}

void Qdisplay::setCaption(const QString& caption)
{
    m_caption = caption;
    updateGeometry();
    update();
}

void Qdisplay::setValue(const QString& value)
{
    m_value = value;
    updateGeometry();
    update();
}

void Qdisplay::setValue(int value)
{
    setValue(QString::number(value));
}

void Qdisplay::setValueColor(const QColor& colour)
{
    m_valueColor = colour;
    update();
}

QSize Qdisplay::sizeHint() const
{
    const QFontMetrics caption(sizedFont(font(), captionPixelSize));
    const QFontMetrics value(sizedFont(font(), valuePixelSize));
    const int width = qMax(caption.horizontalAdvance(m_caption), value.horizontalAdvance(m_value));
    return QSize(width + 2 * padding, caption.height() + value.height() + 2 * padding);
}

void Qdisplay::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath panel;
    panel.addRoundedRect(QRectF(rect()), panelRadius, panelRadius);
    painter.fillPath(panel, panelColour);

    const QRect inner = rect().adjusted(padding, padding, -padding, -padding);
    const QFont captionFont = sizedFont(font(), captionPixelSize);
    const int captionHeight = m_caption.isEmpty() ? 0 : QFontMetrics(captionFont).height();
    if (captionHeight > 0) {
        painter.setFont(captionFont);
        painter.setPen(captionColour);
        painter.drawText(QRect(inner.left(), inner.top(), inner.width(), captionHeight), Qt::AlignCenter, m_caption);
    }
    painter.setFont(sizedFont(font(), valuePixelSize));
    painter.setPen(m_valueColor);
    painter.drawText(inner.adjusted(0, captionHeight, 0, 0), Qt::AlignCenter, m_value);
}
