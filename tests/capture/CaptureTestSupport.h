#pragma once
// Runs capture and media coroutines to their end and keeps what they threw.

#include "TestSupport.h"

#include <QString>
#include <exception>
#include <memory>
#include <optional>
#include <qcorotask.h>

namespace CaptureTest {

template <typename T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool finished = false;

    // The description of what was thrown, or "" when nothing was.
    QString errorText() const
    {
        if (!error)
            return {};
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            return QString::fromUtf8(e.what());
        }
    }
    template <typename E>
    std::optional<E> errorAs() const
    {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const E &e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }
};

struct Done {};

template <typename T>
Outcome<T> settle(QCoro::Task<T> task, int timeoutMs = 20000)
{
    // Shared, so a task still running after a time-out writes into something alive.
    auto outcome = std::make_shared<Outcome<T>>();
    auto wrapper = [](QCoro::Task<T> inner, std::shared_ptr<Outcome<T>> out) -> QCoro::Task<> {
        try {
            out->value = co_await std::move(inner);
        } catch (...) {
            out->error = std::current_exception();
        }
        out->finished = true;
    };
    auto running = wrapper(std::move(task), outcome);
    TestSupport::waitUntil([&] { return outcome->finished; }, timeoutMs);
    return *outcome;
}

inline Outcome<Done> settle(QCoro::Task<> task, int timeoutMs = 20000)
{
    return settle([](QCoro::Task<> inner) -> QCoro::Task<Done> {
        co_await std::move(inner);
        co_return Done{};
    }(std::move(task)), timeoutMs);
}

} // namespace CaptureTest
