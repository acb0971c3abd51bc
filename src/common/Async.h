#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace Async {

// Blocking I/O (sockets, hashing, child processes) runs here rather than on Qt's global pool, whose size is
// the core count: a few exchanges waiting out their time-outs must never starve the others.
QThreadPool& ioPool();

// Runs `work` on a worker thread and resumes the awaiting coroutine on its own (main) thread. The worker's
// exception reaches the awaiting side as the original exception, not as QUnhandledException.
template <typename F> auto onWorker(F work) -> QCoro::Task<std::invoke_result_t<F>> {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
        // Named, not a temporary: GCC 12 destroys a lambda temporary inside a co_await operand twice.
        auto job = [work = std::move(work)]() mutable {
            try {
                work();
                return std::exception_ptr{};
            } catch (...) {
                return std::current_exception();
            }
        };
        QFuture<std::exception_ptr> future = QtConcurrent::run(&ioPool(), std::move(job));
        std::exception_ptr error = co_await future;
        if (error)
            std::rethrow_exception(error);
    } else {
        struct Outcome {
            std::optional<R> value;
            std::exception_ptr error;
        };
        auto job = [work = std::move(work)]() mutable {
            Outcome o;
            try {
                o.value.emplace(work());
            } catch (...) {
                o.error = std::current_exception();
            }
            return o;
        };
        QFuture<Outcome> future = QtConcurrent::run(&ioPool(), std::move(job));
        Outcome outcome = co_await future;
        if (outcome.error)
            std::rethrow_exception(outcome.error);
        co_return std::move(*outcome.value);
    }
}

// Starts a separate main-thread task and returns at once. The task runs to its end on its own; an exception
// that escapes it is a bug, so it is logged instead of vanishing (QCoro drops it silently otherwise).
void spawn(QCoro::Task<void> task, const char* what = "task");

} // namespace Async
