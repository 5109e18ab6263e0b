// deviceshowDig lies over a video widget and shows either the "disconnected"
// caption or a face-positioning frame kept in the largest 16:9 box of its
// panel. GUI thread.
#pragma once

#include <QMargins>
#include <QSize>
#include <QWidget>

class QTimer;

namespace Ui {
class deviceshowDig;
}

class deviceshowDig : public QWidget {
    Q_OBJECT

public:
    static constexpr int FaceCheckMs = 100;
    // The face frame sits this far below the centred 16:9 box.
    static constexpr int FaceTopOffset = 40;

    explicit deviceshowDig(QWidget* parent = nullptr);
    ~deviceshowDig() override;

    // Disconnected caption when connected is false, face-frame panel otherwise.
    void showDisconnected(bool connected);
    // Hides the caption; the face frame shows unless hideFrame is set.
    void showConnected(bool hideFrame);

    // Layout margins that centre the largest 16:9 box in a panel of this size
    // and push it down by FaceTopOffset.
    static QMargins faceMargins(const QSize& panel);

public slots:
    void moveface();

private:
    Ui::deviceshowDig* ui;
    QTimer* m_faceTimer;
    int m_lastWidth;
    int m_lastHeight;
};
