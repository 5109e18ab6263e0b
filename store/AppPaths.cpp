#include "store/AppPaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// The folder a package puts the program in; a build defines it when it
// knows where its package installs.
QString packagedProgramDir()
{
#ifdef ARDENIX_PACKAGE_BINDIR
    return QStringLiteral(ARDENIX_PACKAGE_BINDIR);
#else
    return QString();
#endif
}

// Beside the program for a build tree, in the data folder when installed;
// a site (or a test) may name the folder with $ARDENIX_SNAPSHOT_DIR.
QString shotDir(const QString& name)
{
    const QString chosen = qEnvironmentVariable("ARDENIX_SNAPSHOT_DIR");
    const QString base = !chosen.isEmpty() ? QFileInfo(chosen).absoluteFilePath()
        : AppPaths::installedCopy()        ? AppPaths::dataDir()
                                           : QCoreApplication::applicationDirPath();
    return QStringLiteral("%1/%2").arg(base, name);
}

// The settings reader deserialises "@Variant(...)" values, which a damaged
// file can make allocate without bound (a crash). The program writes only
// numbers there, so a file that holds such a value (or the escapes that can
// spell one), or is far larger than any it writes, was not written by it: it
// is moved aside as "Config.ini.damaged" and the defaults apply.
constexpr qint64 kMaxConfigBytes = 64 * 1024;

bool damagedConfig(const QByteArray& text)
{
    if (text.contains("Variant("))
        return true;
    for (int i = 0; i + 1 < text.size(); ++i) {
        const char next = text.at(i + 1);
        if (text.at(i) == '\\' && (next == 'x' || next == 'X' || (next >= '0' && next <= '7')))
            return true;
    }
    return false;
}

void setAsideDamagedConfig(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return;
    bool damaged = file.size() > kMaxConfigBytes;
    if (!damaged) {
        if (!file.open(QIODevice::ReadOnly))
            return;
        damaged = damagedConfig(file.readAll());
        file.close();
    }
    if (!damaged)
        return;
    const QString aside = path + QStringLiteral(".damaged");
    QFile::remove(aside);
    if (!QFile::rename(path, aside))
        QFile::remove(path);
    qWarning().noquote() << QStringLiteral("settings file damaged, set aside as %1; defaults apply").arg(aside);
}

} // namespace

namespace AppPaths {

bool isInstalledProgramDir(const QString& programDir)
{
    const QFileInfo dir(programDir);
    if (!dir.isDir() || !dir.isWritable())
        return true;
    // An administrator may write the system's program folder, yet an
    // installed copy must not fill it with settings and pictures.
    const QString packaged = packagedProgramDir();
    return !packaged.isEmpty() && dir.canonicalFilePath() == QFileInfo(packaged).canonicalFilePath();
}

bool installedCopy()
{
    static const bool installed = isInstalledProgramDir(QCoreApplication::applicationDirPath());
    return installed;
}

QString dataDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const bool existed = QFileInfo::exists(dir);
    QDir().mkpath(dir);
    // It holds the statistics, the log and the pictures of people: a new
    // one is its owner's alone. One made by an earlier version stays as it is.
    if (!existed)
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return QFileInfo(dir).absoluteFilePath();
}

QString configFilePath()
{
    QString path;
    if (installedCopy())
        path = dataDir() + QStringLiteral("/Config.ini");
    else
#ifdef _WIN32
        path = QStringLiteral(".\\Config.ini");
#else
        path = QStringLiteral("./Config.ini");
#endif
    setAsideDamagedConfig(path);
    return path;
}

QString autoShotDir()
{
    return shotDir(QStringLiteral("Screenshot"));
}

QString manualShotDir()
{
    return shotDir(QStringLiteral("ManualScreenshot"));
}

} // namespace AppPaths
