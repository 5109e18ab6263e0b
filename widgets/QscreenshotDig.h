// QscreenshotDig is one card of the main window's alarm list: the alarm
// picture, the measured temperature, a normal/abnormal badge and the time of
// the measurement, all read from the picture's file name. A double click on
// the picture opens it large in a modal viewer (Qshowpicture). GUI thread.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

namespace Ui {
class QscreenshotDig;
}

class QscreenshotDig : public QWidget {
    Q_OBJECT

public:
    // lensfilePath is the picture shown; temperaturePath is its temperature
    // partner, handed on to the viewer.
    QscreenshotDig(const QString& lensfilePath, const QString& temperaturePath, QWidget* parent = nullptr);
    ~QscreenshotDig() override;

    QString lensfilePath() const { return m_lensfilePath; }
    QString temperaturePath() const { return m_temperaturePath; }

    // Opens the viewer for this card's picture, centred on the screen and
    // modal; it deletes itself when closed.
    QWidget* openViewer();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPicture();
    // Decodes the picture at the label's size, when that size changed.
    void decodePicture();
    void fillFromName();

    Ui::QscreenshotDig* ui;
    QString m_lensfilePath;
    QString m_temperaturePath;
    int m_unit;
    bool m_hasPicture;
    QSize m_decodedSize;
};
