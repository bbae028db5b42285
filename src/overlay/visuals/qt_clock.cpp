#include "overlay/visuals/qt_clock.hpp"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace pavo::overlay {

QtClock::QtClock() {
    elapsed_.start();
}

QtClock::~QtClock() = default;  // the timers are children of owner_

double QtClock::now() const {
    return static_cast<double>(elapsed_.nsecsElapsed()) / 1e9;
}

Clock::TimerId QtClock::after(double seconds, Task task) {
    const TimerId id = nextId_++;
    auto* timer = new QTimer(&owner_);
    timer->setSingleShot(true);
    // Animation steps are a fraction of a second apart; the coarse default would smear them by 5 %.
    timer->setTimerType(seconds < 10 ? Qt::PreciseTimer : Qt::CoarseTimer);
    QObject::connect(timer, &QTimer::timeout, &owner_, [this, id, timer, task = std::move(task)] {
        timers_.erase(id);
        timer->deleteLater();
        task();
    });
    timers_.emplace(id, timer);
    timer->start(static_cast<int>(std::clamp(std::ceil(seconds * 1000), 0.0, 2e9)));
    return id;
}

void QtClock::cancel(TimerId id) {
    auto found = timers_.find(id);
    if (found == timers_.end()) return;
    delete found->second;
    timers_.erase(found);
}

}  // namespace pavo::overlay
