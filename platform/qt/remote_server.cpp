// Lines are cut at '\n' (a '\r' before it is dropped) from a bounded buffer; a command runs to its
// end before the next line is read, so a client that pipelines commands gets them in order.
#include "platform/qt/remote_server.h"

#include <QHostAddress>

namespace platform::qt {

namespace {
constexpr auto kMaxLine = static_cast<qsizetype>(kMaxRemoteLine);
constexpr auto kMaxUnread = static_cast<qint64>(kMaxRemoteUnread);
} // namespace

RemoteServer::RemoteServer(RemoteService& service, std::function<void()> onExit, QObject* parent)
    : QObject(parent), service_(service), onExit_(std::move(onExit)) {
    connect(&server_, &QTcpServer::newConnection, this, &RemoteServer::accept);
}

RemoteServer::~RemoteServer() {
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

void RemoteServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
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
        pending_.clear();
        discarding_ = false;
        connect(socket, &QTcpSocket::readyRead, this, &RemoteServer::readClient);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (client_ == socket) drop("");
        });
        service_.connected(socket->peerAddress().toString().toStdString() + ":" +
                           std::to_string(socket->peerPort()));
        readClient(); // bytes that came with the connection
    }
}

void RemoteServer::drop(const std::string& why) {
    QTcpSocket* socket = client_;
    client_ = nullptr;
    pending_.clear();
    if (!socket) return;
    service_.disconnected(why);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void RemoteServer::readClient() {
    // A command that processes events (a long calibration) must not start the next line.
    if (busy_ || !client_) return;
    busy_ = true;
    while (client_) {
        pending_ += client_->readAll();
        const qsizetype end = pending_.indexOf('\n');
        if (end < 0) {
            if (pending_.size() > kMaxLine) {
                // Whatever the line holds, it is dropped whole, up to its end.
                if (!discarding_) service_.lineTooLong();
                discarding_ = true;
                pending_.clear();
            }
            break;
        }
        QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        if (discarding_ || line.size() > kMaxLine) {
            if (!discarding_) service_.lineTooLong();
            discarding_ = false;
            continue;
        }
        if (line.endsWith('\r')) line.chop(1);
        const std::string reply = service_.line(std::string_view(line.constData(), line.size()));
        if (!client_) break; // the client left while the command ran
        if (!reply.empty()) client_->write(reply.data(), static_cast<qint64>(reply.size()));
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
    }
    busy_ = false;
}

} // namespace platform::qt
