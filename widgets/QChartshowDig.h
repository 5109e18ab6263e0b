// QChartshowDig draws the counts of normal and abnormal people of the last
// seven days as two smooth lines with dots and labelled points, with day
// labels along the bottom. Its context menu offers "Export CSV…", which it
// only announces (sigExportRequested): the owner knows where the figures
// live. GUI thread.
#pragma once

#include <QPointF>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <QtCharts/QChartGlobal>

class QAction;

QT_CHARTS_BEGIN_NAMESPACE
class QCategoryAxis;
class QChart;
class QChartView;
class QScatterSeries;
class QSplineSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

class QChartshowDig : public QWidget {
    Q_OBJECT

public:
    enum SeriesIndex { Normal = 0, Abnormal = 1 };

    explicit QChartshowDig(QWidget* parent = nullptr);
    ~QChartshowDig() override;

    // Replaces the day labels; label i sits under x = i + 1.
    void setXLabels(const QStringList& labels);
    // Replaces the points of one series pair and rescales the value axis.
    // Index 0 restarts the largest value, so set index 0 before index 1.
    // Any other index is ignored.
    void setSeriesData(const QVector<int>& values, int index);

    QtCharts::QChart* chart() const { return m_chart; }
    QtCharts::QValueAxis* valueAxis() const { return m_valueAxis; }
    // Null until the first labels arrive.
    QtCharts::QCategoryAxis* categoryAxis() const { return m_categoryAxis; }
    QtCharts::QSplineSeries* lineSeries(int index) const;
    QtCharts::QScatterSeries* dotSeries(int index) const;
    int largestValue() const { return m_largest; }
    // The context menu's export entry.
    QAction* exportAction() const { return m_exportAction; }

signals:
    void sigExportRequested();

public slots:
    void slotPointHoverd(const QPointF& point, bool state);

private:
    void makeSeriesPair(int index, const QColor& colour, const QString& name, const QVector<int>& values);
    void fillSeriesPair(int index, const QVector<int>& values);
    void setValueRange(int top);
    void showContextMenu(const QPoint& globalPos);

    QtCharts::QSplineSeries* m_lines[2];
    QtCharts::QScatterSeries* m_dots[2];
    QtCharts::QValueAxis* m_valueAxis;
    QtCharts::QCategoryAxis* m_categoryAxis;
    QtCharts::QChart* m_chart;
    QtCharts::QChartView* m_view;
    QAction* m_exportAction;
    int m_largest;
};
