#pragma once
// The way every request reaches the desktop: port calls run on the desktop's own thread while the
// request's coroutine waits, so the I/O thread keeps serving other connections meanwhile.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <type_traits>
#include <utility>

#include "platform/desktop.hpp"

namespace pavo::agent {

template <typename Work>
boost::asio::awaitable<std::invoke_result_t<Work&>> runWork(Work work) {
    co_return work();
}

// Runs `work` on the desktop's thread and resumes the caller on its own executor; exceptions reach the
// caller. The caller's frame waits for the work, so the work may capture it by reference: prefer that to
// init-captures that move a coroutine's parameters, which g++ 12 destroys twice.
template <typename Work>
boost::asio::awaitable<std::invoke_result_t<Work&>> onDesktop(platform::Desktop& desktop, Work work) {
    co_return co_await boost::asio::co_spawn(desktop.executor(), runWork(std::move(work)),
                                             boost::asio::use_awaitable);
}

}  // namespace pavo::agent
