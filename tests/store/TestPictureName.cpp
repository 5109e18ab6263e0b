// Reading the fields of alarm picture names, as the store and the alarm list
// card both do.
#include "store/PictureName.h"

#include <QtTest>

class TestPictureName : public QObject {
    Q_OBJECT

private slots:
    void fields_data();
    void fields();
};

void TestPictureName::fields_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("dateTime");

    QTest::newRow("normal in Celsius") << "C:/Screenshot/2020-05-01/3-375-20200501083000-1-3.jpg" << true << 37.5 << 1
                                       << 3 << "2020-05-01 08:30:00";
    QTest::newRow("abnormal in Fahrenheit")
        << "/s/3-375-20200501083000-2-1.jpg" << true << 37.5 << 2 << 1 << "2020-05-01 08:30:00";
    QTest::newRow("no folder") << "7-402-20241231235959-2-0.jpg" << true << 40.2 << 2 << 0 << "2024-12-31 23:59:59";
    QTest::newRow("short stamp") << "/s/3-375-2020050108300-1-0.jpg" << true << 37.5 << 1 << 0 << "";
    QTest::newRow("junk fields") << "/s/x-abc-20200501083000-y-.jpg" << true << 0.0 << 0 << 0 << "2020-05-01 08:30:00";
    QTest::newRow("empty fields") << "----" << true << 0.0 << 0 << 0 << "";
    QTest::newRow("four fields") << "/s/375-20200501083000-1-3.jpg" << false << 0.0 << 0 << 0 << "";
    QTest::newRow("six fields") << "/s/3-375-20200501083000-1-3-x.jpg" << false << 0.0 << 0 << 0 << "";
    QTest::newRow("dashes in the folder") << "/a-b-c-d/e.jpg" << false << 0.0 << 0 << 0 << "";
    QTest::newRow("trailing slash") << "/s/3-375-20200501083000-1-3.jpg/" << false << 0.0 << 0 << 0 << "";
    QTest::newRow("empty") << "" << false << 0.0 << 0 << 0 << "";
}

void TestPictureName::fields()
{
    QFETCH(QString, path);
    QFETCH(bool, valid);
    QFETCH(double, celsius);
    QFETCH(int, state);
    QFETCH(int, unit);
    QFETCH(QString, dateTime);

    const PictureName name = PictureName::parse(path);
    QCOMPARE(name.valid, valid);
    if (!valid)
        return;
    QCOMPARE(name.celsius(), celsius);
    QCOMPARE(name.stateCode(), state);
    QCOMPARE(name.unitDigit(), unit);
    QCOMPARE(name.dateTime(), dateTime);
    QCOMPARE(name.day(), dateTime.left(10));
    QCOMPARE(name.hasStamp(), !dateTime.isEmpty());
}

QTEST_APPLESS_MAIN(TestPictureName)
#include "TestPictureName.moc"
