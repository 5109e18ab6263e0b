// Sizeable makes a widget a frameless window and lets the user resize it by
// dragging its edges and corners, with the matching cursor over each strip.
// It works purely as an event filter on the managed widget, which is also its
// parent; it lives on the GUI thread with that widget.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <array>

class QWidget;

class Sizeable : public QObject {
    Q_OBJECT

public:
    // Hit regions in the order in which a point is matched against them.
    enum Region {
        NoRegion = -1,
        TopLeft = 0,
        Top = 1,
        TopRight = 2,
        Right = 3,
        BottomRight = 4,
        Bottom = 5,
        BottomLeft = 6,
        Left = 7,
        Centre = 8,
    };
    static constexpr int RegionCount = 9;
    static constexpr int HoverCheckMs = 50;

    explicit Sizeable(QWidget* widget);

    // Half the thickness of the resize strips in pixels; 0 turns resizing off.
    void setBorderWidth(int width);
    int borderWidth() const { return m_borderWidth; }

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

    // Region of a point in widget coordinates, or NoRegion.
    int regionAt(const QPoint& pos) const;
    QRect regionRect(int index) const;
    static Qt::CursorShape cursorFor(int region);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateRegions();
    void startHoverCheck();
    void stopHoverCheck();
    void resizeFromPress(const QPoint& globalPos);
    void checkHoverEnded();

    bool m_enabled;
    QWidget* m_widget;
    int m_borderWidth;
    std::array<QRect, RegionCount> m_regions;
    QPoint m_pressGlobalPos;
    QRect m_pressGeometry;
    bool m_pressed;
    int m_pressRegion;
    int m_hoverTimerId;
};
