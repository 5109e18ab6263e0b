// TitleBarDrag moves a frameless window by its title bar. Installed as event
// filter on the title bar: a left-button press on an empty part of the bar
// starts a drag, mouse moves carry the window along, a release ends it. Presses
// on labels, spin boxes, date and time editors and chart views keep their own
// meaning. It never consumes an event; what a double click does is left to
// the window (sigDoubleClicked). GUI thread.
#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

class QWidget;

class TitleBarDrag : public QObject {
    Q_OBJECT

public:
    // Tells whether the window is maximised; a maximised window does not move.
    using MaximizedCheck = std::function<bool()>;

    // Watches titleBar (and becomes its child) and moves window. Without a
    // check the window's own maximised state is asked.
    TitleBarDrag(QWidget* titleBar, QWidget* window, MaximizedCheck isMaximized = MaximizedCheck());

    // Sets window up as every window of the program is: frameless (edges
    // that do not resize), its style sheet painting its background, moved by
    // titleBar. Returns the drag, owned by the title bar.
    static TitleBarDrag* makeFrameless(
        QWidget* window, QWidget* titleBar, MaximizedCheck isMaximized = MaximizedCheck());

    // Presses closer than 2 × margin to the bar's edges start no drag, and a
    // move must go further than 2 × margin before the window follows.
    void setMargin(int margin) { m_margin = margin; }
    int margin() const { return m_margin; }

    bool isDragging() const { return m_dragging; }
    // Whether a left-button press at pos (title-bar coordinates) would start a
    // drag now.
    bool pressStartsDrag(const QPoint& pos) const;

signals:
    void sigDoubleClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_titleBar;
    QWidget* m_window;
    MaximizedCheck m_isMaximized;
    int m_margin;
    bool m_dragging;
    QPoint m_pressPos;
};
