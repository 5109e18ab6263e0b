#include "widgets/QChartshowDig.h"

#include <QAction>
#include <QDebug>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QSplineSeries>
#include <QtCharts/QValueAxis>

using namespace QtCharts;

namespace {

const char* const backgroundColour = "#222627";
const char* const gridColour = "#313131";
const char* const labelColour = "#999999";
const char* const normalColour = "#1AA3D9";
const char* const abnormalColour = "#E9341C";
const char* const labelFontFamily = "微软雅黑";
constexpr int placeholderPoints = 4;
constexpr int initialHeadroom = 10;
constexpr int maxValueTicks = 5;

// Counts are whole numbers: ticks go in steps of 1, 2 or 5 times a power of
// ten, so every label is an integer and there are at most a handful of them.
int tickStep(int top)
{
    int step = 1;
    for (int guard = 0; guard < 10; ++guard) {
        for (int factor : { 1, 2, 5 }) {
            if (top <= static_cast<long long>(step) * factor * maxValueTicks)
                return step * factor;
        }
        step *= 10;
    }
    return step;
}

bool validIndex(int index)
{
    return index == QChartshowDig::Normal || index == QChartshowDig::Abnormal;
}

} // namespace

QChartshowDig::QChartshowDig(QWidget* parent)
    : QWidget(parent)
    , m_lines { nullptr, nullptr }
    , m_dots { nullptr, nullptr }
    , m_valueAxis(nullptr)
    , m_categoryAxis(nullptr)
    , m_chart(new QChart)
    , m_view(nullptr)
    , m_exportAction(nullptr)
    , m_largest(0)
{
    setStyleSheet(QStringLiteral("background-color:%1;").arg(QLatin1String(backgroundColour)));

    const QVector<int> placeholder(placeholderPoints, 0);
    makeSeriesPair(Normal, QColor(normalColour), tr("检测正常数"), placeholder);
    makeSeriesPair(Abnormal, QColor(abnormalColour), tr("检测异常数"), placeholder);

    m_chart->setBackgroundBrush(QBrush(QColor(backgroundColour), Qt::SolidPattern));
    // The panel is small on small screens: give the plot the room the
    // default chart margins would take.
    m_chart->setBackgroundRoundness(0);
    m_chart->setMargins(QMargins(6, 2, 10, 2));
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    m_chart->addSeries(m_lines[Normal]);
    m_chart->addSeries(m_lines[Abnormal]);
    m_chart->addSeries(m_dots[Normal]);
    m_chart->addSeries(m_dots[Abnormal]);

    m_valueAxis = new QValueAxis;
    m_valueAxis->setGridLineColor(QColor(gridColour));
    m_valueAxis->setLabelsColor(QColor(labelColour));
    m_valueAxis->setLabelFormat(QStringLiteral("%d"));
    m_valueAxis->setTickType(QValueAxis::TicksDynamic);
    m_valueAxis->setTickAnchor(0);
    setValueRange(m_largest + initialHeadroom);
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
    for (int i = 0; i < 2; ++i) {
        m_lines[i]->attachAxis(m_valueAxis);
        m_dots[i]->attachAxis(m_valueAxis);
    }

    QLegend* legend = m_chart->legend();
    QFont legendFont = legend->font();
    legendFont.setFamily(QString::fromUtf8(labelFontFamily));
    legend->setFont(legendFont);
    legend->setLabelColor(QColor(labelColour));
    legend->setVisible(true);
    // The dots repeat the lines' names; one legend entry per count is enough.
    const QList<QLegendMarker*> markers = legend->markers();
    for (int i = 2; i < markers.size(); ++i)
        markers.at(i)->setVisible(false);

    // The view owns the chart from here on.
    m_view = new QChartView(m_chart, this);
    m_view->setRenderHint(QPainter::Antialiasing);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    m_exportAction = new QAction(tr("导出CSV…"), this);
    m_exportAction->setObjectName(QStringLiteral("exportAction"));
    connect(m_exportAction, &QAction::triggered, this, &QChartshowDig::sigExportRequested);
    // The view covers the whole panel and would keep the request to itself.
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& pos) { showContextMenu(m_view->viewport()->mapToGlobal(pos)); });
}

void QChartshowDig::showContextMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    menu.addAction(m_exportAction);
    menu.exec(globalPos);
}

QChartshowDig::~QChartshowDig() = default;

QSplineSeries* QChartshowDig::lineSeries(int index) const
{
    return validIndex(index) ? m_lines[index] : nullptr;
}

QScatterSeries* QChartshowDig::dotSeries(int index) const
{
    return validIndex(index) ? m_dots[index] : nullptr;
}

void QChartshowDig::makeSeriesPair(int index, const QColor& colour, const QString& name, const QVector<int>& values)
{
    auto* line = new QSplineSeries;
    line->setPen(QPen(QBrush(colour), 3, Qt::SolidLine));
    line->setName(name);
    line->setVisible(true);
    line->setPointLabelsVisible(true);
    line->setPointLabelsColor(QColor(labelColour));
    QFont pointFont = line->pointLabelsFont();
    pointFont.setFamily(QString::fromUtf8(labelFontFamily));
    line->setPointLabelsFont(pointFont);
    line->setPointLabelsFormat(QStringLiteral("@yPoint"));
    line->setPointLabelsClipping(false);
    connect(line, &QSplineSeries::hovered, this, &QChartshowDig::slotPointHoverd);

    auto* dots = new QScatterSeries;
    dots->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    dots->setMarkerSize(5);
    dots->setPen(QPen(colour));
    dots->setBrush(QBrush(colour));
    dots->setName(name);

    m_lines[index] = line;
    m_dots[index] = dots;
    fillSeriesPair(index, values);
}

void QChartshowDig::fillSeriesPair(int index, const QVector<int>& values)
{
    QVector<QPointF> points;
    points.reserve(values.size());
    for (int i = 0; i < values.size(); ++i) {
        points.append(QPointF(i + 1, values.at(i)));
        m_largest = qMax(m_largest, values.at(i));
    }
    // One replace instead of many appends: the chart relays out once.
    m_lines[index]->replace(points);
    m_dots[index]->replace(points);
}

void QChartshowDig::setXLabels(const QStringList& labels)
{
    if (m_categoryAxis) {
        for (int i = 0; i < 2; ++i) {
            m_lines[i]->detachAxis(m_categoryAxis);
            m_dots[i]->detachAxis(m_categoryAxis);
        }
        m_chart->removeAxis(m_categoryAxis);
        delete m_categoryAxis;
        m_categoryAxis = nullptr;
    }

    auto* axis = new QCategoryAxis;
    axis->setLabelsColor(QColor(labelColour));
    axis->setRange(0, labels.size() + 1);
    axis->setGridLineVisible(false);
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (int i = 0; i < labels.size(); ++i)
        axis->append(labels.at(i), i + 1);

    m_chart->addAxis(axis, Qt::AlignBottom);
    for (int i = 0; i < 2; ++i) {
        m_lines[i]->attachAxis(axis);
        m_dots[i]->attachAxis(axis);
    }
    m_categoryAxis = axis;
}

void QChartshowDig::setSeriesData(const QVector<int>& values, int index)
{
    if (!validIndex(index)) {
        qDebug() << "QChartshowDig: no series" << index;
        return;
    }
    if (index == Normal)
        m_largest = 0;
    fillSeriesPair(index, values);
    setValueRange(m_largest + (m_largest / 10 + 1) * 3);
}

void QChartshowDig::setValueRange(int top)
{
    m_valueAxis->setRange(0, top);
    m_valueAxis->setTickInterval(tickStep(top));
}

void QChartshowDig::slotPointHoverd(const QPointF& point, bool state)
{
    Q_UNUSED(point)
    Q_UNUSED(state)
}
