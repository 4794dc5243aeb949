// Lines are cut at '\n' (a '\r' before it is dropped) from a bounded buffer and run in order. A
// line that waits for an operation, or replies the client has not read yet, hold back the lines
// behind it: the event loop goes on meanwhile, and the client's own socket buffers push back.
#include "platform/qt/remote_server.h"

#include <QHostAddress>

#include <poll.h>

namespace platform::qt {

namespace {
constexpr auto kMaxLine = static_cast<qsizetype>(kMaxRemoteLine);
constexpr auto kBackPressure = static_cast<qint64>(kRemoteBackPressure);
constexpr auto kMaxUnread = static_cast<qint64>(kMaxRemoteUnread);
// What the socket takes from the network ahead of the lines being run.
constexpr qint64 kReadBuffer = 64 * 1024;
constexpr qint64 kReadChunk = 16 * 1024;
} // namespace

RemoteServer::RemoteServer(RemoteService& service, std::function<void()> onExit, QObject* parent)
    : QObject(parent), service_(service), onExit_(std::move(onExit)) {
    connect(&server_, &QTcpServer::newConnection, this, &RemoteServer::accept);
    // Posted by an operation that ended: the line waiting for it goes on.
    service_.setWake([this] { serve(); });
}

RemoteServer::~RemoteServer() {
    service_.setWake(nullptr);
    close();
}

bool RemoteServer::listen(const QString& address, quint16 port, QString& error) {
    QHostAddress host;
    if (address == "localhost")
        host = QHostAddress::LocalHost;
    else if (!host.setAddress(address)) {
        error = "\"" + address + "\" is not an IP address";
        return false;
    }
    if (!server_.listen(host, port)) {
        error = server_.errorString();
        return false;
    }
    return true;
}

void RemoteServer::close() {
    server_.close();
    if (client_) drop("the server was stopped");
}

bool RemoteServer::gone() const {
    if (!client_ || client_->state() != QAbstractSocket::ConnectedState) return true;
    // Its hang-up may not have been read yet, behind lines it sent: a client that reconnects at
    // once must not be judged against the one it replaces.
    pollfd p{static_cast<int>(client_->socketDescriptor()), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void RemoteServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (client_ && gone()) drop("");
        if (client_) {
            // One client at a time: the next one hears why and is let go.
            socket->write("VELT is in use by another remote client\n");
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        client_ = socket;
        // Replies go out at once: a client waits for each before it sends the next command.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setReadBufferSize(kReadBuffer);
        pending_.clear();
        discarding_ = false;
        held_ = false;
        connect(socket, &QTcpSocket::readyRead, this, &RemoteServer::serve);
        connect(socket, &QTcpSocket::bytesWritten, this, &RemoteServer::serve);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (client_ == socket) drop("");
        });
        connect(socket, &QAbstractSocket::errorOccurred, this,
                [this, socket](QAbstractSocket::SocketError error) {
                    if (client_ != socket) return;
                    drop(error == QAbstractSocket::RemoteHostClosedError
                             ? ""
                             : socket->errorString().toStdString());
                });
        service_.connected(socket->peerAddress().toString().toStdString() + ":" +
                           std::to_string(socket->peerPort()));
        serve(); // bytes that came with the connection
    }
}

void RemoteServer::drop(const std::string& why) {
    QTcpSocket* socket = client_;
    client_ = nullptr;
    pending_.clear();
    held_ = false;
    if (!socket) return;
    service_.disconnected(why);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

bool RemoteServer::nextLine(QByteArray& line) {
    for (;;) {
        const qsizetype end = pending_.indexOf('\n');
        if (end >= 0) {
            line = pending_.left(end);
            pending_.remove(0, end + 1);
            if (line.endsWith('\r')) line.chop(1);
            if (discarding_ || line.size() > kMaxLine) {
                if (!discarding_) service_.lineTooLong();
                discarding_ = false;
                continue;
            }
            return true;
        }
        // Whatever the line holds, it is dropped whole, up to its end (room for its '\r').
        if (pending_.size() > kMaxLine + 1) {
            if (!discarding_) service_.lineTooLong();
            discarding_ = true;
            pending_.clear();
        }
        if (client_->bytesAvailable() <= 0) return false;
        pending_ += client_->read(kReadChunk);
    }
}

void RemoteServer::serve() {
    // A command that processes events must not start the next line.
    if (busy_ || !client_) return;
    busy_ = true;
    while (client_) {
        // The client reads what it was sent before the next line runs.
        if (client_->bytesToWrite() > kBackPressure) break;
        std::string out;
        RemoteService::Step step = RemoteService::Step::Done;
        if (held_) {
            step = service_.resume(out);
        } else {
            QByteArray line;
            if (!nextLine(line)) break;
            step = service_.line(std::string_view(line.constData(), line.size()), out);
        }
        if (!client_) break; // the client left while the command ran
        held_ = step != RemoteService::Step::Done;
        if (!out.empty()) client_->write(out.data(), static_cast<qint64>(out.size()));
        if (client_->bytesToWrite() > kMaxUnread) {
            drop("it left more than 4 MB of replies unread");
            break;
        }
        if (service_.exitRequested()) {
            client_->flush();
            client_->waitForBytesWritten(1000);
            busy_ = false;
            if (onExit_) onExit_();
            return;
        }
        if (step == RemoteService::Step::Waiting) break;
    }
    busy_ = false;
}

} // namespace platform::qt
