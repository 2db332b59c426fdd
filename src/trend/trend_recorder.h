#pragma once

#include <QLocale>
#include <QObject>
#include <functional>
#include <optional>

#include "chart_render.h"
#include "readers.h"
#include "weight_history.h"

// Keeps the readings the station takes anyway, for the chart: one entry per weight
// reading, and a break where GapRule puts one, as `vormelq --plot` does in the log.
// Lives on the window thread and is fed from the worker's signals.
class TrendRecorder : public QObject {
    Q_OBJECT
public:
    explicit TrendRecorder(QObject* parent = nullptr);

    void setClock(std::function<qint64()> nowMs) { now_ = std::move(nowMs); }
    qint64 nowMs() const { return now_(); }
    void setNumberFormat(int decimals, const QLocale& locale);

    const WeightHistory& history() const { return history_; }

    // The chart of [fromMs, toMs] for a plot about `columns` pixels wide, in local time.
    ChartInput chart(qint64 fromMs, qint64 toMs, int columns) const;

public slots:
    void addWeights(const WeightReading& weights);
    void setSetpoints(const Setpoints& setpoints);
    // A dosing cycle's final weight, just taken: marked on the curve now.
    void markFinal(double value, bool alarm);

signals:
    void changed();

private:
    WeightHistory history_;
    std::optional<ChartSetpoints> setpoints_;
    std::vector<ChartMark> marks_;  // in time order, none older than the history
    GapRule gaps_;
    std::optional<qint64> lastMs_;
    int decimals_ = 0;
    QLocale locale_ = QLocale::system();
    std::function<qint64()> now_;
};
