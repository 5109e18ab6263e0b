// The main window on a real (virtual) screen: what it shows at start-up,
// the tip, the title-bar rules, the screen-size rule and closing. Saves a
// screenshot of the window per screen size to <build>/artifacts/.
#include "app/ConfigFile.h"
#include "app/Startup.h"
#include "app/Thermography.h"
#include "store/LocalDatabase.h"
#include "widgets/ITButton.h"
#include "widgets/QChartshowDig.h"
#include "widgets/QtipDig.h"
#include "TestPatience.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QValueAxis>
#include <QtTest>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

const char* const kCloseChildVariable = "ARDENIX_TEST_CLOSE_CHILD";

QString day(int offset)
{
    return QDate::currentDate().addDays(offset).toString("yyyy-MM-dd");
}

template <typename T> T* child(QWidget* window, const char* name)
{
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qWarning("no child %s", name);
    return found;
}

QString labelText(QWidget* window, const char* name)
{
    QLabel* label = child<QLabel>(window, name);
    return label ? label->text() : QString();
}

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& pos, Qt::MouseButton button)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Presses at pos on the title bar, moves the pointer by delta and lets go.
void dragTitle(QWidget* title, const QPoint& pos, const QPoint& delta, Qt::MouseButton button = Qt::LeftButton)
{
    sendMouse(title, QEvent::MouseButtonPress, pos, button);
    QMouseEvent move(
        QEvent::MouseMove, pos + delta, title->mapToGlobal(pos) + delta, Qt::NoButton, button, Qt::NoModifier);
    QApplication::sendEvent(title, &move);
    sendMouse(title, QEvent::MouseButtonRelease, pos + delta, button);
}

// Run in a child process: a window with a busy thread beside it, then the
// close button. Returning at all is the failure.
int runCloseChild()
{
    std::thread([] {
        for (int i = 0; i < 600; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }).detach();
    Thermography window;
    window.show();
    QPushButton* close = child<QPushButton>(&window, "closebtn");
    if (!close)
        return 2;
    std::printf("closing\n");
    std::fflush(stdout);
    QTest::mouseClick(close, Qt::LeftButton);
    std::printf("still running\n");
    return 3;
}

} // namespace

class TestThermography : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void startsMaximisedWithStoredFigures();
    void screenSizeSetsTheMinimum();
    void audioButtonFollowsTheSetting();
    void saveScreenshot();
    void secondTipReplacesFirst();
    void dialogsOpenModalAndCentred();
    void titleBarDragRules();
    void doubleClickTogglesMaximised();
    void closeEndsProcessWithZero();
    void programReportsFirstShow();

private:
    Thermography* window();

    QTemporaryDir m_dir;
    QTranslator m_translator;
    QScopedPointer<Thermography> m_window;
};

void TestThermography::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("ARDENIX_DB", QFile::encodeName(m_dir.filePath("ardenix.dat")));
    QVERIFY(installEnglishTranslation(*QCoreApplication::instance(), m_translator));
    applyApplicationFont();

    // A week with people in it, and a day outside the week.
    LocalDatabase seed;
    seed.openDatabase();
    QVERIFY(seed.insertDay(day(-10), 400, 40));
    QVERIFY(seed.insertDay(day(-6), 35, 2));
    QVERIFY(seed.insertDay(day(-5), 58, 4));
    QVERIFY(seed.insertDay(day(-4), 41, 1));
    QVERIFY(seed.insertDay(day(-2), 77, 9));
    QVERIFY(seed.insertDay(day(-1), 64, 3));
    QVERIFY(seed.updateDay(day(0), 23, 2));
}

void TestThermography::cleanup()
{
    // Each check starts from a freshly maximised window.
    m_window.reset();
}

Thermography* TestThermography::window()
{
    if (!m_window) {
        m_window.reset(new Thermography);
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.data(), 5000))
            qWarning("window not exposed");
    }
    return m_window.data();
}

void TestThermography::startsMaximisedWithStoredFigures()
{
    Thermography* w = window();
    QCOMPARE(Thermography::instance(), w);
    QVERIFY(w->isMaximizedLook());
    QCOMPARE(w->geometry(), QGuiApplication::primaryScreen()->availableGeometry());
    QCOMPARE(labelText(w, "titlelb"), QString("Ardenix system v1.0.0.0"));
    // "label" is also the overlays' caption: look in the chart panel only.
    QCOMPARE(labelText(child<QWidget>(w, "chartpanel"), "label"), QString("Record in the last 7 days"));
    QCOMPARE(labelText(w, "label_5"), QString("Tested pepole today"));

    QCOMPARE(labelText(w, "allnumlb"), QString("759"));
    QCOMPARE(labelText(w, "allnormalnumlb"), QString("698"));
    QCOMPARE(labelText(w, "allabnormalnumlb"), QString("61"));
    QCOMPARE(labelText(w, "todaynumlb"), QString("25"));
    QCOMPARE(labelText(w, "todaynormalnumlb"), QString("23"));
    QCOMPARE(labelText(w, "todayabnormalnumlb"), QString("2"));

    // The chart got the week's labels and the normal series' top (77 people).
    auto* chart = child<QChartshowDig>(w, "defectWaveform");
    QVERIFY(chart && chart->categoryAxis());
    QCOMPARE(chart->categoryAxis()->categoriesLabels().size(), 7);
    QCOMPARE(chart->categoryAxis()->categoriesLabels().last(), QDate::currentDate().toString("MM-dd"));
    QCOMPARE(chart->largestValue(), 77);

    QVERIFY(!child<QPushButton>(w, "languagebtn")->isVisible());
    QVERIFY(!child<QPushButton>(w, "unitbtn")->isVisible());
    QVERIFY(!child<QPushButton>(w, "maxbtn")->isVisible());
    QVERIFY(child<QPushButton>(w, "rebtn")->isVisible());
    QVERIFY(!w->findChild<QtipDig*>()->isVisible());
}

void TestThermography::screenSizeSetsTheMinimum()
{
    Thermography* w = window();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    auto* chart = child<QChartshowDig>(w, "defectWaveform");
    if (screen.width() <= 1440 || screen.height() <= 1024) {
        QCOMPARE(w->minimumSize(), QSize(1280, 720));
        QCOMPARE(chart->minimumHeight(), 200);
    } else {
        QCOMPARE(w->minimumSize(), QSize(1440, 1024));
    }
    QCOMPARE(w->maximumSize(), QSize(9999, 9999));
}

// Icon 0 is "audio off", icon 1 "audio on"; no setting means on.
void TestThermography::audioButtonFollowsTheSetting()
{
    QVERIFY(!QFile::exists("Config.ini"));
    auto* voice = child<QKvWidget::ITButton>(window(), "cutvoicebtn");
    QCOMPARE(voice->iconCount(), 2);
    QCOMPARE(voice->iconIndex(), 1);
    m_window.reset();

    writeConfigValue(ConfigKey::Voice, 0);
    voice = child<QKvWidget::ITButton>(window(), "cutvoicebtn");
    QCOMPARE(voice->iconIndex(), 0);
    QVERIFY(QFile::remove("Config.ini"));
}

void TestThermography::saveScreenshot()
{
    Thermography* w = window();
    QTest::qWait(200); // let the chart finish its first layout
    const QString dir = qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/artifacts";
    QVERIFY(QDir().mkpath(dir));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QString path = QString("%1/mainwindow-%2x%3.png").arg(dir).arg(screen.width()).arg(screen.height());
    const QPixmap shot = w->grab();
    QCOMPARE(shot.size(), w->size());
    QVERIFY(shot.save(path));
    // The title bar in its colour with the whole title in white; below it
    // the window's own grey.
    const QImage image = shot.toImage();
    auto* title = child<QWidget>(w, "titleWidget");
    auto* titleText = child<QLabel>(w, "titlelb");
    const QRect bar(title->mapTo(w, QPoint()), title->size());
    QCOMPARE(image.pixelColor(bar.right() / 2, bar.top() + 2), QColor(49, 55, 56));
    QCOMPARE(image.pixelColor(2, bar.bottom() + 4), QColor(50, 50, 50));
    QVERIFY(titleText->fontMetrics().horizontalAdvance(titleText->text()) <= titleText->contentsRect().width());
    int white = 0;
    const QRect text(titleText->mapTo(w, QPoint()), titleText->size());
    for (int y = text.top(); y <= text.bottom(); ++y) {
        for (int x = text.left(); x <= text.right(); ++x)
            white += image.pixelColor(x, y).lightness() > 200 ? 1 : 0;
    }
    QVERIFY(white > 100);
}

void TestThermography::secondTipReplacesFirst()
{
    Thermography* w = window();
    auto* tip = w->findChild<QtipDig*>();
    auto* timer = w->findChild<QTimer*>("tipTimer");
    QVERIFY(tip && timer);
    QVERIFY(!tip->isVisible());

    w->showTip("first", Thermography::TipMs, false);
    QVERIFY(tip->isVisible());
    QTest::qWait(300);
    w->showTip("second", 3000, true);
    QVERIFY(tip->isVisible());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 3000);
    // The first tip had at most 700 ms left; anything well above that is a fresh start.
    QVERIFY(timer->remainingTime() > 1000);
    const auto texts = tip->findChildren<QLabel*>();
    bool showsSecond = false;
    for (const QLabel* label : texts)
        showsSecond = showsSecond || (label->isVisible() && label->text() == "second");
    QVERIFY(showsSecond);
    // Centred on the window.
    QCOMPARE(tip->x(), (w->width() - tip->width()) / 2);
    QCOMPARE(tip->y(), (w->height() - tip->height()) / 2);

    QTRY_VERIFY_WITH_TIMEOUT(!tip->isVisible(), patient(10000));
    QVERIFY(!timer->isActive());
}

void TestThermography::dialogsOpenModalAndCentred()
{
    Thermography* w = window();
    QPointer<QWidget> dialog = new QWidget(w);
    dialog->resize(425, 220);
    w->showDialog(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->isWindow());
    QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(dialog->frameGeometry().center(), w->geometry().center());
    dialog->close();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), patient(5000));
}

void TestThermography::titleBarDragRules()
{
    Thermography* w = window();
    auto* title = child<QWidget>(w, "titleWidget");
    auto* titleLabel = child<QLabel>(w, "titlelb");
    QVERIFY(title && titleLabel);
    const QPoint empty(title->width() / 2, title->height() / 2);
    QVERIFY(title->childAt(empty) == nullptr);

    // Maximised: dragging does nothing.
    QPoint before = w->pos();
    dragTitle(title, empty, QPoint(40, 30));
    QCOMPARE(w->pos(), before);

    child<QPushButton>(w, "rebtn")->click();
    QVERIFY(!w->isMaximizedLook());
    before = w->pos();

    // On the empty part of the title bar the window follows the pointer.
    dragTitle(title, empty, QPoint(40, 30));
    QCOMPARE(w->pos(), before + QPoint(40, 30));

    // On a label it stays.
    before = w->pos();
    const QPoint onLabel = titleLabel->geometry().center();
    dragTitle(title, onLabel, QPoint(25, 25));
    QCOMPARE(w->pos(), before);

    // The right button does not drag, and a move after the release does not
    // either.
    dragTitle(title, empty, QPoint(15, 5), Qt::RightButton);
    QCOMPARE(w->pos(), before);
    QMouseEvent stray(QEvent::MouseMove, empty + QPoint(50, 50), title->mapToGlobal(empty) + QPoint(50, 50),
        Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(title, &stray);
    QCOMPARE(w->pos(), before);
}

void TestThermography::doubleClickTogglesMaximised()
{
    Thermography* w = window();
    auto* title = child<QWidget>(w, "titleWidget");
    const QPoint empty(title->width() / 2, title->height() / 2);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

    sendMouse(title, QEvent::MouseButtonDblClick, empty, Qt::LeftButton);
    QVERIFY(!w->isMaximizedLook());
    QVERIFY(child<QPushButton>(w, "maxbtn")->isVisible());
    QVERIFY(!child<QPushButton>(w, "rebtn")->isVisible());
    QVERIFY(w->width() < screen.width() || w->height() < screen.height());

    sendMouse(title, QEvent::MouseButtonDblClick, empty, Qt::LeftButton);
    QVERIFY(w->isMaximizedLook());
    QVERIFY(!child<QPushButton>(w, "maxbtn")->isVisible());
    QCOMPARE(w->geometry(), screen);
}

void TestThermography::closeEndsProcessWithZero()
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kCloseChildVariable, "1");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir.path());
    process.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(process.waitForFinished(30000));
    const QByteArray out = process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(out.contains("closing"), out.constData());
    QVERIFY2(!out.contains("still running"), out.constData());
    QCOMPARE(process.exitCode(), 0);
}

void TestThermography::programReportsFirstShow()
{
    const QString program = qEnvironmentVariable("ARDENIX_BUILD_DIR") + "/bin/ardenix";
    if (!QFile::exists(program))
        QSKIP("the program is not built in this tree");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ARDENIX_EXIT_WHEN_SHOWN", "1");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir.path());
    process.start(program, QStringList());
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().contains("ardenix: window shown"));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (!qEnvironmentVariableIsEmpty(kCloseChildVariable)) {
        QTranslator translator;
        installEnglishTranslation(app, translator);
        return runCloseChild();
    }
    TestThermography test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestThermography.moc"
