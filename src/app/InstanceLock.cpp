#include "InstanceLock.h"

#include "Async.h"
#include "InstanceChannel.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::~InstanceLock() {
    ::close(fd_);
}

std::unique_ptr<InstanceLock> InstanceLock::tryAcquire(const QString& home, Outcome& outcome) {
    outcome = Outcome::unavailable;
    const std::optional<QString> file = InstanceChannel::lockPath(home);
    if (!file)
        return nullptr;
    const QByteArray path = QFile::encodeName(*file);
    // Close-on-exec: a relaunched connector must not inherit the lock of the one it replaces.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        outcome = errno == EWOULDBLOCK ? Outcome::takenByAnother : Outcome::unavailable;
        ::close(fd);
        return nullptr;
    }
    outcome = Outcome::held;
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

QCoro::Task<InstanceLock::Claim> InstanceLock::claim(QString home) {
    // Named, not a temporary in the co_await operand: GCC 12 destroys such temporaries twice.
    auto job = [home] {
        Claim claim;
        claim.lock = tryAcquire(home, claim.outcome);
        return claim;
    };
    co_return co_await Async::onWorker(std::move(job));
}
