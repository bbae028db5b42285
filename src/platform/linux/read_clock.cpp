#include "platform/linux/read_clock.hpp"

#include <utility>

namespace pavo::platform::linux_desktop {

ReadClock::ReadClock(Now now) : now_(std::move(now)) {}

ReadStamp ReadClock::stamp() const {
    return {generation_.load(), now_()};
}

bool ReadClock::usable(const ReadStamp& stamp, std::chrono::steady_clock::duration lifetime) const {
    return stamp.generation == generation_.load() && !expired(stamp, lifetime);
}

bool ReadClock::expired(const ReadStamp& stamp, std::chrono::steady_clock::duration lifetime) const {
    return now_() - stamp.time >= lifetime;
}

}  // namespace pavo::platform::linux_desktop
