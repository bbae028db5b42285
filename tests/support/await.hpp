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

// On an io_context of its own, run until all its work is done: what the task started on other threads may
// still hold it after the task's end.
template <typename T>
T await(boost::asio::awaitable<T> task) {
    boost::asio::io_context io;
    std::optional<T> result;
    std::exception_ptr failure;
    boost::asio::co_spawn(io, std::move(task), [&](std::exception_ptr e, T value) {
        failure = e;
        if (!e) result = std::move(value);
    });
    io.run();
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

inline void await(boost::asio::awaitable<void> task) {
    boost::asio::io_context io;
    std::exception_ptr failure;
    boost::asio::co_spawn(io, std::move(task), [&](std::exception_ptr e) { failure = e; });
    io.run();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace pavo::testing
