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

// The station in a few words, for `systemctl status`: the modules, how many do not answer
// and how many have lines waiting for a record, and the broker (`broker` empty: no outcome
// yet) with what waits for it; "sin MQTT" when `mqtt` names none.
QString serviceStatusText(const QList<ModuleState>& modules, const MqttConfig& mqtt,
                          const std::optional<MqttStatus>& broker) {
    const auto silent = std::count_if(modules.begin(), modules.end(),
                                      [](const ModuleState& m) { return m.silent(); });
    const auto waiting = std::count_if(modules.begin(), modules.end(), [](const ModuleState& m) {
        return std::any_of(m.pending.begin(), m.pending.end(), [](int n) { return n > 0; });
    });
    QString text = counted(modules.size(), "módulo", "módulos") +
                   QStringLiteral(", %1 sin comunicación").arg(silent);
    if (waiting > 0) text += QStringLiteral(", %1 con registros sin escribir").arg(waiting);
    if (!mqtt.enabled()) return text + QStringLiteral("; sin MQTT");
    if (!broker) return text + QStringLiteral("; MQTT conectando");
    text += broker->connected ? QStringLiteral("; MQTT conectado, ")
                              : QStringLiteral("; MQTT sin conexión, ");
    text += counted(broker->pending, "pendiente", "pendientes");
    if (broker->dropped > 0)
        text += QStringLiteral(", ") + counted(broker->dropped, "descartado", "descartados");
    return text;
}

}  // namespace

void tellModule(const StationModule& module, const QString& text, Priority priority) {
    tellUser(module.name() + QStringLiteral(": ") + text, priority);
}

StateLines::StateLines(Station& station, QObject* parent) : QObject(parent), station_(station) {
    for (const StationModule* module : station.modules()) watch(*module);
    connect(&station, &Station::plantStatus, this, &StateLines::noteBroker);
}

void StateLines::tellStarted(const QString& dir) {
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
    for (const QString& warning : station_.warnings()) tellUser(warning, Priority::Warning);
    noteStatus();
}

void StateLines::watch(const StationModule& module) {
    const StationModule* m = &module;
    told_[m] = module.state();
    connect(m, &StationModule::stateChanged, this, [this, m](const ModuleState& now) {
        const ModuleState before = std::exchange(told_[m], now);
        if (now.answering != before.answering && now.answering)
            tellModule(
                *m, *now.answering ? QStringLiteral("el módulo responde") : noCommunicationText(),
                *now.answering ? Priority::Info : Priority::Warning);
        for (const Record record : {Record::Weights, Record::Doses, Record::Changes})
            notePending(*m, record, now.pendingOf(record));
        if (now.notice && now.notice != before.notice) tellModule(*m, *now.notice);
        noteStatus();
    });
}

void StateLines::notePending(const StationModule& module, Record record, int count) {
    Waiting& w = waiting_[{&module, record}];
    if (w.now == 0 && count > 0)
        tellModule(module, notWrittenText({pendingText(record, count)}), Priority::Error);
    if (w.now > 0 && count == 0) tellModule(module, writtenAgainText(record, w.most));
    w.now = count;
    w.most = count == 0 ? 0 : std::max(w.most, count);
}

void StateLines::noteBroker(const MqttStatus& status) {
    // Before the first attempt has an outcome there is nothing to say.
    if (!status.connected && status.reason.isEmpty()) return;
    brokerStatus_ = status;
    noteStatus();
    const std::pair<bool, QString> state{status.connected, status.reason};
    if (broker_ == state) return;
    broker_ = state;
    tellUser(mqttStatusText(status), status.connected ? Priority::Info : Priority::Warning);
}

void StateLines::noteStatus() {
    QList<ModuleState> states;
    for (const StationModule* module : station_.modules()) states << told_[module];
    const QString now = serviceStatusText(states, station_.mqttConfig(), brokerStatus_);
    if (now == status_) return;
    status_ = now;
    emit statusChanged(now);
}
