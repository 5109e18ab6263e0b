// QtipDig is the transient message box shown over the centre of a window for
// a moment. It has a plain style (text only) and an alarm style (icon and
// text); timing and placement belong to the caller. GUI thread.
#pragma once

#include <QWidget>

namespace Ui {
class QtipDig;
}

class QtipDig : public QWidget {
    Q_OBJECT

public:
    explicit QtipDig(QWidget* parent = nullptr);
    ~QtipDig() override;

    // Shows text in the alarm style (icon box) or the plain style, and sizes
    // the tip to fit it.
    void setMessage(const QString& text, bool alarmStyle);

private:
    Ui::QtipDig* ui;
};
