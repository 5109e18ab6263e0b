// The chart's "Export CSV…": the context menu of the seven-day chart, the
// file dialog, and a file with the same CSV that ardenix-report writes from
// the statistics file the window keeps open.
#include "app/Startup.h"
#include "app/Thermography.h"
#include "widgets/QChartshowDig.h"
#include "TestPatience.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QtCharts/QChartView>
#include <QtTest>

class TestChartExport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void exportsWhatTheToolReports();
    void failedWriteLeavesNoFile();

private:
    QByteArray toolReport();

    QTemporaryDir m_dir;
    QString m_db;
    QTranslator m_translator;
};

void TestChartExport::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_db = m_dir.filePath(QStringLiteral("ardenix.dat"));
    qputenv("ARDENIX_DB", QFile::encodeName(m_db));
    QVERIFY(installEnglishTranslation(*qApp, m_translator));
}

QByteArray TestChartExport::toolReport()
{
    QProcess tool;
    tool.start(qEnvironmentVariable("ARDENIX_BUILD_DIR") + QStringLiteral("/bin/ardenix-report"),
        { QStringLiteral("--db"), m_db, QStringLiteral("daily") });
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return QByteArray();
    return tool.readAllStandardOutput();
}

void TestChartExport::exportsWhatTheToolReports()
{
    Thermography window;
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString shots = m_dir.filePath(QStringLiteral("Screenshot"));
    window.store().addPicture(shots + QStringLiteral("/5-366-") + today + QStringLiteral("080000-1-0.jpg"));
    window.store().addPicture(shots + QStringLiteral("/5-384-") + today + QStringLiteral("080100-2-0.jpg"));
    window.store().addPicture(shots + QStringLiteral("/5-367-") + today + QStringLiteral("080200-1-0.jpg"));
    window.updateCounters();

    auto* chart = window.findChild<QChartshowDig*>(QStringLiteral("defectWaveform"));
    QVERIFY(chart);
    auto* view = chart->findChild<QtCharts::QChartView*>();
    QVERIFY(view);

    // The context menu opens modally, and so does the file dialog that its
    // entry leads to: both are answered from a timer.
    const QString target = m_dir.filePath(QStringLiteral("daily.csv"));
    QStringList menuTexts;
    bool dialogSeen = false;
    QTimer answer;
    int ticks = 0;
    connect(&answer, &QTimer::timeout, this, [&] {
        // Bounded: whatever is open after 10 s is closed, and the checks fail.
        if (++ticks > 200) {
            if (QWidget* open = QApplication::activePopupWidget())
                open->close();
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                modal->reject();
            return;
        }
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions())
                menuTexts << action->text();
            QAction* entry = menu->actions().value(0);
            menu->close();
            // Later, so that this timer may answer the file dialog it opens.
            if (entry)
                QTimer::singleShot(0, entry, &QAction::trigger);
        } else if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialogSeen = true;
            dialog->selectFile(target);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
    answer.start(50);
    const QPoint inside = view->viewport()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, inside, view->viewport()->mapToGlobal(inside));
    QApplication::sendEvent(view->viewport(), &event);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(target), patient(10000));
    answer.stop();

    QCOMPARE(menuTexts, QStringList { QStringLiteral("Export CSV…") });
    QVERIFY(dialogSeen);
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray exported = file.readAll();
    QVERIFY(exported.startsWith("date,normal,abnormal,total\r\n"));
    QVERIFY(exported.contains(
        QStringLiteral("%1,2,1,3\r\n").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))).toUtf8()));
    QCOMPARE(exported, toolReport());
#ifndef _WIN32
    // Readable by the user only, also when it replaces a file others could read.
    const auto userOnly
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    QCOMPARE(file.permissions(), userOnly);
    QVERIFY(file.setPermissions(userOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QVERIFY(window.exportDailyCsv(target));
    QCOMPARE(QFile::permissions(target), userOnly);
#endif
}

void TestChartExport::failedWriteLeavesNoFile()
{
    Thermography window;
    const QString missing = m_dir.filePath(QStringLiteral("no such folder/daily.csv"));
    QVERIFY(!window.exportDailyCsv(missing));
    QVERIFY(!QFile::exists(missing));
}

QTEST_MAIN(TestChartExport)
#include "TestChartExport.moc"
