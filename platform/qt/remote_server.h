// The remote-control server on a TCP socket (the port-5025 convention): newline-ended lines in,
// replies out, one client at a time, in the GUI thread's event loop.
#pragma once

#include "platform/remote_service.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace platform::qt {

class RemoteServer : public QObject {
  public:
    // `onExit` runs once the service asks the program to end.
    RemoteServer(RemoteService& service, std::function<void()> onExit, QObject* parent = nullptr);
    ~RemoteServer() override;
    // Starts listening; false with `error` when the address or port cannot be had.
    bool listen(const QString& address, quint16 port, QString& error);
    void close();
    bool isListening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }

  private:
    void accept();
    // Runs what the client sent, line by line, until it has nothing more, a line waits for an
    // operation, or replies are backed up.
    void serve();
    // The next whole line, false when none has arrived; a line too long is dropped on the way.
    bool nextLine(QByteArray& line);
    // A client that closed or failed, still waiting for its signals to arrive.
    bool gone() const;
    void drop(const std::string& why);

    RemoteService& service_;
    std::function<void()> onExit_;
    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QByteArray pending_;
    bool discarding_ = false; // inside a line that was too long, up to its end
    bool busy_ = false;       // a line is being run (it may process events)
    bool held_ = false;       // the line in hand waits for an operation or has more replies
};

} // namespace platform::qt
