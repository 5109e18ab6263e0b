// Connects the main window to the camera named on the command line, once the
// window is shown, exactly as choosing it in the add-device dialog would: the
// device number comes from the LAN search (or --id), the account from the
// store, else the command line, else "admin" with an empty password. A camera
// the search does not find gives a tip and is searched for again every 30 s.
// GUI thread.
#pragma once

#include "app/CommandLine.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class Thermography;

class ConnectOnStart : public QObject {
    Q_OBJECT

public:
    static constexpr int kSearchAgainMs = 30000;

    ConnectOnStart(Thermography* window, const CommandLine& request);

    // Starts with the search (or connects at once with a known number).
    void start();
    bool connected() const { return m_connected; }

private slots:
    void onSigDevListChanged();
    void search();

private:
    void connectTo(int id);

    QPointer<Thermography> m_window;
    CommandLine m_request;
    QTimer m_searchAgain;
    bool m_searching = false;
    bool m_connected = false;
};
