#include "device/DeviceSearch.h"

#include <cstring>

namespace {

// The raw strings are fixed-size fields; a camera that fills one up to the
// end leaves no terminator, so the length is bounded by the field.
template <size_t N> QString fieldString(const char (&field)[N])
{
    const void* end = std::memchr(field, '\0', N);
    const int length = end ? int(static_cast<const char*>(end) - field) : int(N);
    return QString::fromUtf8(field, length);
}

DeviceSearch g_deviceSearch;

} // namespace

DeviceSearch& DeviceSearch::instance()
{
    return g_deviceSearch;
}

DeviceSearch::DeviceSearch() = default;

DeviceSearch::~DeviceSearch()
{
    // The hooks use this object; let a running search end first.
    Wait();
}

DeviceRecord DeviceSearch::recordFrom(const CamSearchRecord& raw)
{
    DeviceRecord record;
    record.deviceName = fieldString(raw.deviceName);
    record.address = fieldString(raw.ipAddress);
    record.macAddress = fieldString(raw.macAddress);
    record.serialNumber = fieldString(raw.serialNumber);
    record.port = raw.port;
    for (int i = 0; i < 5; ++i)
        record.searchCapability[i] = raw.capability[i];
    record.id = raw.deviceNumber;
    record.userName = fieldString(raw.userName);
    record.password = fieldString(raw.password);
    return record;
}

QList<DeviceRecord> DeviceSearch::deviceList()
{
    std::lock_guard<std::mutex> locker(m_mutex);
    return m_published;
}

void DeviceSearch::OnSearchStarted()
{
    m_pending.clear();
    emit sigIsSearchingChanged(true);
}

void DeviceSearch::OnDeviceFound(const CamSearchRecord* record)
{
    if (record)
        m_pending.append(recordFrom(*record));
}

void DeviceSearch::OnSearchFinished()
{
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_published = m_pending;
    }
    emit sigDevListChanged();
    emit sigIsSearchingChanged(false);
}
