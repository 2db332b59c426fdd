#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

// Runs the real executables as a user would: the simulated module and the station in
// a directory of its own with a modbus.ini.

QString simPath();
QString stationPath();
// vormelq-servicio, the station without a window as its own package runs it.
QString servicePath();

// One run of `program` as a user runs it from a shell with no display, in `dir`, with
// `environment` ("NAME=value") on top of the test's own: its exit status (-1 when it
// crashed or did not end within `ms`), its standard output and its standard error.
struct CommandRun {
    int status = -1;
    QString out;
    QString err;
};
CommandRun runCommand(const QString& program, const QStringList& args, const QString& dir,
                      const QStringList& environment = {}, int ms = 120000);

// Waits for `condition`, letting events run; false when it never held within `ms`. The
// limit only keeps a broken build from hanging the suite; no test asserts on speed.
bool waitFor(const std::function<bool()>& condition, int ms = 60000);

// modbus.ini in `dir`: each value gets the trailing character the reader drops.
void writeIni(const QString& dir, const QMap<QString, QString>& keys);
// Appends the section [`section`] with `keys` to `dir`/modbus.ini, in the same form.
void addIniSection(const QString& dir, const QString& section, const QMap<QString, QString>& keys);
// modbus.ini keys for slave 1 polled every 100 ms over TCP to `port` on loopback, or
// over the serial device `device`; callers add or override the rest.
QMap<QString, QString> tcpIni(int port);
QMap<QString, QString> serialIni(const QString& device, const QString& baud = "115200");
// The lines of the log `dir`/`name`, without their CR LF.
QStringList logLines(const QString& dir, const QString& name = QStringLiteral("Peso.csv"));

// pymodbus as an independent slave serving RTU frames over TCP (holding register k is
// 0x0101 * k + 0x1234), started in `server`; its port, or 0 when it did not come up.
// `script`: another slave of the tests' own (a path from the source tree's root) that
// prints its port first the same way.
int startPymodbus(QProcess& server, const QStringList& args = {},
                  const QString& script = QStringLiteral("tests/link/modbus_rtu_tcp_server.py"));

// The working directory moved to `dir` while it lives: the station reads modbus.ini
// and writes Peso.csv there.
class CurrentDir {
public:
    explicit CurrentDir(const QString& dir);
    ~CurrentDir();

private:
    QString previous_;
};

class SimProcess {
public:
    ~SimProcess();
    // Starts vormelq-sim with `args`; true once it printed where it serves.
    bool start(const QStringList& args);
    QString host() const { return host_; }
    int port() const { return port_; }
    QString servedPath() const { return path_; }
    // The counters the simulator prints on SIGUSR1 (key=value), freshly asked for.
    QMap<QString, qint64> counters();
    void toggleSilent();  // a module switched off, or on again
    void stop();
    qint64 pid() const { return process_.processId(); }

private:
    QString readStdout();
    QProcess process_;
    QString output_;
    QString host_;
    QString path_;
    int port_ = 0;
};

class StationProcess {
public:
    StationProcess();
    ~StationProcess();
    void writeIni(const QMap<QString, QString>& keys) { ::writeIni(dir(), keys); }
    // `environment`: NAME=value entries over the test's own; a bare NAME removes it.
    bool start(const QStringList& environment = {}, const QStringList& arguments = {},
               const QString& program = stationPath());
    bool running() const { return process_.state() != QProcess::NotRunning; }
    QStringList logLines() const { return ::logLines(dir()); }
    QString dir() const { return dir_.path(); }
    QString stderrText();
    // Closes the window's process the way a session end would (SIGTERM), waits.
    void stop();
    int exitCode() const { return process_.exitCode(); }
    QProcess& process() { return process_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
};
