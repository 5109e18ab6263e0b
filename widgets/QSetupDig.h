// QSetupDig sets the camera's high-temperature alarm threshold, in the unit
// the camera works in, and switches the local alarm sound and abnormal-person
// reminder (written to "Config.ini" at each click). A new threshold goes to
// the camera session in tenths of °C; the dialog closes when the camera
// accepts it. It deletes itself when closed, so create it on the heap only.
// GUI thread.
#pragma once

#include "device/Device.h"

#include <QPointer>
#include <QWidget>

class QAbstractButton;
class TitleBarDrag;

namespace Ui {
class QSetupDig;
}

class QSetupDig : public QWidget {
    Q_OBJECT

public:
    // The camera's unit code for Fahrenheit.
    static constexpr int FahrenheitUnit = 1;
    static constexpr int Accepted = 1001;
    // The low threshold the camera gets with every new high one, in tenths.
    static constexpr int LowThreshold = 300;
    static constexpr double MinThreshold = 35.0;
    static constexpr double MaxThreshold = 43.0;

    static const char* const CelsiusPattern;
    static const char* const FahrenheitPattern;

    // device is the current camera session; it may end while the dialog is
    // open (see endSession). previewId names the camera's "CONFIG/Ftemp<id>" entry; tempType
    // is the camera's last reported unit code.
    QSetupDig(Device* device, int previewId, int tempType, QWidget* parent = nullptr);
    ~QSetupDig() override;

    bool isFahrenheit() const { return m_isFahrenheit; }
    // The session ends: the dialog lets go of it and refuses OK from now on.
    // Call on the GUI thread before the session is handed to another thread
    // to be destroyed.
    void endSession();

signals:
    // Declared for the main window's threshold slot; nothing emits it.
    void sigOnTempSet(double temperature);
    // The dialog is finishing: the two switches may have changed.
    void sigGetAlarmRemindstate();

public slots:
    void on_cancelbtn_clicked();
    void on_definebtn_clicked();
    void onSigSetThermalResult(int iresult);
    void on_AlarmCbox_clicked(bool checked);
    void on_RemindCbox_clicked(bool checked);

private:
    void setSwitch(QAbstractButton* box, int value);
    void updateHint(const QString& text);
    void showError(const QString& text);
    QString fahrenheitKey() const;

    Ui::QSetupDig* ui;
    QPointer<Device> m_device;
    int m_previewId;
    bool m_isFahrenheit;
    TitleBarDrag* m_drag;
};
