// Fuzz target: the program's settings file "Config.ini" as the program reads
// it at start-up, written by hand or by an older version.

#include "app/ConfigFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The settings file's place depends on the program's folder, known once the
// application object exists.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The settings file is written in the current folder (scripts/fuzz.sh
    // runs each target in a folder of its own).
    if (size > 8192)
        return 0;
    {
        QFile file(configFilePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    for (const char* key : { ConfigKey::Alarm, ConfigKey::Remind, ConfigKey::Voice, ConfigKey::LanguageType,
             ConfigKey::ScreenshotInterval })
        readConfigInt(QString::fromLatin1(key));
    readConfigDouble(QString::fromLatin1(ConfigKey::Temperature), DefaultThreshold);
    readConfigDouble(QString::fromLatin1(ConfigKey::FahrenheitPrefix) + QLatin1Char('1'), 98.6);

    // Qt's INI reader is not instrumented: branches on what it made of the
    // file let the fuzzer tell its outcomes apart.
    const QSettings settings(configFilePath(), QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    volatile int sink = 0;
    switch (keys.size()) {
    case 0:
        sink = 0;
        break;
    case 1:
        sink = 1;
        break;
    case 2:
        sink = 2;
        break;
    case 3:
        sink = 3;
        break;
    default:
        sink = 4;
        break;
    }
    for (const QString& key : keys) {
        const QVariant value = settings.value(key);
        switch (value.userType()) {
        case QMetaType::QString:
            sink = sink + 1;
            break;
        case QMetaType::QStringList:
            sink = sink + 2;
            break;
        case QMetaType::QByteArray:
            sink = sink + 3;
            break;
        case QMetaType::QRect:
            sink = sink + 4;
            break;
        case QMetaType::QSize:
            sink = sink + 5;
            break;
        case QMetaType::QPoint:
            sink = sink + 6;
            break;
        default:
            sink = sink + 7;
            break;
        }
        if (key.contains(QLatin1Char('/')))
            sink = sink + 1;
        if (key.startsWith(QLatin1String("CONFIG/"), Qt::CaseInsensitive))
            sink = sink + 1;
    }
    (void)sink;
    return 0;
}
