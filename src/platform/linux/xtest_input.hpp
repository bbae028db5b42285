#pragma once
// Synthetic input through the XTest extension, on a display connection of its own.

#include <functional>
#include <memory>
#include <mutex>

#include "platform/accessibility.hpp"
#include "platform/input_events.hpp"
#include "platform/linux/atspi_accessibility.hpp"

namespace pavo::platform::linux_desktop {

class XTestInput final : public InputEvents {
  public:
    XTestInput();  // without a display every event is refused
    ~XTestInput() override;
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    bool postMouseEvent(const MouseEvent& event) override;
    KeyPosting postKeyEvent(const KeyEvent& event) override;
    bool scrollWheel(AXPoint at, WheelDirection direction);

    // Called after every posted event.
    void setPostedObserver(std::function<void()> observer) { posted_ = std::move(observer); }

    struct Connection;

  private:
    std::mutex mutex_;
    std::unique_ptr<Connection> connection_;
    std::function<void()> posted_;
};

}  // namespace pavo::platform::linux_desktop
