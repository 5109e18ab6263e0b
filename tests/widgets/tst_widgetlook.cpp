#include "widgets/ITButton.h"
#include "widgets/QChartshowDig.h"
#include "widgets/QtipDig.h"
#include "widgets/Qdisplay.h"
#include "widgets/deviceshowDig.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

// Renders each widget as the program shows it, writes the pictures to
// <build>/artifacts for a person to look at, and checks what each picture
// must show: the colours of its parts where they belong, texts not cut.
class WidgetLookTest : public QObject {
    Q_OBJECT

private:
    QString m_dir;
    QTranslator m_translator;
    QImage m_shot;

    // Pixels of the region within a small distance of the colour.
    static int count(const QImage& image, const QRect& region, const QColor& colour, int tolerance = 24)
    {
        int n = 0;
        const QRect area = region.intersected(image.rect());
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor p = image.pixelColor(x, y);
                if (qAbs(p.red() - colour.red()) <= tolerance && qAbs(p.green() - colour.green()) <= tolerance
                    && qAbs(p.blue() - colour.blue()) <= tolerance)
                    ++n;
            }
        }
        return n;
    }

    // Where w lies in the picture of host.
    static QRect in(QWidget* host, QWidget* w) { return QRect(w->mapTo(host, QPoint()), w->size()); }

    // The text fits its label, in the label's own font.
    static bool fits(const QLabel* label)
    {
        return label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width();
    }

    void save(QWidget* w, const QString& name)
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::qWait(300); // the overlay's face-frame check runs every 100 ms
        m_shot = w->grab().toImage();
        QVERIFY(m_shot.save(m_dir + "/" + name + ".png"));
    }

    // The widgets are drawn over the program's dark window colour.
    static QWidget* darkHost()
    {
        auto* host = new QWidget;
        host->setStyleSheet("background-color:#222627;");
        return host;
    }

private slots:
    void initTestCase()
    {
        const QString build = qEnvironmentVariable("ARDENIX_BUILD_DIR", QDir::currentPath());
        m_dir = build + "/artifacts";
        QVERIFY(QDir().mkpath(m_dir));
        QVERIFY(m_translator.load(":/Thermography/thermography_en.qm"));
        QCoreApplication::installTranslator(&m_translator);
    }

    void chart()
    {
        QChartshowDig chart;
        chart.resize(520, 260);
        chart.setXLabels({ "05-01", "05-02", "05-03", "05-04", "05-05", "05-06", "05-07" });
        chart.setSeriesData({ 14, 22, 9, 31, 18, 25, 12 }, 0);
        chart.setSeriesData({ 1, 0, 2, 4, 0, 1, 3 }, 1);
        save(&chart, "widget-chart");
        // Both series are drawn, in their colours, over the window's dark.
        const QColor normal("#1AA3D9");
        const QColor abnormal("#E9341C");
        QVERIFY(count(m_shot, m_shot.rect(), normal) > 100);
        QVERIFY(count(m_shot, m_shot.rect(), abnormal) > 100);
        QVERIFY(count(m_shot, m_shot.rect(), QColor("#222627"), 4) > m_shot.width() * m_shot.height() / 2);
        // Small screens give the chart only 200 px of height.
        chart.resize(420, 200);
        save(&chart, "widget-chart-small");
        QVERIFY(count(m_shot, m_shot.rect(), normal) > 50);
        QVERIFY(count(m_shot, m_shot.rect(), abnormal) > 50);
    }

    void overlay()
    {
        std::unique_ptr<QWidget> host(darkHost());
        host->resize(800, 490);
        auto* layout = new QHBoxLayout(host.get());
        layout->setContentsMargins(0, 0, 0, 0);
        auto* connected = new deviceshowDig(host.get());
        connected->showConnected(false);
        layout->addWidget(connected);
        save(host.get(), "widget-overlay-face");
        // The blue face frame, in the middle, and no text.
        const QColor frame("#1CAFE9");
        const QColor text("#fefefe");
        const QRect middle(host->width() / 4, 0, host->width() / 2, host->height());
        QVERIFY(count(m_shot, middle, frame) > 200);
        QCOMPARE(count(m_shot, m_shot.rect(), frame), count(m_shot, middle, frame));
        QCOMPARE(count(m_shot, m_shot.rect(), text, 8), 0);

        connected->showDisconnected(false);
        save(host.get(), "widget-overlay-disconnected");
        // The white "Disconnected" text, whole, and no frame.
        auto* caption = connected->findChild<QLabel*>("label");
        QCOMPARE(caption->text(), QString("Disconnect"));
        QVERIFY(fits(caption));
        QVERIFY(count(m_shot, in(host.get(), caption), text, 8) > 100);
        QCOMPARE(count(m_shot, m_shot.rect(), frame), 0);
    }

    void tips()
    {
        std::unique_ptr<QWidget> host(darkHost());
        host->resize(640, 200);
        auto* plain = new QtipDig(host.get());
        plain->setMessage(QStringLiteral("Please select a device"), false);
        plain->move((host->width() - plain->width()) / 2, 30);
        auto* alarm = new QtipDig(host.get());
        alarm->setMessage(QStringLiteral("Abnormal temperature 38.6℃"), true);
        alarm->move((host->width() - alarm->width()) / 2, 110);
        save(host.get(), "widget-tips");
        // White text on each box, whole; the red mark on the alarm's only.
        const QColor white(255, 255, 255);
        const QColor red("#E9341C");
        QVERIFY(fits(plain->findChild<QLabel*>("label")));
        QVERIFY(fits(alarm->findChild<QLabel*>("labeltip")));
        QVERIFY(count(m_shot, in(host.get(), plain), white, 40) > 50);
        QVERIFY(count(m_shot, in(host.get(), alarm), white, 40) > 50);
        QCOMPARE(count(m_shot, in(host.get(), plain), red, 40), 0);
        QVERIFY(count(m_shot, in(host.get(), alarm), red, 40) > 20);
    }

    void buttonsAndDisplay()
    {
        std::unique_ptr<QWidget> host(darkHost());
        auto* layout = new QVBoxLayout(host.get());
        auto* row = new QHBoxLayout;
        const QStringList icons { "icon_screenshot", "icon_openvoice", "drawable-mdpi_icon_invert", "icon_disconnect",
            "icon_file" };
        const QStringList texts { "Screenshot", "Voice", "Flip", "Disconnect", "Folder" };
        for (int i = 0; i < icons.size(); ++i) {
            auto* button = new QKvWidget::ITButton(host.get());
            QVERIFY(button->addIcon(":/Thermography/Resources/" + icons.at(i) + ".png"));
            button->setRadius(6);
            button->setColorSet(
                QColor("#1CAFE9"), QColor("#2EB4E9"), QColor("#1BA7DE"), QColor("#1CAFE9"), QColor("#FFFFFF"));
            button->setText(texts.at(i));
            button->setMinimumHeight(36);
            button->setEnabled(i != 3);
            row->addWidget(button);
        }
        layout->addLayout(row);
        auto* displays = new QHBoxLayout;
        auto* today = new Qdisplay(host.get());
        today->setCaption("Today");
        today->setValue(131);
        auto* abnormal = new Qdisplay(host.get());
        abnormal->setCaption("Abnormal");
        abnormal->setValue(4);
        abnormal->setValueColor(QColor("#E9341C"));
        displays->addWidget(today);
        displays->addWidget(abnormal);
        layout->addLayout(displays);
        QTest::qWait(ITButtonFadeWait);
        save(host.get(), "widget-buttons");
        // Each button in its blue box, the disabled one faded; the counts
        // in their colours.
        const QColor blue("#1CAFE9");
        const auto buttons = host->findChildren<QKvWidget::ITButton*>();
        QCOMPARE(buttons.size(), 5);
        for (QKvWidget::ITButton* button : buttons) {
            const int inBlue = count(m_shot, in(host.get(), button), blue, 6);
            const int area = button->width() * button->height();
            if (button->isEnabled())
                QVERIFY2(inBlue > area / 3, qPrintable(button->text()));
            else
                QVERIFY2(inBlue < area / 10, qPrintable(button->text()));
        }
        QVERIFY(count(m_shot, in(host.get(), abnormal), QColor("#E9341C")) > 30);
        QCOMPARE(count(m_shot, in(host.get(), today), QColor("#E9341C")), 0);
    }

private:
    static constexpr int ITButtonFadeWait = QKvWidget::ITButton::FadeMs * 2;
};

QTEST_MAIN(WidgetLookTest)
#include "tst_widgetlook.moc"
