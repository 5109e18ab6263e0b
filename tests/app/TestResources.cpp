// The compiled resource tree: every image, sound and translation the program
// asks for is there and readable, and every text of the main window's form
// has its English.
#include "app/Startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtEndian>
#include <QtTest>

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void imagesLoad_data();
    void imagesLoad();
    void windowIconHoldsSeveralSizes();
    void searchingIsAnimated();
    void alarmSoundIsAShortAudibleTone();
    void translationHoldsTheTexts_data();
    void translationHoldsTheTexts();
    void everyFormTextIsTranslated();
};

void TestResources::imagesLoad_data()
{
    QTest::addColumn<QString>("name");
    const char* const names[]
        = { "icon_add.png", "icon_set.png", "icon_update.png", "icon_disconnect.png", "icon_screenshot.png",
              "icon_file.png", "icon_closevoice.png", "icon_openvoice.png", "drawable-mdpi_icon_invert.png",
              "icon_faceframe.png", "icon_abnormal.png", "common_btn_min.png", "hover_common_btn_min.png",
              "common_btn_max.png", "hover_common_btn_max.png", "common_btn_nor.png", "hover_common_btn_nor.png",
              "common_btn_close.png", "hover_common_btn_close.png", "ardenix.ico", "searching.gif" };
    for (const char* name : names)
        QTest::newRow(name) << QString(":/Thermography/Resources/%1").arg(name);
}

void TestResources::imagesLoad()
{
    QFETCH(QString, name);
    QImage image(name);
    QVERIFY2(!image.isNull(), qPrintable(name));
    QVERIFY(image.width() >= 16 && image.height() >= 16);
    // A drawing that rendered to nothing would be fully transparent.
    bool painted = false;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height() && !painted; ++y) {
        for (int x = 0; x < argb.width() && !painted; ++x)
            painted = qAlpha(argb.pixel(x, y)) > 0;
    }
    QVERIFY2(painted, qPrintable(name));
}

void TestResources::windowIconHoldsSeveralSizes()
{
    QImageReader reader(":/Thermography/Resources/ardenix.ico");
    QVERIFY(reader.canRead());
    QVERIFY(reader.imageCount() >= 4);
}

void TestResources::searchingIsAnimated()
{
    QImageReader reader(":/Thermography/Resources/searching.gif");
    QVERIFY(reader.supportsAnimation());
    QVERIFY(reader.imageCount() >= 8);
    QVERIFY(reader.nextImageDelay() > 0);
}

void TestResources::alarmSoundIsAShortAudibleTone()
{
    QFile file(":/Thermography/Resources/Alarm.wav");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    QVERIFY(wav.size() > 44);
    QCOMPARE(wav.left(4), QByteArray("RIFF"));
    QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
    const auto* bytes = reinterpret_cast<const uchar*>(wav.constData());
    QCOMPARE(qFromLittleEndian<quint16>(bytes + 20), quint16(1)); // PCM
    QCOMPARE(qFromLittleEndian<quint16>(bytes + 34), quint16(16));
    const quint32 rate = qFromLittleEndian<quint32>(bytes + 24);
    const quint32 dataBytes = qFromLittleEndian<quint32>(bytes + 40);
    QCOMPARE(int(dataBytes), wav.size() - 44);
    const double seconds = double(dataBytes) / 2.0 / rate;
    QVERIFY(seconds >= 0.3 && seconds <= 3.0);

    int peak = 0;
    for (int i = 44; i + 1 < wav.size(); i += 2)
        peak = qMax(peak, qAbs(int(qFromLittleEndian<qint16>(bytes + i))));
    QVERIFY(peak > 16000);
    QVERIFY(peak < 32767); // loud but not clipped
}

void TestResources::translationHoldsTheTexts_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("english");
    QTest::newRow("form title") << "ThermographyClass"
                                << "智能测温系统"
                                << "Temperature measurement system";
    QTest::newRow("misspelt caption") << "ThermographyClass"
                                      << "今日测温人数"
                                      << "Tested pepole today";
    QTest::newRow("code title") << "Thermography"
                                << "Ardenix system %1"
                                << "Ardenix system %1";
    QTest::newRow("low disk tip") << "Thermography"
                                  << "磁盘空间不足"
                                  << "Disk space low";
    QTest::newRow("unit question") << "Thermography"
                                   << "确定切换温度单位为华氏度吗？"
                                   << "Change to Fahrenheit?";
    QTest::newRow("reset warning") << "resetdataDig"
                                   << "(切换为华氏度可能存在±0.1℉误差)"
                                   << "(Changement make ±0.1℉ Error )";
    QTest::newRow("settings range") << "QSetupDig"
                                    << "温度不在区间内"
                                    << "Not in temperautre range";
    QTest::newRow("chart series") << "QChartshowDig"
                                  << "检测异常数"
                                  << "Abnormal number";
    QTest::newRow("card") << "QscreenshotDig"
                          << "测温：%1℉"
                          << "Temp:%1℉";
    QTest::newRow("viewer") << "Qshowpicture"
                            << "查看图片"
                            << "Check photos";
    QTest::newRow("overlay") << "deviceshowDig"
                             << "断开连接"
                             << "Disconnect";
    QTest::newRow("password hint") << "QadddeviceDig"
                                   << "请输入密码"
                                   << "enter password";
}

void TestResources::translationHoldsTheTexts()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, english);
    QTranslator translator;
    QVERIFY(installEnglishTranslation(*QCoreApplication::instance(), translator));
    QCOMPARE(QCoreApplication::translate(context.toUtf8().constData(), source.toUtf8().constData()), english);
    QCoreApplication::removeTranslator(&translator);
}

// Walks the program's form files and asks the translation for each text
// shown to the operator, in the form's own context, so that a caption added
// to a form cannot go out untranslated.
void TestResources::everyFormTextIsTranslated()
{
    QTranslator translator;
    QVERIFY(translator.load(":/Thermography/thermography_en.qm"));
    const QString source = qEnvironmentVariable("ARDENIX_SOURCE_DIR");
    QStringList forms;
    for (const char* folder : { "app", "widgets" }) {
        QDirIterator it(source + "/" + folder, QStringList { "*.ui" }, QDir::Files);
        while (it.hasNext())
            forms.append(it.next());
    }
    QVERIFY(forms.size() >= 1);

    int checked = 0;
    for (const QString& path : forms) {
        QFile form(path);
        QVERIFY2(form.open(QIODevice::ReadOnly), qPrintable(path));
        QXmlStreamReader xml(&form);
        QByteArray context;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("class") && context.isEmpty()) {
                context = xml.readElementText().toUtf8();
                continue;
            }
            if (xml.name() != QLatin1String("string"))
                continue;
            const bool translatable = xml.attributes().value("notr") != QLatin1String("true");
            const QString text = xml.readElementText();
            if (!translatable || text.isEmpty())
                continue;
            const QString english = translator.translate(context.constData(), text.toUtf8().constData());
            QVERIFY2(!english.isEmpty(), qPrintable(QString("%1: no English for \"%2\"").arg(path, text)));
            ++checked;
        }
        QVERIFY2(!xml.hasError(), qPrintable(path));
    }
    QVERIFY(checked >= 20);
}

QTEST_GUILESS_MAIN(TestResources)
#include "TestResources.moc"
