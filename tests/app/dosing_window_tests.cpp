#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <memory>
#include <thread>

#include "dose_log.h"
#include "dose_table.h"
#include "dosing_window.h"
#include "frm_peso.h"
#include "journal.h"
#include "product_table.h"
#include "products_view.h"
#include "removal_filter.h"
#include "station.h"
#include "station_module.h"
#include "tail.h"
#include "trend_recorder.h"

namespace {

const QLocale kSpanish(QLocale::Spanish, QLocale::Spain);

QString text(const DosingWindow& window, const char* figure) {
    const auto* label = window.findChild<QLabel*>(QString::fromLatin1(figure));
    return label ? label->text() : QStringLiteral("<no label>");
}

// Weights are written ungrouped, as the module's display shows them.
QString oneDecimal(double value) {
    QLocale ungrouped = kSpanish;
    ungrouped.setNumberOptions(QLocale::OmitGroupSeparator);
    return ungrouped.toString(value, 'f', 1);
}

// A Dosificaciones.csv as text: finals from 99,0 to 101,0 against 100,0 at ±0,5 %, every
// 17th cycle incomplete.
QByteArrayList doseFile(int lines) {
    QByteArrayList out;
    for (int i = 0; i < lines; ++i) {
        const QTime start = QTime(0, 0).addSecs(i * 10 % 86000);
        const int tenths = i * 37 % 21 - 10;
        const bool incomplete = i % 17 == 0;
        const char* result = incomplete              ? "Incompleta"
                             : std::abs(tenths) <= 5 ? "OK"
                             : tenths < 0            ? "Falta"
                                                     : "Exceso";
        out << QStringLiteral("7/12/26;%1;%2;100,0;90,0;2,0;%3;%4;%5")
                   .arg(start.toString(u"H:mm:ss"), start.addSecs(8).toString(u"H:mm:ss"),
                        incomplete ? QString() : oneDecimal(100 + tenths / 10.0),
                        incomplete ? QString() : oneDecimal(tenths / 10.0),
                        QString::fromLatin1(result))
                   .toUtf8();
    }
    return out;
}

void writeFile(const QString& path, const QByteArrayList& lines, const char* end = "\r\n") {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (const QByteArray& line : lines) file.write(line + (&line == &lines.back() ? end : "\r\n"));
}

DoseRecord dose(qint64 startMs, qint64 fine, std::optional<qint64> final, DoseResult result) {
    return {fromLogClock(startMs), fromLogClock(startMs + 9000), 1000, 900, fine, final, result,
            std::nullopt};
}

// A module of the station, one decimal, drawn by a panel as the station wires them: what
// the worker would report is emitted here by the test.
struct DrawnModule {
    StationModule module{{1, QStringLiteral("Módulo 1"), 1, kSpanish, {}}};
    frmPeso form;
    DrawnModule() {
        form.setNumberFormat(1, kSpanish);
        QObject::connect(&module, &StationModule::stateChanged, &form, &frmPeso::showState);
        QObject::connect(&module, &StationModule::setpointsRead, &form, &frmPeso::showSetpoints);
    }
};

}  // namespace

// The window shows the tail of the record: the last 200 lines of a file far longer than
// one read block and of its pending file, newest on top, a line that does not read left
// out, and every figure equal to one worked out from the file's text to the digit shown.
// A pending file moved into the record but left behind (it could not be removed) counts
// once.
TEST(DosingWindow, ShowsTheFilesLast200CyclesAndTheirFigures) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Dosificaciones.csv"));
    QByteArrayList lines = doseFile(6000);
    lines[5950] = "7/12/26;10:00:00;cortada a medias";
    writeFile(path, lines.mid(0, lines.size() - 2));
    writeFile(pendingPath(path), lines.mid(lines.size() - 2));
    std::unique_ptr<DoseLog> record;
    std::thread([&] {
        if (refuseRemoval(SECCOMP_RET_ERRNO | EPERM))
            record = std::make_unique<DoseLog>(path, 0.5, 1, kSpanish);
    }).join();
    ASSERT_TRUE(record && QFile::exists(pendingPath(path)));

    DrawnModule drawn;
    frmPeso& form = drawn.form;
    drawn.module.setStartDoseLines(record->newestLines(kStartDoses));
    form.showState(drawn.module.state());
    QTest::mouseClick(form.cmdDosificaciones, Qt::LeftButton);
    DosingWindow* window = form.dosingWindow();
    ASSERT_NE(window, nullptr);

    const QByteArrayList shown = lines.mid(lines.size() - kStartDoses);
    QAbstractItemModel* table = window->table()->model();
    ASSERT_EQ(table->rowCount(), kStartDoses - 1);
    const auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            if (c != DoseTable::Porcentaje && !window->table()->isColumnHidden(c))
                cells << table->index(r, c).data().toString();
        return cells.join(QLatin1Char(';')).toUtf8();
    };
    EXPECT_EQ(row(0), lines.back());
    EXPECT_EQ(row(table->rowCount() - 1), shown.front());

    std::vector<double> finals;
    double sum = 0, deviations = 0, squares = 0;
    int out = 0;
    for (const QByteArray& line : shown) {
        const QList<QByteArray> f = line.split(';');
        if (f.size() != 9 || f[6].isEmpty()) continue;
        finals.push_back(QByteArray(f[6]).replace(',', '.').toDouble());
        sum += finals.back();
        deviations += QByteArray(f[7]).replace(',', '.').toDouble();
        out += f[8] == "Falta" || f[8] == "Exceso";
    }
    const double n = static_cast<double>(finals.size());
    for (double v : finals) squares += (v - sum / n) * (v - sum / n);
    const auto [low, high] = std::minmax_element(finals.begin(), finals.end());
    EXPECT_EQ(text(*window, "ciclos"), QString::number(finals.size()));
    EXPECT_EQ(text(*window, "media"), oneDecimal(sum / n) + " kg");
    EXPECT_EQ(text(*window, "desviacionTipica"), oneDecimal(std::sqrt(squares / (n - 1))) + " kg");
    EXPECT_EQ(text(*window, "minimo"), oneDecimal(*low) + " kg");
    EXPECT_EQ(text(*window, "maximo"), oneDecimal(*high) + " kg");
    EXPECT_EQ(text(*window, "desviacionMedia"), oneDecimal(deviations / n) + " kg");
    EXPECT_EQ(text(*window, "fueraTolerancia"),
              QStringLiteral("%1 (%2 %)").arg(out).arg(oneDecimal(100.0 * out / n)));
    EXPECT_EQ(text(*window, "total"), oneDecimal(sum) + " kg");
}

// The tail at a record's edges: fewer lines than asked, a last line without its line
// end, a line longer than a read block, no file.
TEST(DosingWindow, TailOfAFileAtItsEdges) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.csv"));
    writeFile(path, {"a", "b", "torn"}, "");
    EXPECT_EQ(lastLines(path, 5), (QByteArrayList{"a", "b", "torn"}));
    const QByteArray longLine(100'000, 'x');
    writeFile(path, {"first", longLine, "last"});
    EXPECT_EQ(lastLines(path, 2), (QByteArrayList{longLine, "last"}));
    EXPECT_EQ(lastLines(path, 3).front(), "first");
    EXPECT_TRUE(lastLines(dir.filePath(QStringLiteral("none.csv")), 3).isEmpty());
}

// From the last five complete cycles at the setpoints in force; "Usar" only fills the
// fine cut-off's box, and its "->" sends exactly the suggestion. A window of its own beside
// the "Gráfico" button, never modal, that closing only hides.
TEST(DosingWindow, UsarFillsTheFineBoxAndSendsNothing) {
    DrawnModule drawn;
    frmPeso& form = drawn.form;
    StationModule& module = drawn.module;
    QSignalSpy sent(&form, &frmPeso::entered);
    form.show();
    const QRect button = form.cmdDosificaciones->geometry();
    EXPECT_EQ(button.top(), form.cmdGrafico->geometry().top());
    for (QWidget* other : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(other == form.cmdDosificaciones || other->isWindow() ||
                    !other->geometry().intersects(button));
    emit module.setpointsRead({1.0, 90.0, 2.0, 100.0, 0});
    QTest::mouseClick(form.cmdDosificaciones, Qt::LeftButton);
    DosingWindow* window = form.dosingWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vormel-Q - Dosificaciones"));
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_EQ(window->tabs()->tabText(0), QStringLiteral("Dosificaciones"));

    // Fine 2,0 and 2,5 mixed, an incomplete cycle among them.
    const std::pair<qint64, std::optional<qint64>> cycles[] = {
        {25, 1006}, {20, 1004}, {20, 1002}, {20, {}}, {20, 1001}, {25, 1001}, {20, 1003}};
    qint64 t = 1'796'000'000'000;
    for (const auto& [fine, final] : cycles)
        emit module.doseEnded(
            dose(t += 60'000, fine, final, final ? DoseResult::Ok : DoseResult::Incompleta));
    EXPECT_FALSE(window->useButton()->isEnabled());
    emit module.doseEnded(dose(t += 60'000, 20, 1008, DoseResult::Exceso));
    // 100,4 100,2 100,1 100,3 100,8: mean 100,36, so 2,0 + 100,0 - 100,36 = 1,64 -> 1,6.
    EXPECT_EQ(text(*window, "finoSugerido"), QStringLiteral("1,6 kg"));
    EXPECT_EQ(module.state().suggestedFine, 16);
    emit module.setpointsRead({1.0, 90.0, 2.5, 100.0, 0});
    EXPECT_FALSE(window->useButton()->isEnabled());
    emit module.setpointsRead({1.0, 90.0, 2.0, 100.0, 0});

    form.txtFino->setText(QStringLiteral("7"));
    QTest::mouseClick(window->useButton(), Qt::LeftButton);
    EXPECT_EQ(sent.count(), 0);
    // In the box as entries are written, unscaled: its "->" sends the suggestion itself.
    EXPECT_EQ(form.txtFino->text(), QStringLiteral("16"));
    QTest::mouseClick(form.cmdFino, Qt::LeftButton);
    ASSERT_EQ(sent.count(), 1);
    const auto entry = sent.at(0).at(0).value<OperatorEntry>();
    EXPECT_EQ(entry.control, Control::Fino);
    EXPECT_EQ(entry.text, QStringLiteral("16"));

    window->close();
    QTest::mouseClick(form.cmdDosificaciones, Qt::LeftButton);
    EXPECT_EQ(form.dosingWindow(), window);
    EXPECT_TRUE(window->isVisible());
}

// With a product table: the doses of the product in force and the current lot by default,
// following them until the operator chooses; the figures and the suggestion those of the
// doses shown, a product's from its doses at its own setpoints. The "Productos" tab lists
// the table and asks for its changes. Without a table none of it shows.
TEST(DosingWindow, DosesByProductAndLot) {
    DrawnModule drawn;
    frmPeso& form = drawn.form;
    StationModule& module = drawn.module;
    QTest::mouseClick(form.cmdDosificaciones, Qt::LeftButton);
    DosingWindow* window = form.dosingWindow();
    QTabWidget* tabs = window->tabs();
    QAbstractItemModel* table = window->table()->model();
    EXPECT_FALSE(window->productFilter()->isVisibleTo(window));
    EXPECT_TRUE(window->table()->isColumnHidden(DoseTable::Producto));
    EXPECT_FALSE(tabs->isTabVisible(tabs->indexOf(form.productsView())));

    auto products = std::make_shared<ProductTable>(
        parseProductTable("nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia\n"
                          "Harina;1;90;2,5;100;0;\nSal;1;40;1;50;0;\n"));
    module.useProducts(products, {});
    module.setStartLot({"L-1", 0, 0});
    emit module.setpointsRead({1.0, 90.0, 2.0, 100.0, 0});  // Harina's, but for its fine
    const auto traced = [](DoseRecord d, const char* product, const char* lot) {
        d.trace = DoseTrace{product, lot};
        return d;
    };
    qint64 t = 1'796'000'000'000;
    for (const qint64 final : {1001, 1002, 1003})  // an older lot
        emit module.doseEnded(
            traced(dose(t += 60'000, 25, final, DoseResult::Ok), "Harina", "L-0"));
    for (const qint64 final : {1004, 1005, 1006})
        emit module.doseEnded(
            traced(dose(t += 60'000, 25, final, DoseResult::Ok), "Harina", "L-1"));
    emit module.doseEnded(traced(dose(t += 60'000, 10, 498, DoseResult::Ok), "Sal", "L-1"));
    emit module.doseEnded(dose(t += 60'000, 20, 1000, DoseResult::Ok));
    emit module.productChanged(QStringLiteral("Harina"));

    EXPECT_EQ(window->productFilter()->currentText(), "Harina");
    EXPECT_EQ(window->lotFilter()->currentText(), "L-1");
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->index(0, DoseTable::Producto).data().toString(), "Harina");
    EXPECT_EQ(text(*window, "media"), QStringLiteral("100,5 kg"));
    EXPECT_FALSE(window->useButton()->isEnabled());
    // Every lot of Harina: its last five at its own fine 2,5 suggest 2,5 + 100,0 - 100,4.
    window->lotFilter()->setCurrentIndex(0);
    emit window->lotFilter()->activated(0);
    EXPECT_EQ(table->rowCount(), 6);
    EXPECT_EQ(text(*window, "finoSugerido"), QStringLiteral("2,1 kg"));
    // Chosen, it stays as the product in force changes; "En vigor" follows it again.
    emit module.productChanged(QStringLiteral("Sal"));
    EXPECT_EQ(window->productFilter()->currentText(), "Harina");
    const int none = window->productFilter()->count() - 1;
    EXPECT_EQ(window->productFilter()->itemText(none), "sin producto");
    window->productFilter()->setCurrentIndex(none);
    emit window->productFilter()->activated(none);
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(text(*window, "total"), QStringLiteral("100,0 kg"));
    for (QPushButton* button : window->findChildren<QPushButton*>())
        if (button->text() == "En vigor") QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(window->productFilter()->currentText(), "Sal");
    EXPECT_EQ(table->rowCount(), 1);

    // The table's products, and a change asked of the station.
    ASSERT_TRUE(tabs->isTabVisible(tabs->indexOf(form.productsView())));
    ProductsView* view = form.productsView();
    ASSERT_EQ(view->table()->rowCount(), 2);
    EXPECT_EQ(view->table()->item(0, 3)->text(), "2,5");
    QSignalSpy asked(&form, &frmPeso::productChangeRequested);
    view->table()->selectRow(1);
    EXPECT_EQ(view->field(2)->text(), "40");
    view->field(3)->setText("1,5");
    QTest::mouseClick(view->changeButton(), Qt::LeftButton);
    QTest::mouseClick(view->removeButton(), Qt::LeftButton);
    ASSERT_EQ(asked.count(), 2);
    EXPECT_EQ(asked.at(0).at(0).toString(), "Sal");
    EXPECT_EQ(asked.at(0).at(1).toStringList(),
              QStringList({"Sal", "1", "40", "1,5", "50", "0", ""}));
    EXPECT_EQ(asked.at(1).at(1).toStringList(), QStringList());

    // The table removed while the station runs: the panel's strip, the lists and the tab go.
    const int height = form.height();
    module.useProducts(nullptr, {});
    EXPECT_FALSE(form.FraProducto->isVisibleTo(&form));
    EXPECT_LT(form.height(), height);
    EXPECT_FALSE(window->productFilter()->isVisibleTo(window));
    EXPECT_FALSE(tabs->isTabVisible(tabs->indexOf(form.productsView())));
}

// A final weight is marked on the curve when it is taken, in red out of tolerance; a
// clock set back takes the marks it made future with the readings.
TEST(DosingChart, MarksEachFinalWeightOnTheCurve) {
    frmPeso form;
    form.setNumberFormat(1, kSpanish);
    qint64 now = 1'800'000'000'000;
    form.trend()->setClock([&] { return now; });
    const auto reading = [&](double net) {
        now += 500;
        form.trend()->addWeights({net, 0, net, 0, 0});
    };
    for (int i = 0; i <= 20; ++i) reading(std::min(100.8, i * 5.5));
    form.markDoseFinal(dose(0, 20, 1008, DoseResult::Exceso));
    const qint64 markedAt = now;
    for (int i = 0; i < 4; ++i) reading(100.8);

    const ChartInput input = form.trend()->chart(now - 60'000, now, 600);
    ASSERT_EQ(input.marks.size(), 1u);
    EXPECT_EQ(input.marks[0], (ChartMark{markedAt, 100.8, true}));
    // Drawn: the mark's red is in the picture, where no other line has it.
    QImage image(800, 400, QImage::Format_RGB32);
    QPainter painter(&image);
    drawChart(painter, image.rect(), input);
    painter.end();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) red += image.pixel(x, y) == qRgb(220, 0, 0);
    EXPECT_GT(red, 10);

    now = markedAt - 2000;
    reading(50.0);
    EXPECT_TRUE(form.trend()->chart(now - 60'000, now + 60'000, 600).marks.empty());
}
