#include "widgets/QChartshowDig.h"

#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QSplineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest>

using namespace QtCharts;

namespace {

QVector<qreal> ys(const QXYSeries* series)
{
    QVector<qreal> out;
    for (const QPointF& p : series->pointsVector())
        out.append(p.y());
    return out;
}

QVector<qreal> xs(const QXYSeries* series)
{
    QVector<qreal> out;
    for (const QPointF& p : series->pointsVector())
        out.append(p.x());
    return out;
}

const QStringList week { "05-01", "05-02", "05-03", "05-04", "05-05", "05-06", "05-07" };

} // namespace

class ChartShowTest : public QObject {
    Q_OBJECT

private slots:
    void beforeAnyData()
    {
        QChartshowDig chart;
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        QCOMPARE(chart.valueAxis()->min(), 0.0);
        QCOMPARE(chart.valueAxis()->max(), 10.0);
        QVERIFY(!chart.categoryAxis());
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(ys(chart.lineSeries(i)), QVector<qreal>(4, 0.0));
            QCOMPARE(ys(chart.dotSeries(i)), QVector<qreal>(4, 0.0));
        }
        // Two legend entries: the dot series repeat the line names.
        QLegend* legend = chart.chart()->legend();
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(legend->markers(chart.lineSeries(i)).size(), 1);
            QVERIFY(legend->markers(chart.lineSeries(i)).first()->isVisible());
            QCOMPARE(legend->markers(chart.dotSeries(i)).size(), 1);
            QVERIFY(!legend->markers(chart.dotSeries(i)).first()->isVisible());
        }
    }

    void labelsSpanTheDays()
    {
        QChartshowDig chart;
        chart.setXLabels(week);
        QCategoryAxis* axis = chart.categoryAxis();
        QVERIFY(axis);
        QCOMPARE(axis->min(), 0.0);
        QCOMPARE(axis->max(), 8.0);
        QCOMPARE(axis->categoriesLabels(), week);
        for (int i = 0; i < week.size(); ++i)
            QCOMPARE(axis->endValue(week.at(i)), qreal(i + 1));

        // A new day replaces the axis instead of adding a second one.
        QStringList next = week.mid(1);
        next << "05-08";
        chart.setXLabels(next);
        QCOMPARE(chart.chart()->axes(Qt::Horizontal).size(), 1);
        QCOMPARE(chart.categoryAxis()->categoriesLabels(), next);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(chart.lineSeries(i)->attachedAxes().size(), 2);
            QCOMPARE(chart.dotSeries(i)->attachedAxes().size(), 2);
        }
    }

    void valueAxisHeadroom_data()
    {
        QTest::addColumn<QVector<int>>("normal");
        QTest::addColumn<QVector<int>>("abnormal");
        QTest::addColumn<qreal>("top");
        const QVector<int> zeros(7, 0);
        QTest::newRow("all zeros") << zeros << zeros << qreal(3);
        // Headroom is three steps per started ten: top = largest + (largest / 10 + 1) * 3.
        QTest::newRow("largest 9") << QVector<int> { 9, 0, 0, 0, 0, 0, 0 } << zeros << qreal(12);
        QTest::newRow("largest 10") << QVector<int> { 10, 0, 0, 0, 0, 0, 0 } << zeros << qreal(16);
        QTest::newRow("largest 95") << zeros << QVector<int> { 0, 95, 0, 0, 0, 0, 0 } << qreal(125);
        QTest::newRow("one busy day") << QVector<int> { 0, 0, 3, 1, 0, 0, 12 } << zeros << qreal(18);
        QTest::newRow("abnormal above normal")
            << QVector<int> { 5, 5, 5, 5, 5, 5, 5 } << QVector<int> { 0, 0, 20, 0, 0, 0, 0 } << qreal(29);
    }

    void valueAxisHeadroom()
    {
        QFETCH(QVector<int>, normal);
        QFETCH(QVector<int>, abnormal);
        QFETCH(qreal, top);
        QChartshowDig chart;
        chart.setXLabels(week);
        chart.setSeriesData(normal, 0);
        chart.setSeriesData(abnormal, 1);
        QCOMPARE(chart.valueAxis()->min(), 0.0);
        QCOMPARE(chart.valueAxis()->max(), top);
        // Whole-number ticks, a handful of them, whatever the top.
        const qreal step = chart.valueAxis()->tickInterval();
        QVERIFY(step >= 1.0 && step == qFloor(step));
        QVERIFY(top / step <= 5.0);
    }

    void seriesSitUnderTheirLabels()
    {
        QChartshowDig chart;
        chart.setXLabels(week);
        const QVector<int> normal { 0, 0, 3, 1, 0, 0, 12 };
        const QVector<int> abnormal { 1, 0, 0, 0, 0, 2, 0 };
        chart.setSeriesData(normal, 0);
        chart.setSeriesData(abnormal, 1);
        const QVector<qreal> days { 1, 2, 3, 4, 5, 6, 7 };
        QCOMPARE(xs(chart.lineSeries(0)), days);
        QCOMPARE(xs(chart.dotSeries(1)), days);
        QCOMPARE(ys(chart.lineSeries(0)), (QVector<qreal> { 0, 0, 3, 1, 0, 0, 12 }));
        QCOMPARE(ys(chart.dotSeries(0)), ys(chart.lineSeries(0)));
        QCOMPARE(ys(chart.lineSeries(1)), (QVector<qreal> { 1, 0, 0, 0, 0, 2, 0 }));
        QCOMPARE(ys(chart.dotSeries(1)), ys(chart.lineSeries(1)));
        QCOMPARE(chart.lineSeries(0)->pointLabelsFormat(), QStringLiteral("@yPoint"));
        QVERIFY(chart.lineSeries(0)->pointLabelsVisible());
    }

    void refreshingShrinksTheAxisAgain()
    {
        // After a reset the counts drop; the axis must follow them down,
        // which only works because index 0 restarts the largest value.
        QChartshowDig chart;
        chart.setSeriesData(QVector<int> { 0, 0, 0, 0, 0, 0, 95 }, 0);
        chart.setSeriesData(QVector<int>(7, 0), 1);
        QCOMPARE(chart.valueAxis()->max(), 125.0);
        chart.setSeriesData(QVector<int>(7, 0), 0);
        chart.setSeriesData(QVector<int>(7, 0), 1);
        QCOMPARE(chart.valueAxis()->max(), 3.0);
        QCOMPARE(chart.largestValue(), 0);
    }

    void unknownSeriesIndexIsIgnored()
    {
        QChartshowDig chart;
        chart.setSeriesData(QVector<int> { 4, 5 }, 0);
        chart.setSeriesData(QVector<int> { 7 }, 2);
        chart.setSeriesData(QVector<int> { 7 }, -1);
        QCOMPARE(ys(chart.lineSeries(0)), (QVector<qreal> { 4, 5 }));
        QCOMPARE(ys(chart.lineSeries(1)), QVector<qreal>(4, 0.0));
        QCOMPARE(chart.valueAxis()->max(), 8.0);
        QVERIFY(!chart.lineSeries(2));
    }
};

QTEST_MAIN(ChartShowTest)
#include "tst_chartshow.moc"
