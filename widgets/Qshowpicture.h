// Qshowpicture shows one alarm picture large in a frameless window with its
// own title bar (minimise, maximise or restore, close). The alarm list opens
// it application-modal and it deletes itself when closed. GUI thread.
#pragma once

#include <QString>
#include <QWidget>

class TitleBarDrag;

namespace Ui {
class Qshowpicture;
}

class Qshowpicture : public QWidget {
    Q_OBJECT

public:
    // The partner path (the temperature picture) is accepted for symmetry
    // with the list card and not shown.
    Qshowpicture(const QString& lensfilePath, const QString& temperaturePath, QWidget* parent = nullptr);
    ~Qshowpicture() override;

    bool isMaximizedLook() const { return m_maximized; }

public slots:
    void on_maxbtn_clicked();
    void on_rebtn_clicked();

private:
    Ui::Qshowpicture* ui;
    TitleBarDrag* m_drag;
    int m_borderWidth;
    bool m_maximized;
};
