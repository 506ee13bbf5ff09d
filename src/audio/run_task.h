#pragma once

#include <QCoro/QCoroTask>
#include <QEventLoop>

#include <exception>
#include <optional>
#include <type_traits>

namespace sonorel {

// Runs a task to its end for a caller that cannot await it (the command line),
// processing Qt events while it is suspended. Returns its result or rethrows
// its error.
template <typename T>
T runTask(QCoro::Task<T> task)
{
    using Result = std::conditional_t<std::is_void_v<T>, bool, T>;
    std::optional<Result> result;
    std::exception_ptr error;
    QEventLoop loop;
    bool done = false;
    auto capture = [](QCoro::Task<T> inner, std::optional<Result>& out, std::exception_ptr& failure, bool& finished,
                      QEventLoop& waiting) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(inner);
                out = true;
            } else {
                out = co_await std::move(inner);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
        waiting.quit();
    };
    auto running = capture(std::move(task), result, error, done, loop);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

}  // namespace sonorel
