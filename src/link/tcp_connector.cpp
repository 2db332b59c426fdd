#include "tcp_connector.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QTcpSocket>
#include <utility>

// On the connector's thread: the socket of the newest attempt, until it connects (and goes
// to the asking thread) or fails.
class TcpConnector::Dialer : public QObject {
public:
    explicit Dialer(Attempts& attempts) : attempts_(attempts) {}

    void dial(quint64 attempt, const QString& host, quint16 port, qint64 readBufferSize,
              QThread* asking) {
        drop();
        attempt_ = attempt;
        asking_ = asking;
        socket_ = new QTcpSocket(this);
        socket_->setReadBufferSize(readBufferSize);
        // Looked at once the socket is through with the step that changed its state, never
        // from inside it: it may be handed over or deleted then.
        connect(socket_, &QAbstractSocket::stateChanged, this, &Dialer::look, Qt::QueuedConnection);
        socket_->connectToHost(host, port);
    }

    void drop() { delete std::exchange(socket_, nullptr); }

private:
    void look() {
        if (!socket_) return;
        const QAbstractSocket::SocketState state = socket_->state();
        if (state != QAbstractSocket::ConnectedState && state != QAbstractSocket::UnconnectedState)
            return;
        {
            QMutexLocker lock(&attempts_.mutex);
            if (attempts_.awaited == attempt_ && !attempts_.hasEnded) {
                attempts_.hasEnded = true;
                if (state == QAbstractSocket::ConnectedState) {
                    socket_->disconnect(this);
                    socket_->setParent(nullptr);
                    socket_->moveToThread(asking_);
                    attempts_.connected = std::exchange(socket_, nullptr);
                }
                attempts_.ended.wakeAll();
            }
        }
        // Failed, or connected after it was abandoned.
        drop();
    }

    Attempts& attempts_;
    quint64 attempt_ = 0;
    QThread* asking_ = nullptr;
    QTcpSocket* socket_ = nullptr;
};

TcpConnector::TcpConnector() : dialer_(new Dialer(attempts_)) {
    thread_.setObjectName(QStringLiteral("connect"));
    dialer_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, dialer_, &QObject::deleteLater);
    thread_.start();
}

TcpConnector::~TcpConnector() {
    delete forgetAwaited();
    // The dialer's thread never blocks: it ends at once, and with it the dialer and the
    // attempt it holds.
    thread_.quit();
    thread_.wait();
}

QTcpSocket* TcpConnector::forgetAwaited() {
    QMutexLocker lock(&attempts_.mutex);
    attempts_.awaited = 0;
    attempts_.hasEnded = false;
    return std::exchange(attempts_.connected, nullptr);
}

void TcpConnector::start(const QString& host, quint16 port, qint64 readBufferSize) {
    delete forgetAwaited();
    quint64 attempt = 0;
    {
        QMutexLocker lock(&attempts_.mutex);
        attempt = ++attempts_.last;
        attempts_.awaited = attempt;
    }
    QMetaObject::invokeMethod(
        dialer_,
        [dialer = dialer_, attempt, host, port, readBufferSize, asking = QThread::currentThread()] {
            dialer->dial(attempt, host, port, readBufferSize, asking);
        },
        Qt::QueuedConnection);
}

void TcpConnector::abandon() {
    delete forgetAwaited();
    QMetaObject::invokeMethod(
        dialer_, [dialer = dialer_] { dialer->drop(); }, Qt::QueuedConnection);
}

bool TcpConnector::underWay() const {
    QMutexLocker lock(&attempts_.mutex);
    return attempts_.awaited != 0;
}

std::unique_ptr<QTcpSocket> TcpConnector::takeEnd(int ms) {
    QMutexLocker lock(&attempts_.mutex);
    if (attempts_.awaited == 0) return nullptr;
    if (!attempts_.hasEnded) attempts_.ended.wait(&attempts_.mutex, QDeadlineTimer(ms));
    if (!attempts_.hasEnded) return nullptr;
    attempts_.awaited = 0;
    attempts_.hasEnded = false;
    return std::unique_ptr<QTcpSocket>(std::exchange(attempts_.connected, nullptr));
}
