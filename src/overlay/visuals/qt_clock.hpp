#pragma once
// The program's clock: monotonic time since start-up and QTimer one-shots on the GUI thread.

#include <QElapsedTimer>
#include <QObject>

#include <map>

#include "overlay/visuals/clock.hpp"

class QTimer;

namespace pavo::overlay {

class QtClock final : public Clock {
  public:
    QtClock();
    ~QtClock() override;

    double now() const override;
    TimerId after(double seconds, Task task) override;
    void cancel(TimerId id) override;

  private:
    QElapsedTimer elapsed_;
    QObject owner_;
    TimerId nextId_ = 1;
    std::map<TimerId, QTimer*> timers_;
};

}  // namespace pavo::overlay
