#include "Async.h"

#include <QCoroTimer>
#include <QDebug>
#include <QTimer>

#include <mutex>
#include <vector>

namespace Async {

QThreadPool& ioPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(64);
        return p;
    }();
    return *pool;
}

namespace detail {

QObject* resumeContext() {
    // Kept reachable from a static list, so leak checkers see them as the deliberate survivors they are.
    static std::mutex guard;
    static auto* kept = new std::vector<QObject*>;
    thread_local QObject* context = [] {
        auto* created = new QObject;
        const std::lock_guard lock(guard);
        kept->push_back(created);
        return created;
    }();
    return context;
}

void resumeOn(QObject* context, std::coroutine_handle<> handle) {
    QMetaObject::invokeMethod(
        context, [handle] { handle.resume(); }, Qt::QueuedConnection);
}

} // namespace detail

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + duration;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero())
            co_return;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        timer.start(left);
        co_await timer;
    }
}

namespace {
QCoro::Task<void> guarded(QCoro::Task<void> task, const char* what) {
    try {
        co_await std::move(task);
    } catch (const std::exception& e) {
        qCritical("escaped exception in %s: %s", what, e.what());
    } catch (...) {
        qCritical("escaped exception in %s", what);
    }
}
} // namespace

void spawn(QCoro::Task<void> task, const char* what) {
    // Eager task: it runs until its first suspension here, then the frame keeps itself alive.
    guarded(std::move(task), what);
}

} // namespace Async
