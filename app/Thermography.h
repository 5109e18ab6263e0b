// Thermography is the program's one main window: the frameless dark shell
// with its title bar, the two video cells with their overlays, the counters,
// the seven-day chart, the tool buttons and the alarm list. It owns the
// statistics store, the transient tip and the reaper of ended camera
// sessions. GUI thread.
#pragma once

#include "app/SessionReaper.h"
#include "store/LocalDatabase.h"

#include <QPoint>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

class QTimer;
class QtipDig;
class deviceshowDig;

namespace Ui {
class ThermographyClass;
}

class Thermography : public QWidget {
    Q_OBJECT

public:
    // Tips last this long unless a caller asks otherwise.
    static constexpr int TipMs = 1000;

    explicit Thermography(QWidget* parent = nullptr);
    ~Thermography() override;

    // The window that dialogs and alarm callbacks report to; null until one
    // is built.
    static Thermography* instance();

    // Shows text in the centre of the window for ms milliseconds; a new tip
    // replaces the one showing and gets its own full time.
    void showTip(const QString& text, int ms, bool alarmStyle);
    // Opens a dialog of this window: application-modal, centred on the
    // window, deleted when closed.
    void showDialog(QWidget* dialog);
    // Copies the store's figures to the six counters and the chart.
    void updateCounters();

    bool isMaximizedLook() const { return m_maximized; }
    LocalDatabase& store() { return m_store; }

public slots:
    void on_maxbtn_clicked();
    void on_rebtn_clicked();
    void on_closebtn_clicked();
    void showhide();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setUpWindow();
    void setUpToolButtons();
    void applyScreenSize();
    void maximize();
    void restore();
    void followDate();
    bool pressStartsDrag(const QPoint& pos) const;

    bool m_dragging;
    QPoint m_pressPos;
    int m_dragMargin;
    bool m_maximized;
    QRect m_normalGeometry;
    Ui::ThermographyClass* ui;
    QVector<deviceshowDig*> m_overlays;
    SessionReaper m_reaper;
    QString m_autoShotDir;
    QString m_manualShotDir;
    LocalDatabase m_store;
    QtipDig* m_tipDialog;
    QTimer* m_tipTimer;
    double m_threshold;
    int m_dayTimerId;
    bool m_alarmSoundOn;
    bool m_remindOn;
};
