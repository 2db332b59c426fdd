#pragma once

#include <QDir>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "mqtt_publisher.h"
#include "product_table.h"
#include "startup_config.h"

class DirectoryLock;
class TopicClaim;
class LinkWorker;
class StationModule;

// Beside Peso.csv: the messages the plant's broker has not acknowledged yet, kept across
// restarts (the directory's other records share its lock).
constexpr const char* kMqttOutboxDir = "MQTT.pendiente";

// How many of the newest Cambios.csv lines a front end is handed at start.
constexpr int kStartChanges = 200;
// And of Dosificaciones.csv, the history its window shows.
constexpr int kStartDoses = 200;

// What the station is, without a window: reads the configuration, opens the link on the
// worker thread, keeps the records, feeds the broker and starts polling. A front end
// (the window) loads it, connects to its modules' signals, then starts it.
class Station : public QObject {
    Q_OBJECT
public:
    explicit Station(QObject* parent = nullptr);
    ~Station() override;

    // Takes the current directory for this station, reads modbus.ini there and opens
    // the link. On failure returns the Spanish description for the start-up message
    // box; the link is closed again. Another station in the directory is a failure
    // found before anything is read or opened.
    QString Form_Load();
    // After Form_Load, once the front end listens: the broker's status and polling.
    void start();
    // Every link's worker polls its modules from now on, a round every `intervalMs`
    // (none when 0). start() calls it with Timer.
    void startPolling(int intervalMs);
    bool polling() const { return polling_; }
    const QList<StationModule*>& modules() const { return modules_; }
    // After Form_Load: what it read, each module's keys in its order, and the broker's.
    const QList<StartupConfig>& configs() const { return configs_; }
    const MqttConfig& mqttConfig() const { return mqtt_; }
    // After Form_Load: what the configuration read leaves to be said, though the station
    // starts (a Clave other accounts can read).
    const QStringList& warnings() const { return warnings_; }
    // Whether every link's worker is waiting for work or on a step that began less than
    // `ms` ago: the poll loops are not stuck.
    bool linksMoving(qint64 ms) const;
    // The first module's link worker.
    LinkWorker* worker() { return links_.empty() ? nullptr : links_.front()->worker; }
    // Productos.csv as last read; none while there is no such file.
    const std::optional<ProductTable>& products() const { return products_; }
    // Puts a product of `fields` (the table's seven, as typed) in place of the one named
    // `before` (empty: a new one; no fields: `before` goes), rewrites Productos.csv whole
    // and records the change in `module`'s Cambios.csv. Nothing changes where it cannot
    // be done: the reason, in Spanish, for the operator.
    QString changeProduct(int module, const QString& before, const QStringList& fields);
    // How often Productos.csv is looked at for a change made by another program.
    static constexpr int kProductsCheckMs = 2000;

    // The plant's broker, or nullptr when modbus.ini names none. Its calls return at
    // once from any thread: the records' signals may reach it directly.
    MqttPublisher* plant() { return plant_.get(); }

    // Stops the worker at once (a transaction in progress is abandoned within one
    // wait slice), closes the link and the log, and frees the directory. Safe to call
    // twice. A worker that has not stopped within kWorkerStopMs ends the process
    // (status 1, a line on stderr).
    void Form_Unload();
    static constexpr int kWorkerStopMs = 1000;

public slots:
    // One round on every link now, unless one is still queued or running there.
    void Timer1_Timer();

signals:
    // The broker's state, every second while the station publishes to one.
    void plantStatus(const MqttStatus& status);

private:
    // One port or connection: its worker on a thread of its own, and the poll it owes.
    struct Line {
        StartupConfig config;  // the link keys of its first module
        QThread thread;
        LinkWorker* worker = nullptr;
        bool pollPending = false;
        // What the worker tells this line comes here, and is dropped once the line is gone.
        QObject receiver;
    };
    Line& startWorker(const StartupConfig& config);
    std::variant<QList<StartupConfig>, ConfigError> readModuleLinks(const QDir& here);
    QString openLinks(const QList<StartupConfig>& configs);
    // Productos.csv of `here`, when there is one.
    static std::optional<ProductTable> readProducts(const QDir& here);
    void addModule(const StartupConfig& config, const QDir& here);
    // The table to every module, each offered what fits its range; `how` the worker is
    // told (blocking before the first poll).
    void useProducts(const std::optional<ProductTable>& table, Qt::ConnectionType how);
    // Reads Productos.csv again when it is not as last read.
    void checkProducts();
    // What tells one state of the file from another: none when absent.
    static QString productsStamp(const QDir& here);
    void poll(Line& line);
    void pollFinished(Line& line);
    // The publisher with every module's topics; a key that cannot be used, for the
    // start-up box.
    QString connectPlant(const MqttConfig& config);
    void connectPlant(const StationModule& module);
    // Takes `root` for this station among this computer's; the start-up message naming
    // `key` when another station has it.
    QString claimTopicRoot(const MqttConfig& config, const QString& root, const QString& key);

    std::unique_ptr<DirectoryLock> lock_;
    std::vector<std::unique_ptr<TopicClaim>> rootClaims_;
    std::vector<std::unique_ptr<Line>> links_;
    QList<StationModule*> modules_;
    StartupConfig config_;
    QList<StartupConfig> configs_;
    MqttConfig mqtt_;
    QStringList warnings_;
    std::unique_ptr<MqttPublisher> plant_;
    bool polling_ = false;
    QTimer plantStatusTimer_;
    QDir here_;
    std::optional<ProductTable> products_;
    QString productsStamp_;
    QTimer productsTimer_;
};
