#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// Runs a task to completion in a local event loop. A task still running at the deadline fails loudly instead
// of hanging the test. Exceptions are caught inside a coroutine and rethrown here, because waiting on a task
// that throws would otherwise never return.
namespace TestSupport {

struct DeadlinePassed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace detail {
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};
template <>
struct Outcome<void> {
    std::exception_ptr error;
    bool done = false;
};

template <typename T>
QCoro::Task<void> collect(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome, std::shared_ptr<QEventLoop*> loop) {
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            outcome->value.emplace(co_await std::move(task));
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    if (*loop)
        (*loop)->quit();
}
} // namespace detail

template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    auto outcome = std::make_shared<detail::Outcome<T>>();
    auto loopRef = std::make_shared<QEventLoop*>(nullptr);
    detail::collect<T>(std::move(task), outcome, loopRef);
    if (!outcome->done) {
        QEventLoop loop;
        *loopRef = &loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(deadline);
        loop.exec();
        *loopRef = nullptr;
    }
    if (!outcome->done)
        throw DeadlinePassed("task still running after " + std::to_string(deadline.count()) + " ms");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

// Spins the event loop for a while (for work that runs on its own, like spawned tasks).
void spinFor(std::chrono::milliseconds duration);

// Spins until `condition` holds or the deadline passes; returns whether it held.
template <typename F>
bool spinUntil(F condition, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        spinFor(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace TestSupport
