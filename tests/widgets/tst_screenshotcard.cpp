// The alarm list card read from picture names, and the picture viewer it
// opens: texts, badge and colours per name, the design-time texts for names
// it cannot read, the modal viewer that frees itself, and the viewer's
// title bar.
#include "widgets/QscreenshotDig.h"
#include "widgets/Qshowpicture.h"

#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {

const char* const kBlueBadge = "  QPushButton\n  {\n\t  color: rgb(255, 255, 255);\n\t  "
                               "background-color:rgb(28,175,233);\n\t  border:1px solid rgb(28,175,233);\n\t  "
                               "border-radius:10px;\n\t  font-size: 12px;}";
const char* const kRedBadge = "  QPushButton\n  {\n\t  color: rgb(255, 255, 255);\n\t  "
                              "background-color:rgb(233,52,28);\n\t  border:1px solid rgb(233,52,28);\n\t  "
                              "border-radius:10px;\n  font-size: 12px;}";
const char* const kWhiteText = "font-size: 16px;\nfont-weight: 400;\ntext-align: left;\ncolor: #ffffff;";
const char* const kRedText = "font-size: 16px;\nfont-weight: 400;\ntext-align: left;\ncolor: #F42F2F;";
const char* const kGreyDate = "font-size: 12px;\nfont-weight: 400;\ntext-align: left;\ncolor: #999999;";
const char* const kRedDate = "font-size: 12px;\nfont-weight: 400;\ntext-align: left;\ncolor: #AF2222;";
const char* const kFormTemperatureStyle
    = "width: 78px;\nheight: 15px;\nfont-size: 16px;\nfont-weight: 400;\ntext-align: left;\ncolor: #ffffff;\n";

// A side-by-side picture like the ones the preview writes.
bool writePicture(const QString& path)
{
    QImage image(1920, 540, QImage::Format_RGB32);
    image.fill(QColor(40, 60, 70));
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, 960, 540), QColor(90, 110, 120));
    painter.setBrush(QColor(230, 200, 170));
    painter.drawEllipse(QPoint(480, 270), 120, 165);
    painter.setBrush(QColor(250, 80, 30));
    painter.drawEllipse(QPoint(1440, 270), 120, 165);
    painter.end();
    return image.save(path, "JPG");
}

// The temperature half of writePicture's picture has a red face.
bool showsTheWarmFace(const QImage& shot)
{
    for (int y = 0; y < shot.height(); y += 2) {
        for (int x = 0; x < shot.width(); x += 2) {
            const QRgb p = shot.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) < 130 && qBlue(p) < 90)
                return true;
        }
    }
    return false;
}

struct Card {
    std::unique_ptr<QscreenshotDig> widget;
    QLabel* temperature = nullptr;
    QLabel* date = nullptr;
    QPushButton* badge = nullptr;
    QLabel* picture = nullptr;

    explicit Card(const QString& path)
        : widget(std::make_unique<QscreenshotDig>(path, path + ".temperature"))
    {
        temperature = widget->findChild<QLabel*>("temperaturelb");
        date = widget->findChild<QLabel*>("datelb");
        badge = widget->findChild<QPushButton*>("statebtn");
        picture = widget->findChild<QLabel*>("typelb");
    }
};

QList<Qshowpicture*> openViewers()
{
    QList<Qshowpicture*> viewers;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* viewer = qobject_cast<Qshowpicture*>(w))
            viewers.append(viewer);
    }
    return viewers;
}

void sendMouse(QWidget* w, QEvent::Type type, const QPoint& local, const QPoint& global)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace

class ScreenshotCardTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_artifacts;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_artifacts = qEnvironmentVariable("ARDENIX_BUILD_DIR", QDir::currentPath()) + "/artifacts";
        QVERIFY(QDir().mkpath(m_artifacts));
    }

    void cardReadsTheName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("temperature");
        QTest::addColumn<QString>("temperatureStyle");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("dateStyle");
        QTest::addColumn<QString>("badge");
        QTest::addColumn<QString>("badgeStyle");

        QTest::newRow("normal, Celsius") << "3-375-20200501083000-1-3.jpg" << QString::fromUtf8("测温：37.5℃")
                                         << kWhiteText << "2020-05-01 08:30:00" << kGreyDate
                                         << QString::fromUtf8("正常") << kBlueBadge;
        QTest::newRow("abnormal, Fahrenheit")
            << "3-375-20200501083000-2-1.jpg" << QString::fromUtf8("测温：99.50℉") << kRedText << "2020-05-01 08:30:00"
            << kRedDate << QString::fromUtf8("异常") << kRedBadge;
        QTest::newRow("unknown state keeps the badge, paints red")
            << "9-402-20231231235959-3-0.jpg" << QString::fromUtf8("测温：40.2℃") << kRedText << "2023-12-31 23:59:59"
            << kRedDate << QString::fromUtf8("正常") << kBlueBadge;
        QTest::newRow("short stamp keeps the design date")
            << "3-366-2020050108300-1-0.jpg" << QString::fromUtf8("测温：36.6℃") << kWhiteText << "2020-10-02  10:10:10"
            << kGreyDate << QString::fromUtf8("正常") << kBlueBadge;
        QTest::newRow("four fields keep every design text")
            << "375-20200501083000-2-1.jpg" << QString::fromUtf8("测温：37°") << kFormTemperatureStyle
            << "2020-10-02  10:10:10"
            << "" << QString::fromUtf8("正常") << kBlueBadge;
        QTest::newRow("six fields keep every design text")
            << "3-375-20200501083000-2-1-x.jpg" << QString::fromUtf8("测温：37°") << kFormTemperatureStyle
            << "2020-10-02  10:10:10"
            << "" << QString::fromUtf8("正常") << kBlueBadge;
    }

    // The files do not exist: a missing picture still gives a full card.
    void cardReadsTheName()
    {
        QFETCH(QString, name);
        QFETCH(QString, temperature);
        QFETCH(QString, temperatureStyle);
        QFETCH(QString, date);
        QFETCH(QString, dateStyle);
        QFETCH(QString, badge);
        QFETCH(QString, badgeStyle);

        Card card(m_dir.filePath("missing/") + name);
        QCOMPARE(card.temperature->text(), temperature);
        QCOMPARE(card.temperature->styleSheet(), temperatureStyle);
        QCOMPARE(card.date->text(), date);
        if (!dateStyle.isEmpty())
            QCOMPARE(card.date->styleSheet(), dateStyle);
        QCOMPARE(card.badge->text(), badge);
        QCOMPARE(card.badge->styleSheet(), badgeStyle);
        QVERIFY(card.picture->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(card.widget->findChild<QLabel*>("thermallb")->isHidden());
        QCOMPARE(card.widget->size(), QSize(243, 153));
    }

    void hoverDarkensTheCard()
    {
        Card card(m_dir.filePath("3-375-20200501083000-1-3.jpg"));
        auto* inner = card.widget->findChild<QWidget*>("widget");
        const QString rest = "QWidget#widget{\n\tbackground-color: rgb(39, 39, 39);\n}";
        QCOMPARE(inner->styleSheet(), rest);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(card.widget.get(), &enter);
        QCOMPARE(inner->styleSheet(), QString("QWidget#widget{\n\tbackground-color: rgb(27, 27, 27);\n}"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(card.widget.get(), &leave);
        QCOMPARE(inner->styleSheet(), rest);
    }

    void listOfCardsLooksRight()
    {
        // Shown in English over the list's dark background, as in the program.
        QTranslator english;
        QVERIFY(english.load(":/Thermography/thermography_en.qm"));
        QCoreApplication::installTranslator(&english);
        QWidget host;
        host.setObjectName("host");
        host.setStyleSheet("QWidget#host{background-color:#222627;}");
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        const QStringList names = { "3-375-20200501083000-1-0.jpg", "3-391-20200501083112-2-0.jpg",
            "3-368-20200501083245-1-1.jpg", "3-402-20200501083301-2-1.jpg" };
        QList<QscreenshotDig*> cards;
        for (const QString& name : names) {
            QVERIFY(writePicture(m_dir.filePath(name)));
            cards << new QscreenshotDig(m_dir.filePath(name), QString(), &host);
            layout->addWidget(cards.last());
        }
        host.resize(300, 4 * 153);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QTest::qWait(50);
        const QImage shot = host.grab().toImage();
        QVERIFY(shot.save(m_artifacts + "/card-list.png"));
        QCoreApplication::removeTranslator(&english);

        for (QscreenshotDig* card : cards) {
            // A card keeps its picture at the size it shows, not the
            // picture's own 1920 x 540: thirty cards cost kilobytes each.
            auto* picture = card->findChild<QLabel*>("typelb");
            QCOMPARE(picture->pixmap(Qt::ReturnByValue).size(), picture->size() * picture->devicePixelRatioF());
            const QRect area(picture->mapTo(&host, QPoint()), picture->size());
            QVERIFY(showsTheWarmFace(shot.copy(area)));
            // Texts in English fit their labels; red texts for abnormal people.
            auto* temperature = card->findChild<QLabel*>("temperaturelb");
            QVERIFY(temperature->text().startsWith("Temp:"));
            QVERIFY(temperature->fontMetrics().horizontalAdvance(temperature->text()) <= temperature->width());
            const bool abnormal = card->lensfilePath().contains("-2-");
            QCOMPARE(card->findChild<QPushButton*>("statebtn")->text(), abnormal ? "Abnormal" : "Normal");
        }
    }

    void doubleClickOpensOneModalViewer()
    {
        const QString path = m_dir.filePath("3-375-20200501083000-2-0.jpg");
        QVERIFY(writePicture(path));
        Card card(path);
        card.widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(card.widget.get()));
        QVERIFY(openViewers().isEmpty());

        QTranslator english;
        QVERIFY(english.load(":/Thermography/thermography_en.qm"));
        QCoreApplication::installTranslator(&english);
        QTest::mouseDClick(card.picture, Qt::LeftButton);
        QCoreApplication::removeTranslator(&english);
        const QList<Qshowpicture*> viewers = openViewers();
        QCOMPARE(viewers.size(), 1);
        QPointer<Qshowpicture> viewer = viewers.first();
        QVERIFY(QTest::qWaitForWindowExposed(viewer.data()));
        QCOMPARE(viewer->windowModality(), Qt::ApplicationModal);
        QCOMPARE(QApplication::activeModalWidget(), viewer.data());
        QVERIFY(viewer->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(viewer->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(viewer->width() >= 1024 && viewer->height() >= 500);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(viewer->pos(),
            QPoint(screen.x() + (screen.width() - viewer->width()) / 2,
                screen.y() + (screen.height() - viewer->height()) / 2));
        auto* picture = viewer->findChild<QLabel*>("typelb");
        QCOMPARE(picture->styleSheet(), QString("image: url(%1);\n").arg(path));
        QTest::qWait(50);
        QVERIFY(showsTheWarmFace(picture->grab().toImage()));
        QVERIFY(viewer->grab().save(m_artifacts + "/picture-viewer.png"));

        QTest::mouseClick(viewer->findChild<QPushButton*>("closebtn"), Qt::LeftButton);
        QTRY_VERIFY(viewer.isNull());
        QVERIFY(openViewers().isEmpty());
    }

    void viewerShowsPicturesInOddFolders()
    {
        // Blanks, brackets, quotes and semicolons do not upset the style sheet.
        QTemporaryDir spaced(m_dir.filePath("shots \"(copy)\";b XXXXXX"));
        const QString path = spaced.filePath("3-375-20200501083000-1-0.jpg");
        QVERIFY(writePicture(path));
        Qshowpicture viewer(path, QString());
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        QVERIFY(showsTheWarmFace(viewer.findChild<QLabel*>("typelb")->grab().toImage()));
        QCOMPARE(viewer.findChild<QLabel*>("typelb")->styleSheet(), QString("image: url(%1);\n").arg(path));
    }

    void viewerTitleBar()
    {
        Qshowpicture viewer { QString(), QString() };
        viewer.move(50, 40);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        auto* title = viewer.findChild<QWidget*>("titleWidget");
        auto* label = viewer.findChild<QLabel*>("titlelb");
        auto* maxbtn = viewer.findChild<QPushButton*>("maxbtn");
        auto* rebtn = viewer.findChild<QPushButton*>("rebtn");
        QVERIFY(maxbtn->isVisible());
        QVERIFY(!rebtn->isVisible());
        const QPoint start = viewer.pos();

        // The title label is no handle.
        QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, label->rect().center());
        const QPoint onLabel = label->geometry().center();
        sendMouse(title, QEvent::MouseMove, onLabel, title->mapToGlobal(onLabel) + QPoint(30, 30));
        QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, label->rect().center());
        QCOMPARE(viewer.pos(), start);

        // The empty bar is.
        const QPoint empty(title->width() / 2, title->height() / 2);
        QVERIFY(!title->childAt(empty));
        sendMouse(title, QEvent::MouseButtonPress, empty, title->mapToGlobal(empty));
        const QPoint target = title->mapToGlobal(empty) + QPoint(-20, 35);
        sendMouse(title, QEvent::MouseMove, empty, target);
        QCOMPARE(viewer.pos(), target - empty);
        sendMouse(title, QEvent::MouseButtonRelease, empty, target);

        // Maximised, the bar does not drag; a double click restores.
        QTest::mouseClick(maxbtn, Qt::LeftButton);
        QVERIFY(viewer.isMaximizedLook());
        QVERIFY(!maxbtn->isVisible());
        QVERIFY(rebtn->isVisible());
        const QPoint maximised = viewer.pos();
        sendMouse(title, QEvent::MouseButtonPress, empty, title->mapToGlobal(empty));
        sendMouse(title, QEvent::MouseMove, empty, title->mapToGlobal(empty) + QPoint(80, 80));
        sendMouse(title, QEvent::MouseButtonRelease, empty, title->mapToGlobal(empty) + QPoint(80, 80));
        QCOMPARE(viewer.pos(), maximised);
        QTest::mouseDClick(title, Qt::LeftButton, Qt::NoModifier, empty);
        QVERIFY(!viewer.isMaximizedLook());
        QVERIFY(maxbtn->isVisible());
        QVERIFY(!rebtn->isVisible());
        QTest::mouseDClick(title, Qt::LeftButton, Qt::NoModifier, empty);
        QVERIFY(viewer.isMaximizedLook());
        QTest::mouseClick(rebtn, Qt::LeftButton);
        QVERIFY(!viewer.isMaximizedLook());
    }
};

QTEST_MAIN(ScreenshotCardTest)
#include "tst_screenshotcard.moc"
