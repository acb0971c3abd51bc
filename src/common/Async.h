#pragma once

#include <QCoroTask>
#include <QObject>
#include <QThreadPool>

#include <chrono>
#include <coroutine>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace Async {

// Blocking I/O (sockets, hashing, child processes) runs here rather than on Qt's global pool, whose size is
// the core count: a few exchanges waiting out their time-outs must never starve the others.
QThreadPool& ioPool();

namespace detail {

// An object living in the calling thread, through which a worker hands the coroutine back to that thread.
// It is never destroyed: a worker that finishes after the thread's end (or after main returned) still posts
// to a live object, and its call is simply never run.
QObject* resumeContext();

// Posts `resume` to `context`'s thread (a queued call: the worker never runs the coroutine itself).
void resumeOn(QObject* context, std::coroutine_handle<> handle);

template <typename R> struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
};
template <> struct Outcome<void> { std::exception_ptr error; };

// Suspends the coroutine, runs the work on a pool thread, and resumes the coroutine on the thread that
// awaited. Lighter than a QFuture and its watcher: one task on the pool and one queued call back.
template <typename F, typename R> struct WorkerAwaiter {
    F& work;
    Outcome<R>& outcome;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) {
        QObject* context = resumeContext();
        ioPool().start([this, handle, context] {
            try {
                if constexpr (std::is_void_v<R>)
                    work();
                else
                    outcome.value.emplace(work());
            } catch (...) {
                outcome.error = std::current_exception();
            }
            // Nothing of this awaiter is touched after the hand-back: the coroutine may resume at once.
            resumeOn(context, handle);
        });
    }
    void await_resume() const noexcept {}
};

} // namespace detail

// The calling thread's context object: calls queued on it from other threads run on this thread, and it
// lives as long as the process, so a late worker never posts to a destroyed object.
inline QObject* threadContext() {
    return detail::resumeContext();
}

// Runs `work` on a worker thread and resumes the awaiting coroutine on its own (main) thread. The worker's
// exception reaches the awaiting side as the original exception.
template <typename F> auto onWorker(F work) -> QCoro::Task<std::invoke_result_t<F>> {
    using R = std::invoke_result_t<F>;
    detail::Outcome<R> outcome;
    // Named, not a temporary: GCC 12 destroys a temporary inside a co_await operand twice.
    detail::WorkerAwaiter<F, R> awaiter{work, outcome};
    co_await awaiter;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*outcome.value);
}

// Sleeps at least `duration` by the steady clock, on the calling thread's event loop. Qt's default (coarse)
// timers may fire up to 5 % early, which would cut every time-out short.
QCoro::Task<void> sleepFor(std::chrono::milliseconds duration);

// Starts a separate main-thread task and returns at once. The task runs to its end on its own; an exception
// that escapes it is a bug, so it is logged instead of vanishing (QCoro drops it silently otherwise).
void spawn(QCoro::Task<void> task, const char* what = "task");

} // namespace Async
