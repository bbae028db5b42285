#pragma once
// The overlay's sense of time: a monotonic "now" in seconds and one-shot timers on the GUI thread.
// Layers, the indicator and the controller all take one, so a test can ask what is on screen at
// t = 0.3 s without waiting; the program uses QtClock.

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace pavo::overlay {

class Clock {
  public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    virtual ~Clock() = default;
    virtual double now() const = 0;
    // Runs `task` once, `seconds` from now (0: after the current work). Ids are never 0.
    virtual TimerId after(double seconds, Task task) = 0;
    // Forgets a pending timer; unknown or fired ids are ignored.
    virtual void cancel(TimerId id) = 0;
};

// Time moves only when told to; due timers run in order of their due time, then of their start.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(double start = 0) : now_(start) {}

    double now() const override { return now_; }
    TimerId after(double seconds, Task task) override;
    void cancel(TimerId id) override;

    // Moves to `time`, running every timer due on the way (also ones those timers start) at its due time.
    void advanceTo(double time);
    void advance(double seconds) { advanceTo(now_ + seconds); }
    std::size_t pendingTimers() const { return pending_.size(); }

  private:
    using Key = std::pair<double, TimerId>;
    std::map<Key, Task>::iterator findTimer(TimerId id);

    double now_;
    TimerId nextId_ = 1;
    std::map<Key, Task> pending_;
};

}  // namespace pavo::overlay
