#pragma once
// The one thread every accessibility call runs on: libatspi hangs when two threads call it at once, and
// its blocking calls dispatch incoming messages re-entrantly, so it must never be shared.

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <future>
#include <type_traits>
#include <utility>

namespace pavo::platform::linux_desktop {

class DesktopThread {
  public:
    boost::asio::thread_pool::executor_type executor() { return pool_.get_executor(); }
    bool isCurrent() const { return pool_.get_executor().running_in_this_thread(); }

    // Runs `work` on the thread and waits for it; called on the thread itself, it simply runs it.
    template <typename Work>
    std::invoke_result_t<Work&> run(Work work) {
        if (isCurrent()) return work();
        std::packaged_task<std::invoke_result_t<Work&>()> task(std::move(work));
        auto result = task.get_future();
        boost::asio::post(pool_, std::move(task));
        return result.get();
    }

    template <typename Work>
    void post(Work work) {
        boost::asio::post(pool_, std::move(work));
    }

    void join() { pool_.join(); }

  private:
    mutable boost::asio::thread_pool pool_{1};
};

}  // namespace pavo::platform::linux_desktop
