#include "store/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
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
    QDir().mkpath(dir);
    return QFileInfo(dir).absoluteFilePath();
}

QString configFilePath()
{
    if (installedCopy())
        return dataDir() + QStringLiteral("/Config.ini");
#ifdef _WIN32
    return QStringLiteral(".\\Config.ini");
#else
    return QStringLiteral("./Config.ini");
#endif
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
