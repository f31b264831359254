#pragma once
#include "ui/definition.h"
#include "ui/windowmodel.h"

#include <QChartView>
#include <map>
#include <string>

class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
class QXYSeries;

namespace ui {

// A chart control: one line per series over a time axis that reaches back the
// control's span, lost samples marked on the time axis, and the point under the
// mouse named in a tool tip (series, time, value).
class ChartView : public QChartView {
public:
    ChartView(const ControlDef& def, QWidget* parent = nullptr);

    void addSample(const Sample& sample, const std::string& seriesName);
    void clear();

private:
    QLineSeries* series(int number, const std::string& name);
    void showPoint(const QString& name, const QPointF& near, bool hovering);
    void trim(QXYSeries* series, double from);

    QChart* m_chart;
    QDateTimeAxis* m_time;
    QValueAxis* m_value;
    QScatterSeries* m_lost;
    std::map<int, QLineSeries*> m_series;
    double m_span;
    double m_first = 0; // the oldest time shown, milliseconds since the epoch
    double m_top = 0.5; // the top of the value axis
};

} // namespace ui
