#include "widgets/Qdeciveoption.h"

#include "ui_Qdeciveoption.h"

namespace {
const char* const kRestColour = "#282e2f";
const char* const kHoverColour = "#222627";
} // namespace

Qdeciveoption::Qdeciveoption(int id, const QString& address, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::Qdeciveoption)
    , m_id(id)
    , m_address(address)
    , m_userName(QStringLiteral("admin"))
{
    ui->setupUi(this);
    ui->idlb->setText(QString::number(id));
    ui->selectlb->hide();
    paintInner(kRestColour);
}

Qdeciveoption::~Qdeciveoption()
{
    delete ui;
}

void Qdeciveoption::setAccount(const QString& userName, const QString& password)
{
    m_userName = userName;
    m_password = password;
}

bool Qdeciveoption::isSelected() const
{
    return !ui->selectlb->isHidden();
}

void Qdeciveoption::setSelected(bool selected)
{
    ui->selectlb->setVisible(selected);
}

void Qdeciveoption::enterEvent(QEvent* event)
{
    paintInner(kHoverColour);
    QWidget::enterEvent(event);
}

void Qdeciveoption::leaveEvent(QEvent* event)
{
    paintInner(kRestColour);
    QWidget::leaveEvent(event);
}

void Qdeciveoption::paintInner(const char* colour)
{
    ui->widget->setStyleSheet(QStringLiteral("QWidget#widget{background-color:%1;}").arg(QLatin1String(colour)));
}
