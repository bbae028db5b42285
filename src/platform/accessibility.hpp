#pragma once
// What the agent needs from an accessibility API: read elements of other applications, act on them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pavo::platform {

// A reference to an element of another application. Opaque to callers and cheap to copy; it is only
// meaningful for the request that obtained it, since the element behind it may go away at any time.
class AXElement {
  public:
    AXElement() = default;
    explicit AXElement(std::shared_ptr<void> reference) : reference_(std::move(reference)) {}
    const std::shared_ptr<void>& reference() const { return reference_; }

  private:
    std::shared_ptr<void> reference_;
};

struct AXPoint {
    double x = 0;
    double y = 0;
};

struct AXSize {
    double width = 0;
    double height = 0;
};

// A value written to an attribute, such as "AXValue" (text) or "AXFocused" (a flag).
using AXAttributeValue = std::variant<std::string, bool, double>;

inline constexpr std::size_t kMaxChildren = 1000;

// Every read answers "absent" rather than failing: an attribute that cannot be read, or that holds another
// type than the one asked for, is simply not there. Calls block, so they run on the desktop's executor.
class Accessibility {
  public:
    virtual ~Accessibility() = default;

    virtual bool isProcessTrusted() = 0;
    virtual AXElement applicationElement(std::int32_t pid) = 0;
    virtual std::optional<std::int32_t> elementPid(const AXElement& element) = 0;
    virtual std::optional<std::string> stringAttribute(const AXElement& element, std::string_view name) = 0;
    virtual std::optional<bool> booleanAttribute(const AXElement& element, std::string_view name) = 0;
    virtual std::optional<AXPoint> position(const AXElement& element) = 0;
    virtual std::optional<AXSize> size(const AXElement& element) = 0;
    // The first `limit` children in the order the application reports them; absent when unreadable.
    virtual std::optional<std::vector<AXElement>> children(const AXElement& element, std::size_t limit) = 0;
    // True when the application accepted the action (e.g. "AXPress", "AXScrollDown").
    virtual bool performAction(const AXElement& element, std::string_view action) = 0;
    // True when the application accepted the new value.
    virtual bool setAttribute(const AXElement& element, std::string_view name,
                              const AXAttributeValue& value) = 0;
};

}  // namespace pavo::platform
