// resetdataDig asks the operator to confirm an action of the main window:
// resetting the statistics (the default question) or switching the camera's
// temperature unit, with an optional warning about Fahrenheit rounding. OK
// emits sigOnresetdataSet(); either button closes it. It deletes itself
// when closed, so create it on the heap only. GUI thread.
#pragma once

#include <QWidget>

class TitleBarDrag;

namespace Ui {
class resetdataDig;
}

class resetdataDig : public QWidget {
    Q_OBJECT

public:
    explicit resetdataDig(QWidget* parent = nullptr);
    ~resetdataDig() override;

    void setQuestion(const QString& question);
    // Shows the ±0.1℉ rounding warning under the question.
    void showFahrenheitWarning();

signals:
    void sigOnresetdataSet();

public slots:
    void on_cancelbtn_clicked();
    void on_definebtn_clicked();

private:
    Ui::resetdataDig* ui;
    TitleBarDrag* m_drag;
};
