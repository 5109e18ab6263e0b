// Measures how long the program takes from process start to its window being
// shown, with a statistics file of ten years of days and 100,000 pictures
// ("ours") against the same start with an empty file ("reference"). The two
// starts alternate so that both see the same machine load; the medians are
// compared.
//   bench-startup [ROUNDS]
#include "store/LocalDatabase.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kYears = 10;
const int kPictures = 100000;
const int kStartTimeoutMs = 60000;

// Creates the file the way the program does, then fills it in one
// transaction.
bool fillDatabase(const QString& path, int days, int pictures)
{
    qputenv("ARDENIX_DB", QFile::encodeName(path));
    {
        LocalDatabase store;
        store.openDatabase();
        QSqlDatabase db = QSqlDatabase::database();
        if (!db.isOpen())
            return false;
        db.transaction();
        QSqlQuery day;
        day.prepare("INSERT OR REPLACE INTO datecounttb (localdate,normalnum,unusualnum) VALUES (?, ?, ?)");
        const QDate today = QDate::currentDate();
        for (int i = 0; i < days; ++i) {
            day.addBindValue(today.addDays(-i).toString("yyyy-MM-dd"));
            day.addBindValue(100 + i % 50);
            day.addBindValue(i % 7);
            if (!day.exec())
                return false;
        }
        QSqlQuery picture;
        picture.prepare("INSERT INTO pictureinfotb (localdate,filepath,state) VALUES (?, ?, ?)");
        for (int i = 0; i < pictures; ++i) {
            const QDate date = today.addDays(-(i % qMax(days, 1)));
            const int state = 1 + (i % 9 == 0);
            picture.addBindValue(date.toString("yyyy-MM-dd"));
            picture.addBindValue(QString("/opt/ardenix/Screenshot/%1/17-%2-%3083000-%4-3.jpg")
                                     .arg(date.toString("yyyy-MM-dd"))
                                     .arg(360 + i % 20)
                                     .arg(date.toString("yyyyMMdd"))
                                     .arg(state));
            picture.addBindValue(state);
            if (!picture.exec())
                return false;
        }
        if (!db.commit())
            return false;
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    return true;
}

// One start of the program; milliseconds until it reports its window, or a
// negative value when it did not.
double timeStart(const QString& program, const QString& dbPath, const QString& workDir)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ARDENIX_DB", dbPath);
    env.insert("ARDENIX_EXIT_WHEN_SHOWN", "1");
    if (!env.contains("DISPLAY"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!env.contains("XDG_RUNTIME_DIR")) {
        const QString runtime = workDir + "/runtime";
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert("XDG_RUNTIME_DIR", runtime);
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    QElapsedTimer clock;
    clock.start();
    process.start(program, QStringList());
    QByteArray out;
    while (!out.contains("window shown") && clock.elapsed() < kStartTimeoutMs) {
        if (!process.waitForReadyRead(int(kStartTimeoutMs - clock.elapsed())))
            break;
        out += process.readAllStandardOutput();
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    return out.contains("window shown") ? ms : -1.0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qBound(1, atoi(argv[1]), 50) : 7;

    QString buildDir = qEnvironmentVariable("ARDENIX_BUILD_DIR");
    if (buildDir.isEmpty())
        buildDir = QCoreApplication::applicationDirPath() + "/..";
    const QString program = buildDir + "/bin/ardenix";
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "bench-startup: %s is missing\n", qPrintable(program));
        return 1;
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString large = dir.filePath("large.dat");
    const QString empty = dir.filePath("empty.dat");
    QElapsedTimer fillClock;
    fillClock.start();
    if (!fillDatabase(large, kYears * 365, kPictures) || !fillDatabase(empty, 0, 0)) {
        std::fprintf(stderr, "bench-startup: could not fill the databases\n");
        return 1;
    }
    std::fprintf(stderr, "bench-startup: databases ready in %lld ms (%lld bytes)\n",
        static_cast<long long>(fillClock.elapsed()), static_cast<long long>(QFileInfo(large).size()));

    // One unmeasured start each warms the file cache and the loader.
    timeStart(program, large, dir.path());
    timeStart(program, empty, dir.path());

    std::vector<double> ours;
    std::vector<double> reference;
    for (int i = 0; i < rounds; ++i) {
        const double withData = timeStart(program, large, dir.path());
        const double withoutData = timeStart(program, empty, dir.path());
        if (withData < 0 || withoutData < 0) {
            std::fprintf(stderr, "bench-startup: the program did not show its window\n");
            return 1;
        }
        ours.push_back(withData);
        reference.push_back(withoutData);
    }
    const double oursMs = median(ours);
    const double referenceMs = median(reference);
    std::printf("BENCH startup ratio=%.3f ours=%.1fms reference=%.1fms\n", oursMs / referenceMs, oursMs, referenceMs);
    return 0;
}
