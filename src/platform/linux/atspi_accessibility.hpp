#pragma once
// The accessibility port over AT-SPI. Every libatspi call runs on the desktop thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/accessibility.hpp"
#include "platform/linux/desktop_thread.hpp"
#include "platform/linux/read_clock.hpp"

namespace pavo::platform::linux_desktop {

// Kept out of sight so that libatspi's headers stay out of this one.
class AtspiRegistry;
class ApplicationMemos;
class DescendantQuery;

enum class WheelDirection { up, down, left, right };

// Scrolls the wheel at a screen point; false when no event could be posted.
using WheelScroller = std::function<bool(AXPoint at, WheelDirection direction)>;

class AtspiAccessibility final : public Accessibility {
  public:
    AtspiAccessibility(std::shared_ptr<DesktopThread> thread, WheelScroller scroll);
    ~AtspiAccessibility() override;

    bool isProcessTrusted() override;
    AXElement applicationElement(std::int32_t pid) override;
    std::optional<std::int32_t> elementPid(const AXElement& element) override;
    std::optional<std::string> stringAttribute(const AXElement& element, std::string_view name) override;
    std::optional<bool> booleanAttribute(const AXElement& element, std::string_view name) override;
    std::optional<AXPoint> position(const AXElement& element) override;
    std::optional<AXSize> size(const AXElement& element) override;
    std::optional<std::vector<AXElement>> children(const AXElement& element, std::size_t limit) override;
    bool performAction(const AXElement& element, std::string_view action) override;
    bool setAttribute(const AXElement& element, std::string_view name,
                      const AXAttributeValue& value) override;

    // Input was posted: whatever was read before may have changed. Safe from any thread.
    void screenChanged();

    // The pid of the application whose toplevel window is active, as AT-SPI sees it.
    std::optional<std::int32_t> activeToplevelPid();

  private:
    std::shared_ptr<DesktopThread> thread_;
    WheelScroller scroll_;
    ReadClock clock_;
    std::optional<ReadStamp> reachableAt_;  // when the bus last answered
    // Made and released on the desktop thread; all null without an accessibility bus.
    std::unique_ptr<AtspiRegistry> registry_;
    std::unique_ptr<DescendantQuery> query_;
    std::unique_ptr<ApplicationMemos> applications_;
};

}  // namespace pavo::platform::linux_desktop
