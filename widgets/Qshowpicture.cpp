#include "widgets/Qshowpicture.h"

#include "ui_Qshowpicture.h"

#include "widgets/Sizeable.h"
#include "widgets/TitleBarDrag.h"

#include <QApplication>
#include <QDebug>

Qshowpicture::Qshowpicture(const QString& lensfilePath, const QString& temperaturePath, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::Qshowpicture)
    , m_drag(nullptr)
    , m_borderWidth(0)
    , m_maximized(false)
{
    Q_UNUSED(temperaturePath);
    ui->setupUi(this);
    setWindowIcon(QApplication::windowIcon());
    auto* sizeable = new Sizeable(this);
    sizeable->setBorderWidth(m_borderWidth);
    setAttribute(Qt::WA_StyledBackground);

    connect(ui->minbtn, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(ui->closebtn, &QPushButton::clicked, this, &QWidget::close);
    ui->rebtn->hide();
    m_drag = new TitleBarDrag(ui->titleWidget, this, [this] { return m_maximized; });
    m_drag->setMargin(m_borderWidth);
    connect(m_drag, &TitleBarDrag::sigDoubleClicked, this, [this] {
        if (ui->maxbtn->isVisible())
            on_maxbtn_clicked();
        else
            on_rebtn_clicked();
    });

    qDebug() << "width" << ui->typelb->width() << "height" << ui->typelb->height();
    // The style sheet draws the picture scaled into the label, keeping its
    // proportions.
    ui->typelb->setStyleSheet(QStringLiteral("image: url(%1);\n").arg(lensfilePath));
}

Qshowpicture::~Qshowpicture()
{
    delete ui;
}

void Qshowpicture::on_maxbtn_clicked()
{
    ui->maxbtn->hide();
    ui->rebtn->show();
    showMaximized();
    m_maximized = true;
}

void Qshowpicture::on_rebtn_clicked()
{
    ui->rebtn->hide();
    ui->maxbtn->show();
    showNormal();
    m_maximized = false;
}
