#pragma once
// How long reads from applications are used: each read is stamped when it is made, and is used until its
// lifetime has passed or anything was done or posted since, whichever comes first.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace pavo::platform::linux_desktop {

using ReadTime = std::chrono::steady_clock::time_point;

struct ReadStamp {
    std::uint64_t generation = 0;  // none was ever current: an unstamped read is never used
    ReadTime time;
};

class ReadClock {
  public:
    using Now = std::function<ReadTime()>;
    explicit ReadClock(Now now = [] { return std::chrono::steady_clock::now(); });

    // Whatever was read before may have changed. Safe from any thread.
    void changed() { generation_.fetch_add(1); }

    ReadStamp stamp() const;
    // Whether what was read at `stamp` may still be used.
    bool usable(const ReadStamp& stamp, std::chrono::steady_clock::duration lifetime) const;
    // Whether it has outlived its lifetime, whatever happened since.
    bool expired(const ReadStamp& stamp, std::chrono::steady_clock::duration lifetime) const;

  private:
    Now now_;
    std::atomic<std::uint64_t> generation_{1};
};

}  // namespace pavo::platform::linux_desktop
