// The "Informe..." button of the "Dosificaciones" window (offscreen): the period's dialog,
// the file's dialog, the report written and handed to the system's viewer; and neither
// dialog keeps the station from closing.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "close_request.h"
#include "dosing_window.h"
#include "frm_peso.h"
#include "harness.h"
#include "report_dialog.h"

namespace {

// Where the system's viewer would have been asked to open something.
class Viewer : public QObject {
    Q_OBJECT
public:
    Viewer() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~Viewer() override { remove(); }
    void remove() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

template <class Dialog>
Dialog* openDialog(QWidget* window) {
    Dialog* found = nullptr;
    waitFor([&] {
        for (Dialog* d : window->findChildren<Dialog*>())
            if (d->isVisible()) found = d;
        return found != nullptr;
    });
    return found;
}

// "Desde / hasta" over the test's doses, 8 December 06:00 to 14:00, accepted.
bool acceptDosesDay(ReportDialog* periods) {
    if (!periods) return false;
    periods->choices()->button(4)->click();
    const auto edits = periods->findChildren<QDateTimeEdit*>();
    if (edits.size() != 2) return false;
    edits[0]->setDateTime(QDateTime(QDate(2026, 12, 8), QTime(6, 0)));
    edits[1]->setDateTime(QDateTime(QDate(2026, 12, 8), QTime(14, 0)));
    periods->accept();
    return true;
}

// The file's dialog answered with `path`, as its "Guardar" button does.
bool saveAs(QWidget* window, const QString& path) {
    auto* file = openDialog<QFileDialog>(window);
    if (!file) return false;
    file->selectFile(path);
    static_cast<QDialog*>(file)->accept();
    return true;
}

QPushButton* informe(DosingWindow& window) {
    return qobject_cast<QPushButton*>(window.tabs()->cornerWidget());
}

}  // namespace

TEST(ReportButton, AsksThePeriodAndTheFileThenOpensTheReport) {
    QTemporaryDir dir;
    writeIni(dir.path(), {{"Decimales_1", "1"}});
    addIniSection(dir.path(), "Turnos", {{"Turno1", "06:00-14:00"}, {"Turno2", "14:00-06:00"}});
    QFile doses(dir.filePath("Dosificaciones.csv"));
    ASSERT_TRUE(doses.open(QIODevice::WriteOnly));
    doses.write(
        "8/12/26;6:00:00;6:00:30;25,0;22,5;0,5;25,1;0,1;Hecha;Harina;L1\r\n"
        "8/12/26;6:01:00;6:01:30;25,0;22,5;0,5;24,9;-0,1;Hecha;Harina;L1\r\n");
    doses.close();
    CurrentDir cwd(dir.path());
    Viewer viewer;
    frmPeso form;
    form.show();
    form.cmdDosificaciones_Click();
    DosingWindow* window = form.dosingWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(informe(*window), nullptr);
    EXPECT_EQ(informe(*window)->text(), QStringLiteral("Informe..."));

    informe(*window)->click();
    auto* periods = openDialog<ReportDialog>(window);
    ASSERT_NE(periods, nullptr);
    // A shift is always under way here: the one under way, the last, today, yesterday,
    // from / to; the last shift that ended is chosen.
    EXPECT_EQ(periods->choices()->buttons().size(), 5);
    EXPECT_EQ(periods->choices()->checkedId(), 1);
    ASSERT_TRUE(acceptDosesDay(periods));

    const QString path = dir.filePath("turno.pdf");
    ASSERT_TRUE(saveAs(window, path));
    // Written off the window's thread, then handed to the viewer.
    ASSERT_TRUE(waitFor([&] { return !viewer.opened.isEmpty(); }));
    ASSERT_EQ(viewer.opened.size(), 1);
    EXPECT_EQ(viewer.opened[0].toLocalFile(), path);
    QFile pdf(path);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");

    // With no viewer on the computer (none offscreen), the operator is told where it went.
    viewer.remove();
    informe(*window)->click();
    ASSERT_TRUE(acceptDosesDay(openDialog<ReportDialog>(window)));
    const QString again = dir.filePath("otro.pdf");
    ASSERT_TRUE(saveAs(window, again));
    auto* told = openDialog<QMessageBox>(window);
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(told->text(), QStringLiteral("Informe guardado en %1. No hay un visor de PDF que lo "
                                           "abra.")
                                .arg(QDir::toNativeSeparators(again)));
    EXPECT_TRUE(QFile::exists(again));
}

TEST(ReportButton, ItsDialogsLeaveTheStationFreeToClose) {
    for (const bool fileDialog : {false, true}) {
        SCOPED_TRACE(fileDialog ? "Guardar informe" : "Informe");
        QTemporaryDir dir;
        CurrentDir cwd(dir.path());
        frmPeso form;
        form.show();
        form.cmdDosificaciones_Click();
        DosingWindow* window = form.dosingWindow();
        informe(*window)->click();
        auto* periods = openDialog<ReportDialog>(window);
        ASSERT_NE(periods, nullptr);
        if (fileDialog) {
            periods->accept();
            ASSERT_NE(openDialog<QFileDialog>(window), nullptr);
        }
        QSignalSpy unloading(&form, &frmPeso::unloading);
        systemCloseRequest(form);
        EXPECT_EQ(unloading.count(), 1);
        EXPECT_FALSE(form.isVisible());
    }
}

#include "report_button_tests.moc"
