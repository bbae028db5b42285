#include "platform/unavailable_desktop.hpp"

#include <boost/asio/thread_pool.hpp>

namespace pavo::platform {

namespace {

class UnavailableDesktop final : public Desktop, Accessibility, Workspace, InputEvents {
public:
    Accessibility& accessibility() override { return *this; }
    Workspace& workspace() override { return *this; }
    InputEvents& input() override { return *this; }
    boost::asio::any_io_executor executor() override { return thread_.get_executor(); }

    bool isProcessTrusted() override { return false; }
    AXElement applicationElement(std::int32_t) override { return AXElement(); }
    std::optional<std::int32_t> elementPid(const AXElement&) override { return std::nullopt; }
    std::optional<std::string> stringAttribute(const AXElement&, std::string_view) override { return std::nullopt; }
    std::optional<bool> booleanAttribute(const AXElement&, std::string_view) override { return std::nullopt; }
    std::optional<AXPoint> position(const AXElement&) override { return std::nullopt; }
    std::optional<AXSize> size(const AXElement&) override { return std::nullopt; }
    std::optional<std::vector<AXElement>> children(const AXElement&, std::size_t) override { return std::nullopt; }
    bool performAction(const AXElement&, std::string_view) override { return false; }
    bool setAttribute(const AXElement&, std::string_view, const AXAttributeValue&) override { return false; }

    std::optional<std::int32_t> frontmostPid() override { return std::nullopt; }
    std::optional<RunningApplication> runningApplication(std::string_view) override { return std::nullopt; }
    bool activate(std::int32_t) override { return false; }
    bool isInstalled(std::string_view) override { return false; }
    std::optional<RunningApplication> launch(std::string_view) override { return std::nullopt; }
    bool activateByName(std::string_view) override { return false; }

    bool postMouseEvent(const MouseEvent&) override { return false; }
    bool postKeyEvent(const KeyEvent&) override { return false; }

private:
    boost::asio::thread_pool thread_{1};
};

}  // namespace

std::unique_ptr<Desktop> makeUnavailableDesktop() { return std::make_unique<UnavailableDesktop>(); }

}  // namespace pavo::platform
