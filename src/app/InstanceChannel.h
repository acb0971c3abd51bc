#pragma once

#include <QCoroTask>
#include <QList>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <optional>

// How a second start reaches the running connector on Linux, where the system does not deliver links and
// reopen requests to a running application by itself: a local socket that only this user can reach. The
// running instance listens; a later process sends its links (or "reopen") and ends.
//
// One message per connection, lines of text: "open <encoded link>" per link or one "reopen", then an empty
// line. The listener answers "ok" once it has taken the message.
namespace InstanceChannel {

// Links travel as the text they were given in: a parsed URL has already lower-cased its scheme and host,
// and the pairing link's checks are case-sensitive.
struct Message {
    QStringList links;
    bool reopen = false;
};

// The links among a start's arguments, as the desktop passes them (the entry's "%u"): elements that parse as
// a URL with a scheme. The program path and flags are not links.
QStringList linksIn(const QStringList& arguments);

QByteArray encode(const Message& message);
// Lines it does not know are skipped, and so are links that do not parse with a scheme. Links are
// percent-encoded on the wire, so any text (line feeds included) arrives exactly as sent.
Message decode(const QByteArray& bytes);

// A directory only this user can enter: $XDG_RUNTIME_DIR when it is ours and private, otherwise a 0700
// directory under the home (created or tightened here). Absent when neither can be had safely.
std::optional<QString> privateDirectory(const QString& home);
// The socket inside it; absent when the directory cannot be had or the path is too long for a socket.
std::optional<QString> socketPath(const QString& home);
// The file whose lock decides which start is that home's instance (InstanceLock.h), beside its socket.
std::optional<QString> lockPath(const QString& home);

// Sends one message, retrying the connection until `timeout` (the running instance may be a moment away
// from listening). True once the listener answered. Runs on a worker; never blocks the main thread.
QCoro::Task<bool> send(QString path, Message message, std::chrono::milliseconds timeout);

// The running instance's end of the channel. Its own accept loop rather than QLocalServer's: that one closes
// the server (and removes the socket file) the first time accept() fails, so a flood that exhausts the
// descriptors would silence every later start for good.
class Listener : public QObject {
    Q_OBJECT

public:
    // Hand-overs served at once. A start sends its message right after connecting, so only a flood fills
    // this; beyond it the oldest connection is dropped, which keeps the descriptors for the connector's own
    // work and still lets a new start through.
    static constexpr int maxConnections = 8;

    explicit Listener(QObject* parent = nullptr);
    ~Listener() override;

    // Takes over `path` (a stale socket left by an instance that died is removed first: the caller has made
    // sure no other instance runs). False with the reason logged when it cannot listen.
    bool listen(const QString& path);

signals:
    void received(const InstanceChannel::Message& message);

private:
    void acceptPending();
    void serve(int fd);

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* retry_ = nullptr;
    // Oldest first.
    QList<QPointer<QLocalSocket>> connections_;
};

} // namespace InstanceChannel
