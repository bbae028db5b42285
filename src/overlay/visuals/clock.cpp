#include "overlay/visuals/clock.hpp"

#include <algorithm>

namespace pavo::overlay {

Clock::TimerId ManualClock::after(double seconds, Task task) {
    const TimerId id = nextId_++;
    pending_.emplace(Key{now_ + std::max(seconds, 0.0), id}, std::move(task));
    return id;
}

std::map<ManualClock::Key, Clock::Task>::iterator ManualClock::findTimer(TimerId id) {
    return std::find_if(pending_.begin(), pending_.end(),
                        [id](const auto& entry) { return entry.first.second == id; });
}

void ManualClock::cancel(TimerId id) {
    if (auto found = findTimer(id); found != pending_.end()) pending_.erase(found);
}

void ManualClock::advanceTo(double time) {
    while (!pending_.empty() && pending_.begin()->first.first <= time) {
        auto next = pending_.begin();
        now_ = std::max(now_, next->first.first);
        Task task = std::move(next->second);
        pending_.erase(next);
        task();
    }
    now_ = std::max(now_, time);
}

}  // namespace pavo::overlay
