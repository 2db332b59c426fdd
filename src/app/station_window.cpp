#include "station_window.h"

#include <QApplication>
#include <QMessageBox>

#include "changes_view.h"
#include "console.h"
#include "dose_table.h"
#include "line_window.h"
#include "products_view.h"
#include "qt_spanish.h"
#include "station_module.h"
#include "stop_signals.h"
#include "trend_recorder.h"

StationWindow::StationWindow(QObject* parent) : QObject(parent) {
    auto first = std::make_unique<frmPeso>();
    form_ = first.get();
    window_ = std::move(first);
}

StationWindow::~StationWindow() {
    Form_Unload();
}

QString StationWindow::Form_Load() {
    if (const QString error = core_.Form_Load(); !error.isEmpty()) return error;
    const QList<StationModule*>& modules = core_.modules();
    showModule(*modules.front(), *form_);
    if (modules.size() == 1) {
        connect(form_, &frmPeso::unloading, this, &StationWindow::Form_Unload);
        connect(form_, &frmPeso::unloading, this, &StationWindow::unloading);
    } else {
        auto line = std::make_unique<LineWindow>();
        line_ = line.get();
        line_->addPanel(static_cast<frmPeso*>(window_.release()), *modules.front());
        for (qsizetype i = 1; i < modules.size(); ++i) {
            auto* panel = new frmPeso;
            showModule(*modules[i], *panel);
            line_->addPanel(panel, *modules[i]);
        }
        window_ = std::move(line);
        connect(line_, &LineWindow::unloading, this, &StationWindow::Form_Unload);
        connect(line_, &LineWindow::unloading, this, &StationWindow::unloading);
    }
    core_.start();
    return {};
}

void StationWindow::showModule(StationModule& module, frmPeso& form) {
    form.changesView()->setLines(module.startChanges());
    form.setNumberFormat(module.decimals(), module.locale());
    form.showState(module.state());
    connectWindow(module, form);
    connect(&core_, &Station::plantStatus, &form, &frmPeso::showMqttStatus);
}

void StationWindow::connectWindow(StationModule& module, frmPeso& form) {
    connect(&module, &StationModule::displayRead, &form, &frmPeso::showDisplay);
    connect(&module, &StationModule::weightsRead, &form, &frmPeso::showWeights);
    connect(&module, &StationModule::setpointsRead, &form, &frmPeso::showSetpoints);
    connect(&module, &StationModule::readbackRead, &form, &frmPeso::showReadback);
    connect(&module, &StationModule::stateChanged, &form, &frmPeso::showState);
    connect(&module, &StationModule::writeFailed, &form, &frmPeso::showWriteFailed);
    connect(&module, &StationModule::writeFinished, &form, &frmPeso::showWriteFinished);
    connect(&module, &StationModule::changeRecorded, form.changesView(), &ChangesView::addLine);
    connect(&module, &StationModule::doseFinalTaken, &form, &frmPeso::markDoseFinal);
    connect(&module, &StationModule::weightsRead, form.trend(), &TrendRecorder::addWeights);
    connect(&module, &StationModule::setpointsRead, form.trend(), &TrendRecorder::setSetpoints);
    connect(&module, &StationModule::entryOutOfRange, &form, &frmPeso::showEntryOutOfRange);
    connect(&form, &frmPeso::entered, &module, &StationModule::enter);
    connect(&form, &frmPeso::keyPressed, &module, &StationModule::pressKey);
    connect(&form, &frmPeso::noticeAcknowledged, &module, &StationModule::acknowledgeNotice);
    connect(&form, &frmPeso::productChosen, &module, &StationModule::applyProduct);
    connect(&form, &frmPeso::lotEntered, &module, &StationModule::setLot);
    connect(
        &form, &frmPeso::productChangeRequested, this,
        [this, &module, &form](const QString& before, const QStringList& fields) {
            form.productsView()->showAnswer(core_.changeProduct(module.number(), before, fields));
        });
    connect(&module, &StationModule::productNotApplied, &form, &frmPeso::showMessage);
    connect(&module, &StationModule::lotRefused, &form, &frmPeso::showMessage);
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
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &station,
                     [&station] { station.window().close(); });
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app,
                     [] { QCoreApplication::exit(0); });
    const QString error = station.Form_Load();
    if (!error.isEmpty()) {
        // Also on stderr, for whoever started the station from a script.
        tellUser(error);
        QMessageBox box(QMessageBox::Critical, kStationTitle, error, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    // For whoever started the station from a terminal or keeps its session's journal.
    for (const QString& warning : station.core().warnings()) tellUser(warning, Priority::Warning);
    // Closing the window ends the program at once, whatever dialog is still open.
    QObject::connect(&station, &StationWindow::unloading, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    station.window().show();
    return app.exec();
}
