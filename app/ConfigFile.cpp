#include "app/ConfigFile.h"

#include "store/AppPaths.h"

#include <QSettings>

QString configFilePath()
{
    return AppPaths::configFilePath();
}

int readConfigInt(const QString& key)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    return settings.value(key, 1).toInt();
}

int readConfigInt(const QString& key, int defaultValue)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    bool ok = false;
    const int value = settings.value(key, defaultValue).toInt(&ok);
    return ok ? value : defaultValue;
}

double readConfigDouble(const QString& key, double defaultValue)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    return settings.value(key, defaultValue).toDouble();
}

QString readConfigText(const QString& key)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    return settings.value(key).toString();
}

void writeConfigValue(const QString& key, const QVariant& value)
{
    QSettings settings(configFilePath(), QSettings::IniFormat);
    settings.setValue(key, value);
}
