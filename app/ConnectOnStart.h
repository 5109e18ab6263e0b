// Connects the main window to the camera named on the command line, once the
// window is shown, as choosing it in the add-device dialog would: the device
// number comes from the LAN search (or --id); the account is the command
// line's, else the saved one, else "admin" with an empty password. A camera
// the search does not find, or a login the camera refuses, gives the tip the
// dialog would give, is logged and is tried again every 30 s, until a login
// succeeds or the operator connects or disconnects a camera themselves.
// GUI thread.
#pragma once

#include "app/CommandLine.h"
#include "device/Device.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class Thermography;

class ConnectOnStart : public QObject {
    Q_OBJECT

public:
    static constexpr int kTryAgainMs = 30000;

    ConnectOnStart(Thermography* window, const CommandLine& request);

    // Starts with the search (or connects at once with a known number).
    void start();
    // Whether it has stopped: logged in, or the operator took over.
    bool finished() const { return m_finished; }
    // Time between attempts (tests shorten it).
    void setTryAgainInterval(int ms) { m_tryAgain.setInterval(ms); }

private slots:
    void onSigDevListChanged();
    void onSigLoginResult(int id, Device::LoginState state, int result);
    void tryAgain();

private:
    void search();
    void connectTo(int id);
    bool operatorTookOver() const;

    QPointer<Thermography> m_window;
    CommandLine m_request;
    QTimer m_tryAgain;
    int m_id = 0; // known once found (or given)
    const Device* m_device = nullptr; // the session of the last attempt; compared only
    bool m_searching = false;
    bool m_finished = false;
};
