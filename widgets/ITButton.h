// ITButton is a push button that draws one icon out of a list, chosen by
// index, on a rounded box. Hover, press and disabled looks fade in and out
// through animated Qt properties. GUI thread.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPushButton>
#include <QVector>

class QPropertyAnimation;

namespace QKvWidget {

class ITButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(qreal hoverLevel READ hoverLevel WRITE setHoverLevel)
    Q_PROPERTY(qreal pressLevel READ pressLevel WRITE setPressLevel)
    Q_PROPERTY(qreal disabledLevel READ disabledLevel WRITE setDisabledLevel)

public:
    // Box colours per state and the text colour; an invalid border colour
    // draws no border.
    struct ColorSet {
        QColor normal;
        QColor hover;
        QColor pressed;
        QColor disabled;
        QColor text;
        QColor border;
    };

    static constexpr int FadeMs = 150;

    explicit ITButton(QWidget* parent = nullptr);
    ~ITButton() override;

    // Adds an icon from a file or resource path; the first icon added becomes
    // the current one. Returns false (and adds nothing) when it cannot be read.
    bool addIcon(const QString& path);
    int iconCount() const { return m_icons.size(); }
    int iconIndex() const { return m_iconIndex; }
    // Returns false and keeps the current icon for an index out of range.
    bool setIconIndex(int index);

    void setRadius(int radius);
    int radius() const { return m_radius; }

    void setColorSet(const ColorSet& colors);
    // Convenience for the usual case: four box colours and one text colour.
    void setColorSet(
        const QColor& normal, const QColor& hover, const QColor& pressed, const QColor& disabled, const QColor& text);
    const ColorSet& colorSet() const { return m_colors; }

    // The box colour painted now, blended from the state levels.
    QColor currentBoxColor() const;

    qreal hoverLevel() const { return m_hoverLevel; }
    void setHoverLevel(qreal level);
    qreal pressLevel() const { return m_pressLevel; }
    void setPressLevel(qreal level);
    qreal disabledLevel() const { return m_disabledLevel; }
    void setDisabledLevel(qreal level);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fadeTo(QPropertyAnimation* animation, qreal target);

    QVector<QPixmap> m_icons;
    int m_iconIndex;
    int m_radius;
    ColorSet m_colors;
    qreal m_hoverLevel;
    qreal m_pressLevel;
    qreal m_disabledLevel;
    QPropertyAnimation* m_hoverAnimation;
    QPropertyAnimation* m_pressAnimation;
    QPropertyAnimation* m_disabledAnimation;
};

} // namespace QKvWidget
