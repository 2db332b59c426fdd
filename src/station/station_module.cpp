#include "station_module.h"

#include <QMetaObject>

#include "link_worker.h"

StationModule::StationModule(Settings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {}

void StationModule::write(const WriteRequest& request) {
    if (worker_ != nullptr) worker_->enqueueWrite(slot_, request);
}

void StationModule::recordChange(const WriteOutcome& outcome) {
    if (worker_ == nullptr) return;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, slot = slot_, outcome] { worker->recordChange(slot, outcome); },
        Qt::QueuedConnection);
}
