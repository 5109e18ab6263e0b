#include "widgets/QadddeviceDig.h"

#include "ui_QadddeviceDig.h"

#include "device/DeviceSearch.h"
#include "store/LocalDatabase.h"
#include "widgets/Qdeciveoption.h"
#include "widgets/QtipDig.h"
#include "widgets/TitleBarDrag.h"

#include <QDebug>
#include <QMouseEvent>
#include <QMovie>
#include <QRegularExpressionValidator>
#include <QTimer>

namespace {

const int kWidth = 486;
const int kListHeight = 520;
const int kCredentialsHeight = 300;

// No spaces and nothing from U+04BB up (Chinese and the like): the camera
// takes plain Latin user names and passwords only.
const char* const kFieldPattern = "[^ \\x{04BB}-\\x{FFFD}]*";

} // namespace

QadddeviceDig::QadddeviceDig(LocalDatabase* store, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::QadddeviceDig)
    , m_store(store)
    , m_page(NoPage)
    , m_drag(nullptr)
    , m_tip(nullptr)
    , m_tipTimer(nullptr)
    , m_searching(nullptr)
{
    ui->setupUi(this);
    Device::registerMetaTypes();
    setWindowIcon(QIcon(QStringLiteral(":/Thermography/Resources/ardenix.ico")));
    m_drag = TitleBarDrag::makeFrameless(this, ui->titleWidget);

    m_searching = new QMovie(QStringLiteral(":/Thermography/Resources/searching.gif"), QByteArray(), this);
    ui->searchinglb->setMovie(m_searching);
    m_searching->start();

    m_tipTimer = new QTimer(this);
    connect(&DeviceSearch::instance(), &DeviceSearch::sigDevListChanged, this, &QadddeviceDig::onSigDevListChanged);
    connect(m_tipTimer, &QTimer::timeout, this, &QadddeviceDig::showhide);
    connect(ui->pwdedit, &QLineEdit::editingFinished, this, &QadddeviceDig::pwdtextEdited);
    connect(ui->closebtn, &QPushButton::clicked, this, &QadddeviceDig::on_cancelbtn_clicked);

    startSearch();
    showPage(SearchPage);

    m_tip = new QtipDig(this);
    m_tip->move((width() - m_tip->width()) / 2, (height() - m_tip->height()) / 2);
    m_tip->hide();

    setUpField(ui->usernameedit);
    setUpField(ui->pwdedit);
    ui->usernameedit->setText(QStringLiteral("admin"));
    ui->pwdedit->installEventFilter(this);
}

QadddeviceDig::~QadddeviceDig()
{
    delete ui;
}

void QadddeviceDig::setUpField(QLineEdit* field)
{
    field->setMaxLength(FieldMaxLength);
    field->setAttribute(Qt::WA_InputMethodEnabled, false);
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(kFieldPattern)), field));
}

void QadddeviceDig::startSearch()
{
    // A search already running answers for this one too.
    DeviceSearch::instance().Start();
}

void QadddeviceDig::showPage(int page)
{
    m_page = page;
    switch (page) {
    case SearchPage:
        ui->titlelb->setText(tr("添加设备"));
        ui->stackedWidget->setCurrentWidget(ui->searchpage);
        setFixedSize(kWidth, kListHeight);
        break;
    case ListPage:
        ui->titlelb->setText(tr("搜索列表"));
        ui->stackedWidget->setCurrentWidget(ui->listpage);
        setFixedSize(kWidth, kListHeight);
        break;
    case CredentialsPage:
        ui->titlelb->setText(tr("用户名或密码错误"));
        ui->stackedWidget->setCurrentWidget(ui->loginpage);
        ui->errorlb->show();
        ui->erroriconlb->show();
        ui->pwdedit->setEchoMode(QLineEdit::Normal);
        ui->pwdedit->setText(tr("请输入密码"));
        setFixedSize(kWidth, kCredentialsHeight);
        break;
    default:
        break;
    }
    if (m_tip)
        m_tip->move((width() - m_tip->width()) / 2, (height() - m_tip->height()) / 2);
}

void QadddeviceDig::showTip(const QString& text)
{
    m_tipTimer->stop();
    m_tip->show();
    m_tip->setMessage(text, false);
    m_tip->move((width() - m_tip->width()) / 2, (height() - m_tip->height()) / 2);
    m_tip->raise();
    m_tipTimer->start(TipMs);
}

void QadddeviceDig::showhide()
{
    m_tipTimer->stop();
    m_tip->hide();
}

void QadddeviceDig::clearRows()
{
    for (Qdeciveoption* row : qAsConst(m_rows))
        delete row;
    m_rows.clear();
}

void QadddeviceDig::onSigDevListChanged()
{
    clearRows();
    const QList<DeviceRecord> found = DeviceSearch::instance().deviceList();
    for (const DeviceRecord& record : found) {
        auto* row = new Qdeciveoption(record.id, record.address, ui->listwidget);
        row->installEventFilter(this);
        // The closing stretch stays last.
        ui->devlistlayout->insertWidget(ui->devlistlayout->count() - 1, row);
        m_rows.append(row);
    }
    showPage(ListPage);
}

void QadddeviceDig::selectRow(Qdeciveoption* row)
{
    if (row->isSelected()) {
        row->setSelected(false);
        return;
    }
    for (Qdeciveoption* other : qAsConst(m_rows))
        other->setSelected(other == row);
}

Qdeciveoption* QadddeviceDig::selectedRow() const
{
    for (Qdeciveoption* row : m_rows) {
        if (row->isSelected())
            return row;
    }
    return nullptr;
}

void QadddeviceDig::on_definebtn_clicked()
{
    switch (m_page) {
    case SearchPage:
        close();
        break;
    case ListPage: {
        Qdeciveoption* row = selectedRow();
        if (!row) {
            showTip(tr("请选中设备"));
            return;
        }
        QString userName;
        QString password;
        if (m_store && m_store->loadAccount(row->id(), userName, password))
            row->setAccount(userName, password);
        emit sigAddDevice(row->id(), row->address(), row->userName(), row->password());
        break;
    }
    case CredentialsPage: {
        Qdeciveoption* row = selectedRow();
        if (!row)
            return;
        const QString password = passwordShowsHint() ? QString() : ui->pwdedit->text();
        row->setAccount(ui->usernameedit->text(), password);
        emit sigAddDevice(row->id(), row->address(), row->userName(), row->password());
        break;
    }
    default:
        break;
    }
}

void QadddeviceDig::onSigLogin(int id, Device::LoginState state, int result)
{
    Q_UNUSED(id);
    qDebug() << "state " << state << " result " << result;
    if (state == Device::LoginSuccess) {
        clearRows();
        close();
    } else if (state == Device::LoginFailed) {
        if (result == UnknownUser || result == WrongPassword)
            showPage(CredentialsPage);
        else
            showTip(tr("其它错误"));
    }
}

void QadddeviceDig::on_researchbtn_clicked()
{
    startSearch();
    showPage(SearchPage);
}

void QadddeviceDig::on_cancelbtn_clicked()
{
    clearRows();
    close();
}

bool QadddeviceDig::passwordShowsHint() const
{
    return ui->pwdedit->text() == tr("请输入密码");
}

void QadddeviceDig::pwdtextEdited()
{
    if (!ui->pwdedit->text().isEmpty())
        return;
    ui->pwdedit->setEchoMode(QLineEdit::Normal);
    ui->pwdedit->setText(tr("请输入密码"));
}

void QadddeviceDig::clearPasswordHint()
{
    ui->pwdedit->clear();
    ui->pwdedit->setEchoMode(QLineEdit::Password);
    ui->errorlb->hide();
    ui->erroriconlb->hide();
}

bool QadddeviceDig::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->pwdedit) {
        if (event->type() == QEvent::MouseButtonPress && passwordShowsHint())
            clearPasswordHint();
    } else if (event->type() == QEvent::MouseButtonPress) {
        for (Qdeciveoption* row : qAsConst(m_rows)) {
            if (watched == row) {
                selectRow(row);
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
