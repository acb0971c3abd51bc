#include "Async.h"

#include <QDebug>

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
    // One per thread, owned by the thread and gone with it.
    thread_local QObject context;
    return &context;
}

void resumeOn(QObject* context, std::coroutine_handle<> handle) {
    QMetaObject::invokeMethod(
        context, [handle] { handle.resume(); }, Qt::QueuedConnection);
}

} // namespace detail

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
