#pragma once
// Runs a coroutine to completion from a test, on an io_context the test may share with servers it runs.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <exception>
#include <optional>
#include <utility>

namespace pavo::testing {

// Runs `io` until the task is done (other work on it runs meanwhile) and rethrows what the task threw.
// The guard keeps `run` going while the task waits on another executor's work.
template <typename T>
T await(boost::asio::io_context& io, boost::asio::awaitable<T> task) {
    std::optional<T> result;
    std::exception_ptr failure;
    auto guard = boost::asio::make_work_guard(io);
    boost::asio::co_spawn(io, std::move(task), [&](std::exception_ptr e, T value) {
        failure = e;
        if (!e) result = std::move(value);
        guard.reset();
        io.stop();
    });
    io.restart();
    io.run();
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

inline void await(boost::asio::io_context& io, boost::asio::awaitable<void> task) {
    std::exception_ptr failure;
    auto guard = boost::asio::make_work_guard(io);
    boost::asio::co_spawn(io, std::move(task), [&](std::exception_ptr e) {
        failure = e;
        guard.reset();
        io.stop();
    });
    io.restart();
    io.run();
    if (failure) std::rethrow_exception(failure);
}

// On the tests' own io_context, which lives as long as the process: a desktop thread may still hold it
// after the task has ended, so it must never be destroyed under it.
inline boost::asio::io_context& testContext() {
    static auto* io = new boost::asio::io_context;
    return *io;
}

template <typename T>
T await(boost::asio::awaitable<T> task) {
    return await(testContext(), std::move(task));
}

inline void await(boost::asio::awaitable<void> task) {
    await(testContext(), std::move(task));
}

}  // namespace pavo::testing
