// Qdisplay is a small read-out: a caption above a large value, on a dark
// rounded panel, for a figure the operator watches at a glance. GUI thread.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class Qdisplay : public QWidget {
    Q_OBJECT

public:
    explicit Qdisplay(QWidget* parent = nullptr);

    void setCaption(const QString& caption);
    QString caption() const { return m_caption; }
    void setValue(const QString& value);
    void setValue(int value);
    QString value() const { return m_value; }
    void setValueColor(const QColor& colour);
    QColor valueColor() const { return m_valueColor; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    QString m_value;
    QColor m_valueColor;
};
