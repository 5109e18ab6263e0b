#include "app/ConfigFile.h"

#include <QSettings>

QString configFilePath()
{
#ifdef _WIN32
    return QStringLiteral(".\\Config.ini");
#else
    return QStringLiteral("./Config.ini");
#endif
}

int readConfigInt(const QString& key)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    return settings.value(key, 1).toInt();
}

double readConfigDouble(const QString& key, double defaultValue)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    return settings.value(key, defaultValue).toDouble();
}

void writeConfigValue(const QString& key, const QVariant& value)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    settings.setValue(key, value);
}
