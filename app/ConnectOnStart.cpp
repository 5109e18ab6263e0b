#include "app/ConnectOnStart.h"

#include "app/Thermography.h"
#include "device/DeviceSearch.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

constexpr int kUnknownUser = 1011;
constexpr int kWrongPassword = 1012;

} // namespace

ConnectOnStart::ConnectOnStart(Thermography* window, const CommandLine& request)
    : QObject(window)
    , m_window(window)
    , m_request(request)
{
    m_tryAgain.setSingleShot(true);
    m_tryAgain.setInterval(kTryAgainMs);
    connect(&m_tryAgain, &QTimer::timeout, this, &ConnectOnStart::tryAgain);
    connect(&DeviceSearch::instance(), &DeviceSearch::sigDevListChanged, this, &ConnectOnStart::onSigDevListChanged);
    connect(window, &Thermography::SigLoginResult, this, &ConnectOnStart::onSigLoginResult);
}

void ConnectOnStart::start()
{
    m_id = m_request.id;
    if (m_id > 0)
        connectTo(m_id);
    else
        search();
}

bool ConnectOnStart::operatorTookOver() const
{
    // Between attempts the window holds the session of the last one (or none
    // before the first); anything else was connected or ended by hand.
    return !m_window || m_window->deviceMsg().device != m_device;
}

void ConnectOnStart::tryAgain()
{
    if (m_finished)
        return;
    if (operatorTookOver()) {
        qDebug() << "connecting to" << m_request.address << "left to the operator";
        m_finished = true;
        return;
    }
    if (m_id > 0)
        connectTo(m_id);
    else
        search();
}

void ConnectOnStart::search()
{
    m_searching = true;
    DeviceSearch::instance().Start();
}

void ConnectOnStart::onSigDevListChanged()
{
    // The dialog's searches report here too; only ours decide.
    if (!m_searching || m_finished)
        return;
    m_searching = false;
    if (operatorTookOver()) {
        m_finished = true;
        return;
    }
    const QList<DeviceRecord> found = DeviceSearch::instance().deviceList();
    for (const DeviceRecord& record : found) {
        if (record.address == m_request.address) {
            m_id = record.id;
            connectTo(record.id);
            return;
        }
    }
    qDebug() << "camera not found by the search:" << m_request.address;
    if (m_window) {
        m_window->showTip(QCoreApplication::translate("Thermography", "未找到设备 %1").arg(m_request.address),
            Thermography::TipMs, false);
    }
    m_tryAgain.start();
}

void ConnectOnStart::connectTo(int id)
{
    if (!m_window)
        return;
    QString savedUser;
    QString savedPassword;
    const bool saved = m_window->store().loadAccount(id, savedUser, savedPassword);
    const QString user = m_request.hasUser ? m_request.user : saved ? savedUser : QStringLiteral("admin");
    // The saved password belongs to the saved user only.
    const QString password = m_request.hasPassword ? m_request.password
        : saved && savedUser == user               ? savedPassword
                                                   : QString();
    qDebug() << "connecting to" << m_request.address << "as device" << id << "user" << user;
    const Device* before = m_window->deviceMsg().device;
    m_window->addDevice(id, m_request.address, user, password);
    const Device* after = m_window->deviceMsg().device;
    if (after == before) {
        // A login of the operator's is under way; it decides.
        m_finished = true;
        return;
    }
    m_device = after;
}

void ConnectOnStart::onSigLoginResult(int id, Device::LoginState state, int result)
{
    // Only the answer to our own attempt counts (the window reports the
    // current session's only).
    if (m_finished || !m_window || m_device == nullptr || m_window->deviceMsg().device != m_device)
        return;
    if (state == Device::LoginSuccess) {
        m_finished = true;
        return;
    }
    if (state != Device::LoginFailed)
        return;
    // The add-device dialog asks for other credentials on these two codes
    // and names any other failure.
    const bool credentials = result == kUnknownUser || result == kWrongPassword;
    const QString tip = credentials ? QCoreApplication::translate("QadddeviceDig", "用户名或密码错误！")
                                    : QCoreApplication::translate("QadddeviceDig", "其它错误");
    qWarning().noquote() << QStringLiteral("login to %1 as device %2 failed with %3 (%4); trying again in %5 s")
                                .arg(m_request.address)
                                .arg(id)
                                .arg(result)
                                .arg(tip)
                                .arg(m_tryAgain.interval() / 1000.0);
    m_window->showTip(tip, Thermography::TipMs, false);
    m_tryAgain.start();
}
