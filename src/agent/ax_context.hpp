#pragma once
// What the accessibility handlers share for the life of the process, and the way they reach the desktop.

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <type_traits>
#include <utility>

#include "platform/desktop.hpp"

namespace pavo::agent {

class AXTreeCache;
class BatchManager;

struct AXContext {
    platform::Desktop& desktop;
    AXTreeCache& treeCache;
    BatchManager& batches;
};

template <typename Work>
boost::asio::awaitable<std::invoke_result_t<Work&>> runWork(Work work) {
    co_return work();
}

// Runs blocking desktop work on the desktop's own thread and resumes the caller on its executor, so the
// I/O thread keeps serving other connections meanwhile. Exceptions reach the caller. The caller's frame
// waits for the work, so the work may capture it by reference; prefer that to init-captures that move a
// coroutine's parameters, which g++ 12 destroys twice.
template <typename Work>
boost::asio::awaitable<std::invoke_result_t<Work&>> onDesktop(platform::Desktop& desktop, Work work) {
    co_return co_await boost::asio::co_spawn(desktop.executor(), runWork(std::move(work)), boost::asio::use_awaitable);
}

}  // namespace pavo::agent
