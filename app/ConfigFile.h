// Reads and writes the program's settings file "Config.ini" (in the current
// directory, or in the data folder for an installed copy: store/AppPaths.h).
// Every access opens the file anew and drops it again, so nothing
// is cached and other windows see each change at once. Any thread.
#pragma once

#include <QString>
#include <QVariant>

namespace ConfigKey {
// Alarm sound on abnormal temperature: 1 on, anything else off.
inline const char* const Alarm = "CONFIG/Alarm";
// Abnormal-person reminder: 1 on, anything else off.
inline const char* const Remind = "CONFIG/Remind";
// High-temperature threshold in degrees Celsius.
inline const char* const Temperature = "CONFIG/temperature";
// The threshold as last typed in Fahrenheit, per camera: "CONFIG/Ftemp<id>".
inline const char* const FahrenheitPrefix = "CONFIG/Ftemp";
// Live audio of the camera: non-zero on.
inline const char* const Voice = "LANGUAGE/voice";
// Interface language selector, 1 or 2.
inline const char* const LanguageType = "LANGUAGE/type";
// Milliseconds before a timed snapshot.
inline const char* const ScreenshotInterval = "SCREENSHOT/interval";
// The site database all stations feed: a libpq URI; empty or absent is none.
inline const char* const SiteDatabase = "SITE/database";
// This station's name at the site; empty or absent is the host name.
inline const char* const SiteStation = "SITE/station";
// Days of alarm pictures kept, today included; 0 keeps every day.
inline const char* const KeepDays = "SCREENSHOT/keepDays";
// Free space in MB the alarm pictures' disk keeps; older days go first.
inline const char* const MinFreeMB = "SCREENSHOT/minFreeMB";
} // namespace ConfigKey

inline constexpr int DefaultKeepDays = 0;
inline constexpr int DefaultMinFreeMB = 2048;

inline constexpr double DefaultThreshold = 37.0;

QString configFilePath();

// An integer setting; a missing key reads as 1.
int readConfigInt(const QString& key);
// An integer setting; a missing key or one that is not a number reads as
// defaultValue.
int readConfigInt(const QString& key, int defaultValue);
// A decimal setting; a missing key reads as defaultValue.
double readConfigDouble(const QString& key, double defaultValue);
// A text setting; a missing key reads as an empty text.
QString readConfigText(const QString& key);
void writeConfigValue(const QString& key, const QVariant& value);
