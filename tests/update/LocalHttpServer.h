#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>

#include <optional>

// A small HTTP/1.1 server on 127.0.0.1 for feed and download cases. Each path has a scripted answer; the
// server closes every connection after its answer (or part of it).
class LocalHttpServer : public QObject {
public:
    struct Answer {
        Answer(int status = 200, QByteArray body = {}, bool contentLength = true,
               std::optional<qint64> stopAfter = std::nullopt,
               std::optional<QByteArray> location = std::nullopt)
            : status(status), body(std::move(body)), contentLength(contentLength), stopAfter(stopAfter),
              location(std::move(location)) {}
        int status = 200;
        QByteArray body;
        bool contentLength = true;          // send Content-Length
        std::optional<qint64> stopAfter;    // close after this many body bytes
        std::optional<QByteArray> location; // Location header (redirects)
    };

    LocalHttpServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QByteArray url(const QByteArray& path) const {
        return "http://127.0.0.1:" + QByteArray::number(server_.serverPort()) + path;
    }
    void set(const QByteArray& path, Answer answer) { answers_[path] = std::move(answer); }
    int hits(const QByteArray& path) const { return hits_.value(path); }

private:
    void serve(QTcpSocket* socket) {
        QByteArray& pending = requests_[socket];
        pending += socket->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> line = pending.left(pending.indexOf("\r\n")).split(' ');
        requests_.remove(socket);
        const QByteArray path = line.size() >= 2 ? line[1] : QByteArray("/");
        ++hits_[path];
        const Answer answer = answers_.value(path, Answer{404, "not here", true, {}, {}});
        QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + " X\r\nConnection: close\r\n";
        if (answer.contentLength)
            head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        if (answer.location)
            head += "Location: " + *answer.location + "\r\n";
        socket->write(head + "\r\n");
        socket->write(answer.stopAfter ? answer.body.left(*answer.stopAfter) : answer.body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QMap<QByteArray, Answer> answers_;
    QMap<QByteArray, int> hits_;
    QMap<QTcpSocket*, QByteArray> requests_;
};
