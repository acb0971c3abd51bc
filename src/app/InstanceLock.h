#pragma once

#include <QCoroTask>
#include <QString>

#include <memory>

// The arbiter between connector starts of one user and home: an exclusive lock on a file in the user's
// private directory (one per home, as the hand-over socket), held for the life of the process. Of two starts
// at the same moment exactly one gets it; the kernel drops it when the process ends, however it ends, so a
// crash leaves nothing stale behind.
class InstanceLock {
public:
    enum class Outcome { held, takenByAnother, unavailable };

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    // Tries once, without waiting. Blocking file work: call it off the main thread (see claim()).
    static std::unique_ptr<InstanceLock> tryAcquire(const QString& home, Outcome& outcome);

    // tryAcquire on a worker, awaited. The lock, or nothing with the reason in `outcome`.
    struct Claim {
        std::shared_ptr<InstanceLock> lock;
        Outcome outcome = Outcome::unavailable;
    };
    static QCoro::Task<Claim> claim(QString home);

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};
