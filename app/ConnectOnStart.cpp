#include "app/ConnectOnStart.h"

#include "app/Thermography.h"
#include "device/DeviceSearch.h"

#include <QCoreApplication>
#include <QDebug>

ConnectOnStart::ConnectOnStart(Thermography* window, const CommandLine& request)
    : QObject(window)
    , m_window(window)
    , m_request(request)
{
    m_searchAgain.setSingleShot(true);
    m_searchAgain.setInterval(kSearchAgainMs);
    connect(&m_searchAgain, &QTimer::timeout, this, &ConnectOnStart::search);
    connect(&DeviceSearch::instance(), &DeviceSearch::sigDevListChanged, this, &ConnectOnStart::onSigDevListChanged);
}

void ConnectOnStart::start()
{
    if (m_request.id > 0)
        connectTo(m_request.id);
    else
        search();
}

void ConnectOnStart::search()
{
    if (m_connected)
        return;
    m_searching = true;
    DeviceSearch::instance().Start();
}

void ConnectOnStart::onSigDevListChanged()
{
    // The dialog's searches report here too; only ours decide.
    if (!m_searching || m_connected)
        return;
    m_searching = false;
    const QList<DeviceRecord> found = DeviceSearch::instance().deviceList();
    for (const DeviceRecord& record : found) {
        if (record.address == m_request.address) {
            connectTo(record.id);
            return;
        }
    }
    qDebug() << "camera not found by the search:" << m_request.address;
    if (m_window) {
        m_window->showTip(QCoreApplication::translate("Thermography", "未找到设备 %1").arg(m_request.address),
            Thermography::TipMs, false);
    }
    m_searchAgain.start();
}

void ConnectOnStart::connectTo(int id)
{
    if (!m_window)
        return;
    m_connected = true;
    m_searchAgain.stop();
    QString user = QStringLiteral("admin");
    QString password;
    if (m_request.hasUser)
        user = m_request.user;
    if (m_request.hasPassword)
        password = m_request.password;
    QString savedUser;
    QString savedPassword;
    if (m_window->store().loadAccount(id, savedUser, savedPassword)) {
        user = savedUser;
        password = savedPassword;
    }
    qDebug() << "connecting to" << m_request.address << "as device" << id;
    m_window->addDevice(id, m_request.address, user, password);
}
