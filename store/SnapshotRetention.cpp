#include "store/SnapshotRetention.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>

#include <algorithm>
#include <chrono>

namespace {

constexpr qint64 kMB = 1024 * 1024;

int countPictures(const QString& path)
{
    int pictures = 0;
    QDirIterator it(path, { QStringLiteral("*.jpg"), QStringLiteral("*.JPG") }, QDir::Files | QDir::Hidden,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++pictures;
    }
    return pictures;
}

} // namespace

SnapshotRetention::SnapshotRetention(const QString& dir, PolicySource policy, QObject* parent)
    : QObject(parent)
    , m_dir(dir)
    , m_policy(std::move(policy))
    , m_probe(&SnapshotRetention::freeBytes)
    , m_today([] { return QDate::currentDate(); })
{
}

SnapshotRetention::~SnapshotRetention()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void SnapshotRetention::setFreeSpaceProbe(FreeSpaceProbe probe)
{
    m_probe = std::move(probe);
}

void SnapshotRetention::setToday(std::function<QDate()> today)
{
    m_today = std::move(today);
}

void SnapshotRetention::start(int intervalMs)
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this, intervalMs] { run(intervalMs); });
}

void SnapshotRetention::run(int intervalMs)
{
    const auto interval = std::chrono::milliseconds(std::max(intervalMs, 1));
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stopping) {
        guard.unlock();
        const PassResult result = runPass();
        emit sigPassDone(result.folders, result.pictures);
        guard.lock();
        m_wake.wait_for(guard, interval, [this] { return m_stopping; });
    }
}

qint64 SnapshotRetention::freeBytes(const QString& dir)
{
    // Before the first picture the folder may not exist yet: its file system
    // is that of the nearest folder above it that does.
    QFileInfo info(dir);
    for (int depth = 0; depth < 64 && !info.exists(); ++depth) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        info = QFileInfo(parent);
    }
    const QStorageInfo storage(info.absoluteFilePath());
    if (!storage.isValid() || !storage.isReady())
        return -1;
    return storage.bytesAvailable();
}

QList<SnapshotRetention::DayFolder> SnapshotRetention::dayFolders(const QDate& today) const
{
    bool fromToday = false;
    static const QRegularExpression dayName(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    QList<DayFolder> folders;
    // Links are left alone: removing through one would empty its target.
    const QFileInfoList entries
        = QDir(m_dir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (!dayName.match(entry.fileName()).hasMatch())
            continue;
        const QDate date = QDate::fromString(entry.fileName(), QStringLiteral("yyyy-MM-dd"));
        fromToday = fromToday || date >= today;
        if (!date.isValid() || date >= today || m_failed.contains(entry.absoluteFilePath()))
            continue;
        folders.append({ date, entry.absoluteFilePath() });
    }
    std::sort(folders.begin(), folders.end(), [](const DayFolder& a, const DayFolder& b) { return a.date < b.date; });
    // Folders are named by the camera's date. A camera whose clock is in a
    // zone behind the station's still writes into yesterday's folder until
    // its own midnight: while no folder of today or later exists, that one
    // is kept too.
    if (!fromToday && !folders.isEmpty() && folders.last().date == today.addDays(-1))
        folders.removeLast();
    return folders;
}

bool SnapshotRetention::removeFolder(const DayFolder& folder, const QString& reason, PassResult& result)
{
    const int before = countPictures(folder.path);
    if (QDir(folder.path).removeRecursively()) {
        qDebug().noquote() << QStringLiteral("retention: removed %1 (%2 pictures; %3)")
                                  .arg(QDir::toNativeSeparators(folder.path))
                                  .arg(before)
                                  .arg(reason);
        ++result.folders;
        result.pictures += before;
        return true;
    }
    const int left = QFileInfo(folder.path).exists() ? countPictures(folder.path) : 0;
    qDebug().noquote() << QStringLiteral("retention: cannot remove %1 (%2 of %3 pictures removed); not tried again")
                              .arg(QDir::toNativeSeparators(folder.path))
                              .arg(before - left)
                              .arg(before);
    m_failed.insert(folder.path);
    result.pictures += before - left;
    return false;
}

SnapshotRetention::PassResult SnapshotRetention::runPass()
{
    PassResult result;
    Policy policy = m_policy ? m_policy() : Policy();
    policy.keepDays = std::max(policy.keepDays, 0);
    policy.minFreeMB = std::max<qint64>(policy.minFreeMB, 0);
    const QDate today = m_today();
    if (!today.isValid())
        return result;
    const auto stopping = [this] {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_stopping;
    };

    QList<DayFolder> folders = dayFolders(today);
    if (policy.keepDays > 0) {
        // keepDays 1 keeps today alone, 7 today and the six days before.
        const QDate oldestKept = today.addDays(1 - policy.keepDays);
        const QString reason = QStringLiteral("older than %1 days").arg(policy.keepDays);
        while (!folders.isEmpty() && folders.first().date < oldestKept && !stopping())
            removeFolder(folders.takeFirst(), reason, result);
    }

    if (policy.minFreeMB == 0)
        return result;
    const qint64 minBytes = policy.minFreeMB * kMB;
    const QString reason = QStringLiteral("free space below %1 MB").arg(policy.minFreeMB);
    qint64 free = m_probe(m_dir);
    // Each folder is tried once: the loop ends with the list.
    while (free >= 0 && free < minBytes && !folders.isEmpty() && !stopping()) {
        removeFolder(folders.takeFirst(), reason, result);
        free = m_probe(m_dir);
    }
    if (free < 0)
        return result;
    if (free >= minBytes) {
        m_lowReported = false;
        return result;
    }
    result.spaceLow = true;
    if (!m_lowReported) {
        m_lowReported = true;
        qDebug().noquote() << QStringLiteral("retention: %1 MB free under %2, below %3 MB, and no day folder left "
                                             "to remove")
                                  .arg(free / kMB)
                                  .arg(QDir::toNativeSeparators(m_dir))
                                  .arg(policy.minFreeMB);
        emit sigSpaceLow(free / kMB);
    }
    return result;
}
