#include "station_window.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "changes_view.h"
#include "dose_table.h"
#include "log_reader.h"
#include "qt_spanish.h"
#include "station_module.h"
#include "stop_signals.h"
#include "trend_recorder.h"

StationWindow::StationWindow(QObject* parent) : QObject(parent) {}

StationWindow::~StationWindow() {
    Form_Unload();
}

QString StationWindow::Form_Load() {
    if (const QString error = core_.Form_Load(); !error.isEmpty()) return error;
    StationModule& module = *core_.modules().front();
    form_.changesView()->setLines(module.startChanges());
    form_.setNumberFormat(module.decimals(), module.locale());
    // Before the first poll, so that no cycle of this run is in the record yet; only the
    // file's tail is read, however long the record has grown.
    form_.doses()->setHistory(
        doseHistory(module.startDoseLines(), systemDateOrder(), module.decimals()));
    connectWindow(module, form_);
    connect(&core_, &Station::plantStatus, &form_, &frmPeso::showMqttStatus);
    connect(&form_, &frmPeso::unloading, this, &StationWindow::Form_Unload);
    core_.start();
    return {};
}

void StationWindow::connectWindow(StationModule& module, frmPeso& form) {
    connect(&module, &StationModule::displayRead, &form, &frmPeso::showDisplay);
    connect(&module, &StationModule::weightsRead, &form, &frmPeso::showWeights);
    connect(&module, &StationModule::setpointsRead, &form, &frmPeso::showSetpoints);
    connect(&module, &StationModule::readbackRead, &form, &frmPeso::showReadback);
    connect(&module, &StationModule::communicationLost, &form, &frmPeso::showCommunicationLost);
    connect(&module, &StationModule::writeFailed, &form, &frmPeso::showWriteFailed);
    connect(&module, &StationModule::writeFinished, &form, &frmPeso::showWriteFinished);
    connect(&module, &StationModule::logPending, &form, &frmPeso::showLogPending);
    connect(&module, &StationModule::changesPending, &form, &frmPeso::showChangesPending);
    connect(&module, &StationModule::changeRecorded, form.changesView(), &ChangesView::addLine);
    connect(&form, &frmPeso::writeFinished, &module, &StationModule::recordChange);
    connect(&module, &StationModule::dosePending, &form, &frmPeso::showDosePending);
    connect(&module, &StationModule::doseFinalTaken, &form, &frmPeso::showDoseFinal);
    connect(&module, &StationModule::doseEnded, &form, &frmPeso::showDoseEnded);
    connect(&module, &StationModule::weightsRead, form.trend(), &TrendRecorder::addWeights);
    connect(&module, &StationModule::setpointsRead, form.trend(), &TrendRecorder::setSetpoints);
    connect(&form, &frmPeso::writeRequested, &module, &StationModule::write);
}

void StationWindow::Form_Unload() {
    core_.Form_Unload();
}

int runStation(QApplication& app) {
    QApplication::setApplicationName(kStationTitle);
    useLayoutFont();
    loadQtSpanish(app);

    // The system's stop signals close the window like its close box, and end a
    // start-up error's box as well.
    StopSignals stopSignals;
    StationWindow station;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &station.form(), &QWidget::close);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app,
                     [] { QCoreApplication::exit(0); });
    const QString error = station.Form_Load();
    if (!error.isEmpty()) {
        // Also on stderr, for whoever started the station from a script.
        std::fprintf(stderr, "vormelq: %s\n", qUtf8Printable(error));
        std::fflush(stderr);
        QMessageBox box(QMessageBox::Critical, kStationTitle, error, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    // Closing the window ends the program at once, whatever dialog is still open.
    QObject::connect(&station.form(), &frmPeso::unloading, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    station.form().show();
    return app.exec();
}
