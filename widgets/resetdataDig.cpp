#include "widgets/resetdataDig.h"

#include "ui_resetdataDig.h"

#include "widgets/TitleBarDrag.h"

namespace {
const QSize kPlainSize(425, 220);
const QSize kWarningSize(425, 239);
} // namespace

resetdataDig::resetdataDig(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::resetdataDig)
    , m_drag(nullptr)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_drag = TitleBarDrag::makeFrameless(this, ui->titlewidget_2);
    connect(ui->closebtn, &QPushButton::clicked, this, &QWidget::close);
    setMinimumSize(kPlainSize);
    resize(kPlainSize);
    ui->Weakwidget->hide();
}

resetdataDig::~resetdataDig()
{
    delete ui;
}

void resetdataDig::setQuestion(const QString& question)
{
    ui->titlelb->setText(question);
}

void resetdataDig::showFahrenheitWarning()
{
    setMinimumSize(kWarningSize);
    resize(size().expandedTo(kWarningSize));
    ui->Weakwidget->show();
}

void resetdataDig::on_cancelbtn_clicked()
{
    close();
}

void resetdataDig::on_definebtn_clicked()
{
    emit sigOnresetdataSet();
    close();
}
