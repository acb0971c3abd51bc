#pragma once

#include <QHostAddress>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>

#include <optional>

// An HTTP server on 127.0.0.1 with one scripted answer per path; every connection closes after its answer.
class LocalHttpServer : public QObject {
public:
    struct Answer {
        Answer(int status = 200, QByteArray body = {}, bool length = true,
               std::optional<qint64> stopAfter = {}, QByteArray location = {},
               std::optional<qint64> claimed = {})
            : status(status), body(body), length(length), stopAfter(stopAfter), location(location),
              claimed(claimed) {}
        int status;
        QByteArray body;
        bool length;                     // send Content-Length
        std::optional<qint64> stopAfter; // close after this many body bytes
        QByteArray location;             // for redirects
        std::optional<qint64> claimed;   // the Content-Length sent, when not the body's
    };

    LocalHttpServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QByteArray url(const QByteArray& path) const {
        return "http://127.0.0.1:" + QByteArray::number(server_.serverPort()) + path;
    }
    void set(const QByteArray& path, Answer answer) { answers_.insert(path, answer); }
    int hits(const QByteArray& path) const { return hits_.value(path); }

private:
    void serve(QTcpSocket* socket) {
        QByteArray& request = requests_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray path = request.split(' ').value(1);
        requests_.remove(socket);
        ++hits_[path];
        const Answer a = answers_.value(path, Answer(404, "not here"));
        QByteArray head = "HTTP/1.1 " + QByteArray::number(a.status) + " X\r\nConnection: close\r\n";
        if (a.length)
            head += "Content-Length: " + QByteArray::number(a.claimed.value_or(a.body.size())) + "\r\n";
        if (!a.location.isEmpty())
            head += "Location: " + a.location + "\r\n";
        socket->write(head + "\r\n" + (a.stopAfter ? a.body.left(*a.stopAfter) : a.body));
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QMap<QByteArray, Answer> answers_;
    QMap<QByteArray, int> hits_;
    QMap<QTcpSocket*, QByteArray> requests_;
};
