#include "ui/qt/chartview.h"

#include "ui/qt/textedge.h"

#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace ui {

ChartView::ChartView(const ControlDef& def, QWidget* parent)
    : QChartView(parent), m_chart(new QChart), m_time(new QDateTimeAxis), m_value(new QValueAxis),
      m_lost(new QScatterSeries), m_span(def.spanSeconds) {
    m_chart->setTitle(textedge::toQt(def.label));
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTickCount(5);
    m_value->setLabelFormat(QStringLiteral("%.1f"));
    m_value->setRange(0, m_top);
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_value, Qt::AlignLeft);
    m_lost->setName(QStringLiteral("lost"));
    m_lost->setMarkerSize(7);
    m_lost->setColor(Qt::red);
    m_chart->addSeries(m_lost);
    m_lost->attachAxis(m_time);
    m_lost->attachAxis(m_value);
    setChart(m_chart);
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(160);
}

QLineSeries* ChartView::series(int number, const std::string& name) {
    auto it = m_series.find(number);
    if (it != m_series.end()) return it->second;
    auto* line = new QLineSeries;
    line->setName(textedge::toQt(name));
    line->setPointsVisible(true);
    m_chart->addSeries(line);
    line->attachAxis(m_time);
    line->attachAxis(m_value);
    const QString label = line->name();
    QObject::connect(line, &QLineSeries::hovered, this,
                     [this, label](const QPointF& p, bool on) { showPoint(label, p, on); });
    m_series[number] = line;
    return line;
}

void ChartView::trim(QXYSeries* s, double from) {
    int old = 0;
    while (old < s->count() && s->at(old).x() < from)
        ++old;
    if (old > 0) s->removePoints(0, old);
}

void ChartView::addSample(const Sample& sample, const std::string& seriesName) {
    const double at = sample.time * 1000;
    if (sample.lost) {
        m_lost->append(at, 0);
    } else {
        series(sample.series, seriesName)->append(at, sample.value);
        m_top = std::max(m_top, sample.value * 1.1);
    }
    // The span reaches back from the newest sample; older points go.
    const double from = at - m_span * 1000;
    if (m_first == 0 || m_first < from) {
        m_first = m_first == 0 ? at : from;
        for (auto& [number, line] : m_series)
            trim(line, from);
        trim(m_lost, from);
    }
    m_time->setRange(
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(m_first)),
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::max(at, m_first + 1000))));
    m_value->setRange(0, m_top);
}

void ChartView::clear() {
    for (auto& [number, line] : m_series) {
        m_chart->removeSeries(line);
        delete line;
    }
    m_series.clear();
    m_lost->clear();
    m_first = 0;
    m_top = 0.5;
}

void ChartView::showPoint(const QString& name, const QPointF& near, bool hovering) {
    if (!hovering) {
        QToolTip::hideText();
        return;
    }
    // The sample nearest in time to where the mouse touches the line.
    const QLineSeries* line = nullptr;
    for (const auto& [number, s] : m_series)
        if (s->name() == name) line = s;
    if (line == nullptr || line->count() == 0) return;
    QPointF best = line->at(0);
    for (int i = 1; i < line->count(); ++i)
        if (std::fabs(line->at(i).x() - near.x()) < std::fabs(best.x() - near.x()))
            best = line->at(i);
    const QString time =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(best.x())).toString("HH:mm:ss.zzz");
    QToolTip::showText(
        QCursor::pos(),
        QStringLiteral("%1  %2  %3 ms").arg(name, time, QString::number(best.y(), 'f', 1)));
}

} // namespace ui
