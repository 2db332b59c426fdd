#include "state_lines.h"

#include <QDir>
#include <QLocale>
#include <algorithm>
#include <utility>

#include "console.h"
#include "station.h"
#include "station_module.h"

namespace {

QString linkText(const StartupConfig& c) {
    if (c.TcpLink != 0) return QStringLiteral("por TCP %1:%2").arg(c.host).arg(c.port);
    return QStringLiteral("por el puerto serie %1 a %2 baudios")
        .arg(QDir::toNativeSeparators(serialPortName(c.commPort)), c.baud);
}

QString moduleText(const StartupConfig& c) {
    const QString decimals = c.Decimals == 1 ? QStringLiteral("1 decimal")
                                             : QStringLiteral("%1 decimales").arg(c.Decimals);
    const QString tolerance =
        c.tolerancePercent > 0
            ? QStringLiteral("tolerancia %1 %").arg(QLocale::system().toString(c.tolerancePercent))
            : QStringLiteral("sin tolerancia");
    return QStringLiteral("ID %1 %2, %3, %4").arg(c.SlaveId).arg(linkText(c), decimals, tolerance);
}

QString brokerText(const MqttConfig& m) {
    if (!m.enabled()) return QStringLiteral("sin MQTT");
    return QStringLiteral("MQTT %1:%2%3, tema %4")
        .arg(m.host)
        .arg(m.port)
        .arg(m.tls() ? QStringLiteral(" con TLS") : QString(), m.topicRoot);
}

}  // namespace

void tellModule(const StationModule& module, const QString& text) {
    tellUser(module.name() + QStringLiteral(": ") + text);
}

StateLines::StateLines(Station& station, QObject* parent) : QObject(parent), station_(station) {
    for (const StationModule* module : station.modules()) watch(*module);
    connect(&station, &Station::plantStatus, this, &StateLines::noteBroker);
}

void StateLines::tellStarted(const QString& dir) const {
    const QList<StartupConfig>& configs = station_.configs();
    const int count = static_cast<int>(configs.size());
    tellUser(QStringLiteral("servicio en marcha en %1: %2, Timer %3 ms, %4")
                 .arg(QDir::toNativeSeparators(dir), count == 1
                                                         ? QStringLiteral("1 módulo")
                                                         : QStringLiteral("%1 módulos").arg(count))
                 .arg(configs.front().timerInterval)
                 .arg(brokerText(station_.mqttConfig())));
    const QList<StationModule*>& modules = station_.modules();
    for (int i = 0; i < count; ++i) tellModule(*modules[i], moduleText(configs[i]));
}

void StateLines::watch(const StationModule& module) {
    const StationModule* m = &module;
    told_[m] = module.state();
    connect(m, &StationModule::stateChanged, this, [this, m](const ModuleState& now) {
        const ModuleState before = std::exchange(told_[m], now);
        if (now.answering != before.answering && now.answering)
            tellModule(
                *m, *now.answering ? QStringLiteral("el módulo responde") : noCommunicationText());
        for (const Record record : {Record::Weights, Record::Doses, Record::Changes})
            notePending(*m, record, now.pendingOf(record));
        if (now.notice && now.notice != before.notice) tellModule(*m, *now.notice);
    });
}

void StateLines::notePending(const StationModule& module, Record record, int count) {
    Waiting& w = waiting_[{&module, record}];
    if (w.now == 0 && count > 0) tellModule(module, notWrittenText({pendingText(record, count)}));
    if (w.now > 0 && count == 0) tellModule(module, writtenAgainText(record, w.most));
    w.now = count;
    w.most = count == 0 ? 0 : std::max(w.most, count);
}

void StateLines::noteBroker(const MqttStatus& status) {
    // Before the first attempt has an outcome there is nothing to say.
    if (!status.connected && status.reason.isEmpty()) return;
    const std::pair<bool, QString> state{status.connected, status.reason};
    if (broker_ == state) return;
    broker_ = state;
    tellUser(mqttStatusText(status));
}
