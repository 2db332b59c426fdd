#include "station_module.h"

#include <QMetaObject>

#include "link_worker.h"

StationModule::StationModule(Settings settings, LinkWorker* worker, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), worker_(worker) {}

void StationModule::write(const WriteRequest& request) {
    if (worker_ != nullptr) worker_->enqueueWrite(request);
}

void StationModule::recordChange(const WriteOutcome& outcome) {
    if (worker_ == nullptr) return;
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, outcome] { worker->recordChange(outcome); },
        Qt::QueuedConnection);
}
