#include <gtest/gtest.h>

#include <QDialog>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "chart_window.h"
#include "close_request.h"
#include "frm_peso.h"
#include "harness.h"
#include "link_worker.h"
#include "log_parse.h"
#include "station_window.h"
#include "trend_recorder.h"

// The one button the chart adds: inside the window, clear of every other control and of
// the red label where it shows.
TEST(ChartButton, SitsInTheFreeCornerAndHidesNothing) {
    frmPeso form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.cmdGrafico->text(), QStringLiteral("Gráfico"));
    EXPECT_EQ(form.cmdGrafico->font(), form.cmdComando->font());
    const QRect button = form.cmdGrafico->geometry();
    EXPECT_TRUE(form.rect().contains(button));
    for (QWidget* other : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == form.cmdGrafico || other->isWindow()) continue;
        EXPECT_FALSE(other->geometry().intersects(button)) << other->metaObject()->className();
    }
    EXPECT_GT(button.top(), form.lblError->geometry().bottom());
    EXPECT_GT(button.top(), form.FraRxCMD->geometry().bottom());
}

// Opened from the button, a window of its own that never blocks the station; a second
// click brings back the same one, with the span, pause and picture the operator left.
TEST(ChartButton, OpensOneNonModalChartWindow) {
    frmPeso form;
    form.setNumberFormat(1, QLocale(QLocale::Spanish, QLocale::Spain));
    form.show();
    qint64 now = 1'800'000'000'000;
    form.trend()->setClock([&] { return now; });
    for (int i = 0; i < 200; ++i) {
        now += 500;
        form.trend()->addWeights({i % 100 * 1.0, 0, i % 100 * 1.0, 0, 0});
    }
    QTest::mouseClick(form.cmdGrafico, Qt::LeftButton);
    ChartWindow* chart = form.chartWindow();
    ASSERT_NE(chart, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(chart));
    EXPECT_EQ(chart->windowTitle(), QStringLiteral("Vormel-Q - Gráfico"));
    EXPECT_TRUE(chart->isWindow());
    EXPECT_EQ(chart->windowModality(), Qt::NonModal);
    EXPECT_TRUE(chart->spanButton(0)->isChecked());
    EXPECT_EQ(chart->view()->spanMs(), 60000);

    QTest::mouseClick(chart->spanButton(2), Qt::LeftButton);
    EXPECT_EQ(chart->view()->spanMs(), 3600000);
    QTest::mouseClick(chart->pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(chart->view()->paused());
    EXPECT_EQ(chart->pauseButton()->text(), QStringLiteral("Reanudar"));

    chart->close();
    QTest::mouseClick(form.cmdGrafico, Qt::LeftButton);
    EXPECT_EQ(form.chartWindow(), chart);
    EXPECT_TRUE(chart->isVisible());
    EXPECT_EQ(chart->view()->spanMs(), 3600000);
    QTest::mouseClick(chart->pauseButton(), Qt::LeftButton);
    EXPECT_FALSE(chart->view()->paused());

    // "Guardar imagen..." ends in a PNG of what the view shows; the name gets its suffix.
    QTest::mouseClick(chart->spanButton(0), Qt::LeftButton);  // the readings fill the minute
    QTemporaryDir dir;
    const QString saved = chart->saveImage(dir.filePath(QStringLiteral("curva")));
    EXPECT_EQ(saved, dir.filePath(QStringLiteral("curva.png")));
    const QImage image(saved);
    EXPECT_EQ(image.size(), chart->view()->size());
    // The curve is drawn: the gross weight's blue, smoothed into the white or not, runs
    // across most of the picture, where its legend stroke and its last value's label take
    // a few dozen columns.
    int columns = 0;
    for (int x = 0; x < image.width(); ++x) {
        bool gross = false;
        for (int y = 0; y < image.height() && !gross; ++y) {
            const QColor c = image.pixelColor(x, y);
            gross = c.blue() - c.red() > 40 && c.blue() - c.green() > 10;
        }
        columns += gross ? 1 : 0;
    }
    EXPECT_GT(columns, image.width() / 2);
}

// The chart's dialogs never keep the station from closing: with "Guardar imagen..." or a
// failed save's box open, the system's close request on the main window goes through.
// Meanwhile the chart takes no clicks, as under a modal dialog.
TEST(ChartButton, ItsDialogsLeaveTheStationFreeToClose) {
    for (const bool failedSave : {false, true}) {
        SCOPED_TRACE(failedSave ? "No se puede guardar" : "Guardar imagen...");
        frmPeso form;
        form.show();
        QTest::mouseClick(form.cmdGrafico, Qt::LeftButton);
        ChartWindow* chart = form.chartWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(chart));
        if (failedSave) {
            chart->saveImage(QStringLiteral("/proc/vormelq-no-such-dir/grafico"));
        } else {
            for (QPushButton* b : chart->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("Guardar imagen...")) b->click();
        }
        ASSERT_TRUE(waitFor([&] {
            const QDialog* dialog = chart->findChild<QDialog*>();
            return dialog && dialog->isVisible();
        }));
        QTest::mouseClick(chart->spanButton(2), Qt::LeftButton);
        EXPECT_EQ(chart->view()->spanMs(), 60000);

        QSignalSpy unloading(&form, &frmPeso::unloading);
        systemCloseRequest(form);
        EXPECT_EQ(unloading.count(), 1);
        EXPECT_FALSE(form.isVisible());
    }
}

// The real station against the simulated module: the chart holds exactly the readings
// that went to Peso.csv, in order, and a module switched off for a while is one break,
// made when the readings come back.
TEST(ChartFeed, HoldsWhatTheLogHoldsAndBreaksWhereTheModuleWasSilent) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--auto-cycle"}));
    QTemporaryDir dir;
    writeIni(dir.path(), tcpIni(sim.port()));
    CurrentDir cwd(dir.path());
    StationWindow station;
    ASSERT_TRUE(station.Form_Load().isEmpty());
    const WeightHistory& h = station.form().trend()->history();
    auto readings = [&] {
        int n = 0;
        for (qsizetype i = 0; i < h.size(); ++i) n += h.at(i).gap ? 0 : 1;
        return n;
    };
    ASSERT_TRUE(waitFor([&] { return readings() >= 5; }));
    // Two polls in a row without an answer: a silence the curve does not bridge.
    int failedPolls = 0;
    QObject::connect(station.worker(), &LinkWorker::pollFinished, &station.form(), [&] {
        failedPolls = !station.form().lblError->isHidden() ? failedPolls + 1 : 0;
    });
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return failedPolls >= 2; }));
    sim.toggleSilent();
    const int before = readings();
    ASSERT_TRUE(waitFor([&] { return readings() >= before + 5; }));
    station.Form_Unload();
    QCoreApplication::processEvents();  // what the worker sent before it stopped

    const QStringList lines = logLines(dir.path());
    ASSERT_EQ(lines.size(), readings());
    int gaps = 0;
    int line = 0;
    for (qsizetype i = 0; i < h.size(); ++i) {
        if (h.at(i).gap) {
            ++gaps;
            continue;
        }
        const auto record = parseLogLine(lines[line++].toUtf8(), DateOrder::DayFirst);
        ASSERT_TRUE(record) << lines[line - 1].toStdString();
        EXPECT_EQ(record->gross, h.at(i).gross) << lines[line - 1].toStdString();
        EXPECT_EQ(record->net, h.at(i).net) << lines[line - 1].toStdString();
    }
    EXPECT_EQ(gaps, 1);
}
