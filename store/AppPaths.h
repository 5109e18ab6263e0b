// Where the program keeps what it writes besides the statistics file: the
// settings file "Config.ini" and the two snapshot folders. A copy run from a
// folder its user may write (a build tree) keeps them where it always has:
// Config.ini in the current directory, the snapshot folders beside the
// program. An installed copy (its folder not writable, or the packaged
// program folder) keeps all of them in the user's application data folder,
// beside the statistics file. Any thread, once the application object exists.
#pragma once

#include <QString>

namespace AppPaths {

// True when the program runs as an installed copy; decided once per process.
bool installedCopy();
// The rule behind installedCopy(), for a given program folder.
bool isInstalledProgramDir(const QString& programDir);

// The user's application data folder (created when missing); absolute.
QString dataDir();

// The settings file, opened anew at each access by its readers.
QString configFilePath();
// Folders of the alarm snapshots and of the manual ones; absolute. Both lie
// in $ARDENIX_SNAPSHOT_DIR when it is set.
QString autoShotDir();
QString manualShotDir();

} // namespace AppPaths
