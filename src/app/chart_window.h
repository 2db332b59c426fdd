#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <optional>

class QButtonGroup;
class QPushButton;
class TrendRecorder;

// The live chart: the last minute, ten minutes or hour of the weights the station reads
// anyway. Drawing goes through the same renderer as `vormelq --plot`.
class ChartView : public QWidget {
    Q_OBJECT
public:
    ChartView(const TrendRecorder& trend, QWidget* parent = nullptr);

    void setSpanMs(qint64 ms);
    qint64 spanMs() const { return spanMs_; }
    // Paused, the view holds its end time while the history goes on filling.
    void setPaused(bool paused);
    bool paused() const { return pausedAt_.has_value(); }
    // What the view shows now, drawn into `size`.
    QImage picture(QSize size) const;
    qint64 msSincePaint() const { return sincePaint_.isValid() ? sincePaint_.elapsed() : 1 << 30; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qint64 endMs() const;

    const TrendRecorder& trend_;
    qint64 spanMs_ = 60000;
    std::optional<qint64> pausedAt_;
    QElapsedTimer sincePaint_;
};

// "Vormel-Q - Gráfico": spans, pause and resume, the picture saved as PNG. A window of
// its own, never modal; closing it only hides it, and the station polls on.
class ChartWindow : public QWidget {
    Q_OBJECT
public:
    explicit ChartWindow(const TrendRecorder& trend, QWidget* parent = nullptr);

    ChartView* view() const { return view_; }
    QPushButton* spanButton(int index) const;
    QPushButton* pauseButton() const { return pause_; }

    // The file the picture went to, or empty when the operator cancelled or it failed.
    QString saveImage(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void togglePause();
    void askAndSave();

    ChartView* view_;
    QButtonGroup* spans_;
    QPushButton* pause_;
    // Keeps the time axis moving while the module is silent and no reading comes.
    QTimer tick_;
};
