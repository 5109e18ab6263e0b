#pragma once
// The description of one camera: where it is, how to log in, and what the
// search and the login reported about it. A plain value, copied freely
// between threads.

#include <QMetaType>
#include <QString>

struct DeviceRecord {
    qint32 id = 0; // chosen by the creator; echoed in every login and preview report
    qint32 port = 8800;
    QString address;
    QString serialNumber; // the three descriptive strings of the search answer
    QString deviceName;
    QString macAddress;
    QString userName;
    QString password;
    quint8 loginField = 0; // the camera's kind, from the login
    qint32 videoWidth = -1; // live picture size; -1 while unknown
    qint32 videoHeight = -1;
    // Capabilities from the login and the search, carried for the callers.
    qint32 channelCount = 0;
    qint32 announcedWidth = 0;
    qint32 announcedHeight = 0;
    qint32 frameRate = 0;
    quint8 hasAudio = 0;
    quint8 canMirror = 0;
    qint32 thermalWidth = 0;
    qint32 thermalHeight = 0;
    quint8 hasTemperature = 0;
    quint8 hasThermalPicture = 0; // non-zero when the camera sends a temperature picture
    qint32 searchCapability[5] = { 0, 0, 0, 0, 0 };
};

Q_DECLARE_METATYPE(DeviceRecord)
