#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "chart_render.h"
#include "dose_table.h"
#include "dosing_window.h"
#include "frm_peso.h"
#include "tail.h"
#include "trend_recorder.h"

namespace {

const QLocale kSpanish(QLocale::Spanish, QLocale::Spain);

QString text(const DosingWindow& window, const char* figure) {
    const auto* label = window.findChild<QLabel*>(QString::fromLatin1(figure));
    return label ? label->text() : QStringLiteral("<no label>");
}

// The station writes weights ungrouped, as the module's display does.
QString oneDecimal(double value) {
    QLocale ungrouped = kSpanish;
    ungrouped.setNumberOptions(QLocale::OmitGroupSeparator);
    return ungrouped.toString(value, 'f', 1);
}

// A Dosificaciones.csv as another program would read it: text, one decimal, comma.
// Every 17th cycle incomplete; finals from 99,0 to 101,0 against 100,0 at ±0,5 %.
QByteArrayList doseFile(int lines) {
    QByteArrayList out;
    for (int i = 0; i < lines; ++i) {
        const int s = i * 10 % 86000;
        const auto clock = [](int t) {
            return QStringLiteral("%1:%2:%3")
                .arg(t / 3600)
                .arg(t / 60 % 60, 2, 10, QLatin1Char('0'))
                .arg(t % 60, 2, 10, QLatin1Char('0'));
        };
        const int tenths = (i * 37) % 21 - 10;
        const double final = 100.0 + tenths / 10.0;
        const bool incomplete = i % 17 == 0;
        const QString result = incomplete              ? QStringLiteral("Incompleta")
                               : std::abs(tenths) <= 5 ? QStringLiteral("OK")
                               : tenths < 0            ? QStringLiteral("Falta")
                                                       : QStringLiteral("Exceso");
        out << QStringLiteral("7/12/26;%1;%2;100,0;90,0;2,0;%3;%4;%5")
                   .arg(clock(s), clock(s + 8), incomplete ? QString() : oneDecimal(final),
                        incomplete ? QString() : oneDecimal(tenths / 10.0), result)
                   .toUtf8();
    }
    return out;
}

void writeFile(const QString& path, const QByteArrayList& lines) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (const QByteArray& line : lines) file.write(line + "\r\n");
}

DoseRecord dose(qint64 startMs, qint64 target, qint64 fine, std::optional<qint64> final,
                DoseResult result) {
    DoseRecord r;
    r.startMs = startMs;
    r.endMs = startMs + 9000;
    r.target = target;
    r.coarse = 900;
    r.fine = fine;
    r.finalNet = final;
    r.result = result;
    return r;
}

}  // namespace

// The file's tail is what the window shows: the last 200 lines of a file far longer
// than one read block, newest on top, a line that does not read left out, and every
// figure equal to one worked out from the file's text to the last digit shown.
TEST(DosingWindow, ShowsTheFilesLast200CyclesAndTheirFigures) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Dosificaciones.csv"));
    QByteArrayList lines = doseFile(6000);
    lines[5950] = "7/12/26;10:00:00;cortada a medias";
    writeFile(path, lines);

    frmPeso form;
    form.setNumberFormat(1, kSpanish);
    form.doses()->setHistory(readDoseHistory(path, DateOrder::DayFirst, 1));
    QTest::mouseClick(form.cmdDosificaciones, Qt::LeftButton);
    DosingWindow* window = form.dosingWindow();
    ASSERT_NE(window, nullptr);

    const QByteArrayList shown = lines.mid(lines.size() - kDoseHistoryLines);
    QAbstractItemModel* table = window->table()->model();
    ASSERT_EQ(table->rowCount(), kDoseHistoryLines - 1);
    const auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            if (c != DoseTable::Porcentaje) cells << table->index(r, c).data().toString();
        return cells.join(QLatin1Char(';')).toUtf8();
    };
    EXPECT_EQ(row(0), lines.back());
    EXPECT_EQ(row(table->rowCount() - 1), shown.front());

    std::vector<double> finals;
    double deviations = 0;
    int out = 0;
    for (const QByteArray& line : shown) {
        const QList<QByteArray> f = line.split(';');
        if (f.size() != 9 || f[6].isEmpty()) continue;
        finals.push_back(QByteArray(f[6]).replace(',', '.').toDouble());
        deviations += QByteArray(f[7]).replace(',', '.').toDouble();
        out += f[8] == "Falta" || f[8] == "Exceso";
    }
    const double n = static_cast<double>(finals.size());
    double sum = 0;
    for (double v : finals) sum += v;
    double squares = 0;
    for (double v : finals) squares += (v - sum / n) * (v - sum / n);
    EXPECT_EQ(text(*window, "ciclos"), QString::number(finals.size()));
    EXPECT_EQ(text(*window, "media"), oneDecimal(sum / n) + " kg");
    EXPECT_EQ(text(*window, "desviacionTipica"), oneDecimal(std::sqrt(squares / (n - 1))) + " kg");
    EXPECT_EQ(text(*window, "minimo"),
              oneDecimal(*std::min_element(finals.begin(), finals.end())) + " kg");
    EXPECT_EQ(text(*window, "maximo"),
              oneDecimal(*std::max_element(finals.begin(), finals.end())) + " kg");
    EXPECT_EQ(text(*window, "desviacionMedia"), oneDecimal(deviations / n) + " kg");
    EXPECT_EQ(text(*window, "fueraTolerancia"),
              QStringLiteral("%1 (%2 %)").arg(out).arg(oneDecimal(100.0 * out / n)));
    EXPECT_EQ(text(*window, "total"), oneDecimal(sum) + " kg");

    // A cycle of this run goes on top, and into the figures.
    form.showDoseEnded(dose(lines.size() * 10'000, 1000, 20, 1012, DoseResult::Exceso));
    EXPECT_EQ(table->index(0, DoseTable::Resultado).data().toString(), QStringLiteral("Exceso"));
    EXPECT_EQ(table->index(0, DoseTable::Porcentaje).data().toString(), QStringLiteral("1,2"));
    EXPECT_EQ(text(*window, "ciclos"), QString::number(finals.size() + 1));
}

// The file's tail at the edges a record meets: fewer lines than asked, no line end after
// the last one, a line across the boundary of two read blocks, no file at all.
TEST(DosingWindow, TailOfAFileAtItsEdges) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.csv"));
    writeFile(path, {"a", "b"});
    EXPECT_EQ(lastLines(path, 5), (QByteArrayList{"a", "b"}));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("torn");
    }
    EXPECT_EQ(lastLines(path, 2), (QByteArrayList{"b", "torn"}));
    const QByteArray longLine(100'000, 'x');
    writeFile(path, {"first", longLine, "last"});
    EXPECT_EQ(lastLines(path, 2), (QByteArrayList{longLine, "last"}));
    EXPECT_EQ(lastLines(path, 3).front(), "first");
    EXPECT_TRUE(lastLines(dir.filePath(QStringLiteral("none.csv")), 3).isEmpty());
}

// The suggestion from the last five complete cycles at the setpoints in force; "Usar"
// only fills the fine cut-off's box, and the operator sends it with its "->". A window
// of its own, never modal, that closing only hides.
TEST(DosingWindow, UsarFillsTheFineBoxAndSendsNothing) {
    useLayoutFont();
    frmPeso form;
    form.setNumberFormat(1, kSpanish);
    QSignalSpy sent(&form, &frmPeso::writeRequested);
    form.show();
    // Setpoints in force: coarse 90,0, fine 2,0, theoretical 100,0.
    form.showSetpoints({1.0, 90.0, 2.0, 100.0, 0});
    // The button sits beside "Gráfico", clear of every other control.
    const QRect button = form.cmdDosificaciones->geometry();
    EXPECT_EQ(button.top(), form.cmdGrafico->geometry().top());
    EXPECT_TRUE(form.rect().contains(button));
    for (QWidget* other : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == form.cmdDosificaciones || other->isWindow()) continue;
        EXPECT_FALSE(other->geometry().intersects(button)) << other->metaObject()->className();
    }
    form.grab().save(QStringLiteral(VORMELQ_BINARY_DIR "/dosing_main.png"));

    QTest::mouseClick(form.cmdDosificaciones, Qt::LeftButton);
    DosingWindow* window = form.dosingWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vormel-Q - Dosificaciones"));
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_EQ(window->tabs()->tabText(0), QStringLiteral("Dosificaciones"));

    qint64 t = 1'796'000'000'000;
    const auto next = [&] { return t += 60'000; };
    // Older cycles, another fine cut-off, an incomplete and an out of tolerance one.
    form.showDoseEnded(dose(next(), 1000, 25, 1006, DoseResult::Exceso));
    form.showDoseEnded(dose(next(), 1000, 25, 998, DoseResult::Ok));
    for (qint64 final : {1004, 1002})
        form.showDoseEnded(dose(next(), 1000, 20, final, DoseResult::Ok));
    form.showDoseEnded(dose(next(), 1000, 20, std::nullopt, DoseResult::Incompleta));
    form.showDoseEnded(dose(next(), 1000, 20, 1001, DoseResult::Ok));
    form.showDoseEnded(dose(next(), 1000, 25, 1001, DoseResult::Ok));
    form.showDoseEnded(dose(next(), 1000, 20, 1003, DoseResult::Ok));
    EXPECT_FALSE(window->useButton()->isEnabled());
    EXPECT_EQ(text(*window, "finoSugerido"), QStringLiteral("—"));
    form.showDoseEnded(dose(next(), 1000, 20, 1008, DoseResult::Exceso));
    // 100,4 100,2 100,1 100,3 100,8: mean 100,36, so 2,0 + 100,0 - 100,36 = 1,64 -> 1,6.
    EXPECT_EQ(text(*window, "finoSugerido"), QStringLiteral("1,6 kg"));
    // A new fine cut-off in force has no cycles of its own yet.
    form.showSetpoints({1.0, 90.0, 2.5, 100.0, 0});
    EXPECT_FALSE(window->useButton()->isEnabled());
    form.showSetpoints({1.0, 90.0, 2.0, 100.0, 0});
    QCoreApplication::processEvents();
    window->grab().save(QStringLiteral(VORMELQ_BINARY_DIR "/dosing_window.png"));

    form.txtFino->setText(QStringLiteral("7"));
    QTest::mouseClick(window->useButton(), Qt::LeftButton);
    EXPECT_EQ(form.txtFino->text(), QStringLiteral("1,6"));
    EXPECT_EQ(sent.count(), 0);

    window->close();
    EXPECT_FALSE(window->isVisible());
    QTest::mouseClick(form.cmdDosificaciones, Qt::LeftButton);
    EXPECT_EQ(form.dosingWindow(), window);
    EXPECT_TRUE(window->isVisible());
}

// Each final weight is marked on the curve where it was taken, in red out of tolerance;
// a clock set back takes the marks it made future with the readings.
TEST(DosingChart, MarksEachFinalWeightOnTheCurve) {
    frmPeso form;
    form.setNumberFormat(1, kSpanish);
    qint64 now = 1'800'000'000'000;
    TrendRecorder& trend = *form.trend();
    trend.setClock([&] { return now; });
    const auto reading = [&](double net) {
        now += 500;
        trend.addWeights({net, 0, net, 0, 0});
    };
    // Three cycles: filling, settled on the final weight, emptied.
    qint64 markedAt = 0;
    for (const auto& [final, result] :
         {std::pair{99.6, DoseResult::Ok}, std::pair{100.8, DoseResult::Exceso},
          std::pair{100.2, DoseResult::Ok}}) {
        for (int i = 0; i <= 20; ++i) reading(std::min(final, i * 5.5));
        reading(final);
        markedAt = now;
        form.showDoseFinal(dose(0, 1000, 20, std::llround(final * 10), result));
        for (int i = 0; i < 4; ++i) reading(final);
        for (int i = 0; i < 6; ++i) reading(0);
    }
    const ChartInput input = trend.chart(now - 60'000, now, 600);
    ASSERT_EQ(input.marks.size(), 3u);
    EXPECT_EQ(input.marks[1].alarm, true);
    EXPECT_EQ(input.marks[2], (ChartMark{markedAt, 100.2, false}));
    const auto redPixels = [](const ChartInput& in) {
        QImage image(800, 400, QImage::Format_RGB32);
        QPainter painter(&image);
        drawChart(painter, image.rect(), in);
        painter.end();
        if (!in.marks.empty()) image.save(QStringLiteral(VORMELQ_BINARY_DIR "/dosing_chart.png"));
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == qRgb(220, 0, 0);
        return count;
    };
    ChartInput unmarked = input;
    unmarked.marks.clear();
    EXPECT_EQ(redPixels(unmarked), 0);
    EXPECT_GT(redPixels(input), 10);

    now = markedAt - 2000;
    reading(50.0);
    EXPECT_EQ(trend.chart(now - 60'000, now + 60'000, 600).marks.size(), 2u);
}
