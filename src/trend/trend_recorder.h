#pragma once

#include <QLocale>
#include <QObject>
#include <functional>
#include <optional>

#include "chart_render.h"
#include "readers.h"
#include "weight_history.h"

// Keeps the readings the station takes anyway, for the chart: one entry per weight
// reading, and a break for every poll in which the module did not give the weights.
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
    // The end of a poll: without weights in it, the curve breaks here.
    void endCycle();

signals:
    void changed();

private:
    WeightHistory history_;
    std::optional<ChartSetpoints> setpoints_;
    bool weightsThisCycle_ = false;
    int decimals_ = 0;
    QLocale locale_ = QLocale::system();
    std::function<qint64()> now_;
};
