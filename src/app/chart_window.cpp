#include "chart_window.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "box_guard.h"
#include "trend_recorder.h"

namespace {

struct Span {
    const char* label;
    qint64 ms;
};
constexpr Span kSpans[] = {{"1 min", 60000}, {"10 min", 600000}, {"1 h", 3600000}};

}  // namespace

ChartView::ChartView(const TrendRecorder& trend, QWidget* parent) : QWidget(parent), trend_(trend) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(480, 280);
}

void ChartView::setSpanMs(qint64 ms) {
    spanMs_ = ms;
    update();
}

void ChartView::setPaused(bool paused) {
    pausedAt_ = paused ? std::optional<qint64>(trend_.nowMs()) : std::nullopt;
    update();
}

qint64 ChartView::endMs() const {
    return pausedAt_.value_or(trend_.nowMs());
}

QImage ChartView::picture(QSize size) const {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const qint64 end = endMs();
    drawChart(painter, image.rect(), trend_.chart(end - spanMs_, end, size.width()));
    return image;
}

void ChartView::paintEvent(QPaintEvent*) {
    sincePaint_.start();
    QPainter painter(this);
    const qint64 end = endMs();
    drawChart(painter, rect(), trend_.chart(end - spanMs_, end, width()));
}

ChartWindow::ChartWindow(const TrendRecorder& trend, QWidget* parent)
    : QWidget(parent, Qt::Window), view_(new ChartView(trend, this)) {
    setWindowTitle(QStringLiteral("Vormel-Q - Gráfico"));

    auto* bar = new QHBoxLayout;
    spans_ = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        auto* b = new QPushButton(QString::fromUtf8(kSpans[i].label), this);
        b->setCheckable(true);
        b->setAutoDefault(false);
        spans_->addButton(b, i);
        bar->addWidget(b);
    }
    spans_->button(0)->setChecked(true);
    connect(spans_, &QButtonGroup::idClicked, this,
            [this](int id) { view_->setSpanMs(kSpans[id].ms); });
    bar->addStretch(1);
    pause_ = new QPushButton(QStringLiteral("Pausa"), this);
    pause_->setAutoDefault(false);
    connect(pause_, &QPushButton::clicked, this, &ChartWindow::togglePause);
    bar->addWidget(pause_);
    auto* save = new QPushButton(QStringLiteral("Guardar imagen..."), this);
    save->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, &ChartWindow::askAndSave);
    bar->addWidget(save);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    resize(900, 540);
    new BoxGuard(this);

    // Repaint with every reading the window gets, but never when it is not seen: a
    // station left with the chart closed pays nothing for it.
    connect(&trend, &TrendRecorder::changed, this, [this] {
        if (isVisible() && !view_->paused()) view_->update();
    });
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] {
        if (!view_->paused() && view_->msSincePaint() > 900) view_->update();
    });
}

QPushButton* ChartWindow::spanButton(int index) const {
    return qobject_cast<QPushButton*>(spans_->button(index));
}

void ChartWindow::togglePause() {
    const bool pause = !view_->paused();
    view_->setPaused(pause);
    pause_->setText(pause ? QStringLiteral("Reanudar") : QStringLiteral("Pausa"));
}

QString ChartWindow::saveImage(const QString& path) {
    if (path.isEmpty()) return {};
    QString file = path;
    if (!file.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) file += QStringLiteral(".png");
    if (!view_->picture(view_->size()).save(file, "PNG")) {
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                    QStringLiteral("No se puede guardar la imagen en %1").arg(file),
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        BoxGuard::open(box);
        return {};
    }
    return file;
}

void ChartWindow::askAndSave() {
    // The picture is the moment of the click, not of whenever the dialog closes.
    const bool wasPaused = view_->paused();
    if (!wasPaused) view_->setPaused(true);
    // Not a nested event loop: the window goes on taking readings while the operator
    // picks a file. Not modal either, or it would hold up closing the station.
    auto* dialog = new QFileDialog(this, QStringLiteral("Guardar imagen"), QString(),
                                   QStringLiteral("Imagen PNG (*.png)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("png"));
    dialog->selectFile(QStringLiteral("grafico.png"));
    connect(dialog, &QFileDialog::fileSelected, this, &ChartWindow::saveImage);
    connect(dialog, &QFileDialog::finished, this, [this, wasPaused] {
        if (!wasPaused) view_->setPaused(false);
    });
    BoxGuard::open(dialog);
}

void ChartWindow::showEvent(QShowEvent* event) {
    tick_.start();
    QWidget::showEvent(event);
}

void ChartWindow::hideEvent(QHideEvent* event) {
    tick_.stop();
    QWidget::hideEvent(event);
}
