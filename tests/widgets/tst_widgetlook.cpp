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

// Renders each widget as the program shows it and writes the pictures to
// <build>/artifacts for a person to look at. It asserts only that each
// picture is not blank: the look itself is judged by eye.
class WidgetLookTest : public QObject {
    Q_OBJECT

private:
    QString m_dir;
    QTranslator m_translator;

    static bool hasSeveralColours(const QImage& image)
    {
        const QRgb first = image.pixel(0, 0);
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) {
                if (image.pixel(x, y) != first)
                    return true;
            }
        }
        return false;
    }

    void save(QWidget* w, const QString& name)
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::qWait(300); // the overlay's face-frame check runs every 100 ms
        const QImage image = w->grab().toImage();
        QVERIFY(hasSeveralColours(image));
        QVERIFY(image.save(m_dir + "/" + name + ".png"));
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
        // Small screens give the chart only 200 px of height.
        chart.resize(420, 200);
        save(&chart, "widget-chart-small");
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

        connected->showDisconnected(false);
        save(host.get(), "widget-overlay-disconnected");
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
    }

private:
    static constexpr int ITButtonFadeWait = QKvWidget::ITButton::FadeMs * 2;
};

QTEST_MAIN(WidgetLookTest)
#include "tst_widgetlook.moc"
