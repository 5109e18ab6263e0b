#pragma once
// Finds cameras on the local network and keeps the list of the last completed
// search for the add-device dialog. One instance serves the whole program
// (instance()); it lives as long as the program.
//
// The hooks run on the search library's thread; the signals reach receivers
// on other threads as queued calls. deviceList() is read on the GUI thread
// after sigDevListChanged().

#include "device/DeviceRecord.h"

#include "CamSearch.h"

#include <QList>
#include <QObject>

#include <mutex>

class DeviceSearch : public QObject, public CamSearch {
    Q_OBJECT

public:
    static DeviceSearch& instance();

    DeviceSearch();
    ~DeviceSearch() override;

    // A copy (implicitly shared, so cheap): a search that finishes meanwhile
    // replaces the list on the search thread.
    QList<DeviceRecord> deviceList();

    // Converts one raw search answer.
    static DeviceRecord recordFrom(const CamSearchRecord& raw);

signals:
    void sigIsSearchingChanged(bool isSearching);
    void sigDevListChanged();

protected:
    void OnSearchStarted() override;
    void OnDeviceFound(const CamSearchRecord* record) override;
    void OnSearchFinished() override;

private:
    QList<DeviceRecord> m_published;
    QList<DeviceRecord> m_pending; // touched by the search thread only
    std::mutex m_mutex;
};
