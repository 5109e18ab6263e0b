#include "widgets/QtipDig.h"

#include "ui_QtipDig.h"

#include <QLayout>

QtipDig::QtipDig(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::QtipDig)
{
    ui->setupUi(this);
    // Only the rounded boxes paint; the corners around them stay see-through.
    setAttribute(Qt::WA_TranslucentBackground);
    ui->label->setMinimumWidth(0);
    ui->label->adjustSize();
    ui->lbwidget->hide();
}

QtipDig::~QtipDig()
{
    delete ui;
}

void QtipDig::setMessage(const QString& text, bool alarmStyle)
{
    ui->lbwidget->setVisible(alarmStyle);
    ui->label->setVisible(!alarmStyle);
    ui->labeltip->setText(text);
    ui->label->setText(text);
    ui->label->setScaledContents(true);
    // The caller centres the tip by its size, so the size must fit this text,
    // in the fonts the style sheet gives (a label hidden so far has not had
    // them applied yet).
    ui->lbwidget->ensurePolished();
    ui->labeltip->ensurePolished();
    ui->label->ensurePolished();
    ui->label->adjustSize();
    layout()->invalidate();
    layout()->activate();
    adjustSize();
}
