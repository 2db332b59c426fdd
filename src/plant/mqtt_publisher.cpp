#include "mqtt_publisher.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHash>
#include <QList>
#include <QPair>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

#include "outbox.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Messages handed to the library and not yet acknowledged. Enough to keep the link busy
// while a backlog drains, and no more: the library looks each PUBACK up in a list of
// everything in flight, so a wider window costs time per acknowledgement. A day's
// backlog goes in about 1 s with 300 against 1.5 s with 1000 on loopback, which keeps a
// live reading behind it under 2 s; on a plant network (well under 1 ms round trip)
// 300 in flight still carry tens of thousands of messages a second.
constexpr int kWindow = 300;
// While connecting, each pass of the loop waits at most this long for the socket: how
// soon a stop is noticed. Once connected the loop wakes for the socket, a new message
// or a stop, and at least this often for the keep-alive and the saved progress.
constexpr int kSliceMs = 50;
constexpr int kIdleMs = 250;
constexpr auto kFirstBackoff = 1s;
constexpr auto kMaxBackoff = 30s;
// How often acknowledgements are written down: a kill resends at most this much.
constexpr auto kSaveEvery = 250ms;
// A clean stop waits this long for the broker to take "offline" and the last PUBACKs.
constexpr auto kCloseWait = 300ms;

std::once_flag libraryInit;

// Every topic is a module's root and the message's name: "vormelq/linea1-2/lectura".
QByteArray moduleTopic(const QByteArray& root, const QByteArray& name) {
    return root + '/' + name;
}

// The broker's or the network's reason, in Spanish, for the operator.
QString connackReason(int connackCode) {
    switch (connackCode) {
        case 1:
            return QStringLiteral("el servidor no admite la versión del protocolo");
        case 2:
            return QStringLiteral("el servidor rechaza el identificador de cliente");
        case 3:
            return QStringLiteral("el servidor no está disponible");
        case 4:
        case 5:
            return QStringLiteral("el servidor rechaza el usuario o la clave");
        default:
            return QStringLiteral("el servidor rechaza la conexión (código %1)").arg(connackCode);
    }
}

QString connectionFailureReason(int mosquittoError, int systemError) {
    switch (mosquittoError) {
        case MOSQ_ERR_TLS:
            return QStringLiteral("certificado del servidor no verificado");
        case MOSQ_ERR_EAI:
            return QStringLiteral("nombre del servidor desconocido");
        case MOSQ_ERR_ERRNO:
            if (systemError == ECONNREFUSED)
                return QStringLiteral("servidor inaccesible: conexión rechazada");
            return QStringLiteral("servidor inaccesible");
        case MOSQ_ERR_PROTOCOL:
        case MOSQ_ERR_MALFORMED_PACKET:
            return QStringLiteral("respuesta no válida del servidor");
        case MOSQ_ERR_KEEPALIVE:
            return QStringLiteral("el servidor no responde");
        default:
            return QStringLiteral("conexión perdida con el servidor");
    }
}

// Holds a socket's small writes back while it lives, and sends them together as it ends.
class Cork {
public:
    Cork(int socket, bool on) : socket_(on ? socket : -1) { set(1); }
    ~Cork() { set(0); }
    Cork(const Cork&) = delete;
    Cork& operator=(const Cork&) = delete;

private:
    void set(int value) const {
        if (socket_ >= 0) ::setsockopt(socket_, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
    }
    const int socket_;
};

}  // namespace

// Everything the publishing thread uses, shared with the thread itself so that a thread
// stuck in a name lookup can be left to finish on its own after stop().
struct MqttPublisher::Engine {
    Engine(const MqttConfig& config, const QString& outboxDir)
        : config(config),
          outbox(outboxDir, config.maxPending),
          clientId(stationClientId(outboxDir).toUtf8()),
          roots{config.topicRoot.toUtf8()} {}

    ~Engine() {
        if (wakeFd >= 0) ::close(wakeFd);
    }
    void run();
    void startConnection();
    void service();
    void waitForWork();
    // Wakes the loop: a message to send, or a stop.
    void notify() {
        const std::uint64_t one = 1;
        if (wakeFd >= 0 && ::write(wakeFd, &one, sizeof one) < 0) {
            // Already signalled past the counter's limit: the loop wakes anyway.
        }
    }
    void fail(const QString& reason);
    void publishDue();
    void publishLatest(bool all);
    int publish(const QByteArray& topic, const QByteArray& payload, bool retain);
    int publishEstado(bool online);
    // Module 1's streams are named by their topic under its root, as the outbox has always
    // kept them; the other modules' by their whole topic.
    QByteArray topicOf(const QByteArray& stream) const {
        return stream.contains('/') ? stream : moduleTopic(roots.front(), stream);
    }
    void closeCleanly();
    void setStatus(bool connected, const QString& reason);
    bool stopping() {
        const std::lock_guard lock(mutex);
        return stopRequested;
    }

    const MqttConfig config;
    Outbox outbox;
    const QByteArray clientId;
    // Every module's root, module 1's first; the others are added before the thread starts.
    QList<QByteArray> roots;
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopRequested = false;
    bool finished = false;
    bool connected = false;
    QString reason;
    // The retained last values, by stream: sent when they change and again on every
    // connection.
    QList<QPair<QByteArray, QByteArray>> latest;
    std::set<QByteArray> latestDue;
    void keepLatest(const QByteArray& stream, const QByteArray& payload) {
        const std::lock_guard lock(mutex);
        const auto same = [&](const auto& kept) { return kept.first == stream; };
        if (const auto it = std::find_if(latest.begin(), latest.end(), same); it != latest.end())
            it->second = payload;
        else
            latest.append({stream, payload});
        latestDue.insert(stream);
    }
    // The thread's own.
    mosquitto* mosq = nullptr;
    bool acceptedConnection = false;
    QString refusal;
    Clock::time_point nextAttempt;
    Clock::duration backoff = kFirstBackoff;
    QHash<int, qint64> inFlight;  // message id -> outbox index
};

namespace {

MqttPublisher::Engine* engineOf(void* userdata) {
    return static_cast<MqttPublisher::Engine*>(userdata);
}

void onConnect(mosquitto*, void* userdata, int code) {
    auto* engine = engineOf(userdata);
    if (code != 0) {
        engine->refusal = connackReason(code);
        return;
    }
    engine->acceptedConnection = true;
    engine->backoff = kFirstBackoff;
    engine->publishEstado(true);
    engine->publishLatest(true);
    engine->setStatus(true, {});
}

void onPublish(mosquitto*, void* userdata, int mid) {
    auto* engine = engineOf(userdata);
    const auto it = engine->inFlight.constFind(mid);
    if (it == engine->inFlight.cend()) return;
    engine->outbox.acknowledged(*it);
    engine->inFlight.erase(it);
}

}  // namespace

void MqttPublisher::Engine::setStatus(bool isConnected, const QString& why) {
    const std::lock_guard lock(mutex);
    connected = isConnected;
    reason = why;
}

int MqttPublisher::Engine::publish(const QByteArray& topic, const QByteArray& payload,
                                   bool retain) {
    int mid = 0;
    const int rc =
        mosquitto_publish(mosq, &mid, topic.constData(), static_cast<int>(payload.size()),
                          payload.constData(), 1, retain);
    return rc == MOSQ_ERR_SUCCESS ? mid : 0;
}

int MqttPublisher::Engine::publishEstado(bool online) {
    // Module 1's goes last: a clean stop waits for its acknowledgement, by which the
    // broker has taken the others' too.
    int mid = 0;
    for (auto root = roots.crbegin(); root != roots.crend(); ++root)
        mid = publish(moduleTopic(*root, "estado"), estadoPayload(online), true);
    return mid;
}

void MqttPublisher::Engine::startConnection() {
    std::call_once(libraryInit, [] { mosquitto_lib_init(); });
    // A fresh client for every connection: nothing the library kept from the last one is
    // sent again behind the outbox's back; the outbox alone decides what goes.
    mosq = mosquitto_new(clientId.constData(), true, this);
    if (!mosq) {
        fail(QStringLiteral("sin memoria para el cliente MQTT"));
        return;
    }
    acceptedConnection = false;
    refusal.clear();
    inFlight.clear();
    outbox.rewind();
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq, 0);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq, onConnect);
    mosquitto_publish_callback_set(mosq, onPublish);
    // A killed station cannot tell its other modules' roots: the will is module 1's.
    const QByteArray willTopic = moduleTopic(roots.front(), "estado");
    const QByteArray will = estadoPayload(false);
    mosquitto_will_set(mosq, willTopic.constData(), static_cast<int>(will.size()), will.constData(),
                       1, true);
    if (!config.user.isEmpty())
        mosquitto_username_pw_set(
            mosq, config.user.toUtf8().constData(),
            config.password.isEmpty() ? nullptr : config.password.toUtf8().constData());
    if (config.tls()) {
        // The CA verifies the broker's certificate and its name; with TLS asked for,
        // nothing is ever sent in clear.
        int rc = mosquitto_tls_set(mosq, config.caFile.toLocal8Bit().constData(), nullptr, nullptr,
                                   nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_opts_set(mosq, 1, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(mosq, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(QStringLiteral("no se puede usar el certificado de CA"));
            return;
        }
    }
    // Asynchronous: the TCP connection and the TLS handshake go on in the loop, in
    // slices, so a black hole never holds the thread.
    const int rc = mosquitto_connect_async(mosq, config.host.toUtf8().constData(), config.port,
                                           config.keepalive);
    if (rc != MOSQ_ERR_SUCCESS) fail(connectionFailureReason(rc, errno));
}

void MqttPublisher::Engine::fail(const QString& why) {
    if (mosq) mosquitto_destroy(mosq);
    mosq = nullptr;
    inFlight.clear();
    setStatus(false, refusal.isEmpty() ? why : refusal);
    nextAttempt = Clock::now() + backoff;
    backoff = std::min<Clock::duration>(backoff * 2, kMaxBackoff);
}

void MqttPublisher::Engine::waitForWork() {
    pollfd fds[] = {{mosquitto_socket(mosq), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (mosquitto_want_write(mosq)) fds[0].events |= POLLOUT;
    ::poll(fds, wakeFd >= 0 ? 2 : 1, wakeFd >= 0 ? kIdleMs : kSliceMs);
    std::uint64_t count = 0;
    if (fds[1].revents & POLLIN && ::read(wakeFd, &count, sizeof count) < 0) {
        // Nothing to read: another pass found the signal first.
    }
}

void MqttPublisher::Engine::service() {
    // Connected, the loop waits for work itself and the library only does it; before,
    // the library waits for the connection in slices.
    if (acceptedConnection) waitForWork();
    const int rc = mosquitto_loop(mosq, acceptedConnection ? 0 : kSliceMs, 1);
    const int systemError = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        fail(connectionFailureReason(rc, systemError));
        return;
    }
    if (!acceptedConnection) {
        // A refused CONNACK: the library reports the lost connection next; the
        // broker's reason is the one to show. A listener that never answers is caught by
        // the library's keep-alive.
        if (!refusal.isEmpty()) fail(refusal);
        return;
    }
    publishDue();
}

void MqttPublisher::Engine::publishLatest(bool all) {
    QList<QPair<QByteArray, QByteArray>> due;
    {
        const std::lock_guard lock(mutex);
        for (const auto& kept : latest)
            if (all || latestDue.count(kept.first)) due.append(kept);
        latestDue.clear();
    }
    for (const auto& [stream, payload] : due) {
        if (publish(topicOf(stream), payload, true) != 0) continue;
        // Refused: sent again on the next pass, unless a newer value comes first.
        const std::lock_guard lock(mutex);
        latestDue.insert(stream);
    }
}

void MqttPublisher::Engine::publishDue() {
    publishLatest(false);
    if (inFlight.size() >= kWindow) return;
    const QList<Outbox::Message> messages = outbox.take(kWindow - inFlight.size());
    // Only the last reading stays with the broker for late subscribers: the newest of
    // each module once the outbox has handed out everything. A backlog draining spares
    // the broker replacing its retained reading at every message.
    QList<bool> retain(messages.size(), false);
    std::set<QByteArray> newest;
    const bool last = outbox.handedOutAll();
    for (qsizetype i = messages.size() - 1; i >= 0 && last; --i) {
        const QByteArray& stream = messages[i].stream;
        if (topicOf(stream).endsWith("/lectura")) retain[i] = newest.insert(stream).second;
    }
    // The library writes each message as it is published; a batch held back by the
    // socket until the last one goes to the broker in full segments, not one a message
    // (which costs the broker a wake-up each).
    const Cork cork(mosquitto_socket(mosq), messages.size() > 1);
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const Outbox::Message& message = messages[i];
        const int mid = publish(topicOf(message.stream), message.payload, retain[i]);
        if (mid == 0) {
            // The library did not take it: it and the rest go again on the next pass.
            outbox.unsent(message.index);
            return;
        }
        inFlight.insert(mid, message.index);
    }
}

void MqttPublisher::Engine::closeCleanly() {
    if (!mosq) return;
    if (acceptedConnection) {
        const int offline = publishEstado(false);
        // Tracked like a kept message so its PUBACK ends the wait; no outbox index is -1.
        inFlight.insert(offline, -1);
        const auto deadline = Clock::now() + kCloseWait;
        while (inFlight.contains(offline) && Clock::now() < deadline)
            if (mosquitto_loop(mosq, 20, 1) != MOSQ_ERR_SUCCESS) break;
        mosquitto_disconnect(mosq);
    }
    mosquitto_destroy(mosq);
    mosq = nullptr;
}

void MqttPublisher::Engine::run() {
    // A week's backlog takes a moment to read: here, not on the caller's thread.
    outbox.open();
    auto lastSave = Clock::now();
    while (!stopping()) {
        if (!mosq && Clock::now() >= nextAttempt) startConnection();
        if (mosq) {
            service();
        } else {
            std::unique_lock lock(mutex);
            wake.wait_until(lock, std::min(nextAttempt, Clock::now() + 1s),
                            [this] { return stopRequested; });
        }
        if (Clock::now() - lastSave >= kSaveEvery) {
            outbox.saveProgress();
            lastSave = Clock::now();
        }
    }
    closeCleanly();
    outbox.close();
    setStatus(false, reason);
    const std::lock_guard lock(mutex);
    finished = true;
    wake.notify_all();
}

MqttPublisher::MqttPublisher(const MqttConfig& config, const QString& outboxDir, int decimals)
    : engine_(std::make_shared<Engine>(config, outboxDir)), decimals_(decimals) {}

MqttPublisher::~MqttPublisher() {
    stop();
}

void MqttPublisher::addModule(int number, const QString& root, int decimals) {
    modules_.insert(number, {root.toUtf8(), decimals});
    engine_->roots << root.toUtf8();
}

QByteArray MqttPublisher::stream(int module, const char* name) const {
    if (module == 1) return name;
    return moduleTopic(modules_.value(module).first, name);
}

int MqttPublisher::decimals(int module) const {
    return module == 1 ? decimals_ : modules_.value(module).second;
}

void MqttPublisher::start() {
    if (!thread_.joinable()) thread_ = std::thread([engine = engine_] { engine->run(); });
}

void MqttPublisher::stop() {
    if (thread_.joinable()) finish();
    engine_->outbox.close();
}

void MqttPublisher::finish() {
    bool finished = false;
    {
        std::unique_lock lock(engine_->mutex);
        engine_->stopRequested = true;
        engine_->wake.notify_all();
        engine_->notify();
        finished = engine_->wake.wait_for(lock, 700ms, [this] { return engine_->finished; });
    }
    // Only a name lookup hanging in the system's resolver keeps the thread longer; it
    // then ends on its own, holding its share of the engine, and finds the outbox closed
    // here: once stop() returns, nothing touches its folder.
    if (finished)
        thread_.join();
    else
        thread_.detach();
}

void MqttPublisher::expectLectura(int module) {
    engine_->outbox.expect(stream(module, "lectura"));
}

void MqttPublisher::lectura(const QDateTime& when, const WeightReading& weights, int module) {
    engine_->outbox.add(stream(module, "lectura"), lecturaBody(when, weights, decimals(module)));
    engine_->notify();
}

void MqttPublisher::dosificacion(const DoseValues& dose, int module) {
    engine_->outbox.add(stream(module, "dosificacion"), dosificacionBody(dose, decimals(module)));
    engine_->notify();
}

void MqttPublisher::cambio(const QList<JsonField>& fields, int module) {
    engine_->outbox.add(stream(module, "cambio"), jsonObject(fields));
    engine_->notify();
}

void MqttPublisher::consignas(const QDateTime& when, const Setpoints& setpoints, int module,
                              const std::optional<QString>& product) {
    const QByteArray payload = consignasPayload(when, setpoints, decimals(module), product);
    engine_->keepLatest(stream(module, "consignas"), payload);
    engine_->notify();
}

void MqttPublisher::comunicacion(const QDateTime& when, bool answering, int module) {
    const QByteArray payload = comunicacionPayload(when, answering);
    engine_->keepLatest(stream(module, "comunicacion"), payload);
    engine_->notify();
}

MqttStatus MqttPublisher::status() const {
    MqttStatus status;
    {
        const std::lock_guard lock(engine_->mutex);
        status.connected = engine_->connected;
        status.reason = engine_->reason;
    }
    status.pending = engine_->outbox.pending();
    status.dropped = engine_->outbox.dropped();
    return status;
}
