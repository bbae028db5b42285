#pragma once
// A desktop held in memory, for deterministic tests, demos and benchmarks. It can be changed while a
// server uses it (switch the frontmost application, rename an element, revoke trust) and it records every
// action, attribute write, activation and input event with its time.

#include <boost/asio/thread_pool.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop.hpp"
#include "platform/simulated/scene.hpp"

namespace pavo::platform::simulated {

// One thing that happened to the desktop. `entry` holds "kind" ("action", "set", "activate", "launch",
// "mouse", "key") and its details.
struct DesktopRecord {
    std::chrono::steady_clock::time_point time;
    nlohmann::json entry;
};

class SimulatedDesktop final : public Desktop, Accessibility, Workspace, InputEvents {
  public:
    explicit SimulatedDesktop(Scene scene);

    // Loads the scene file and watches it: when the file is replaced or rewritten, the new scene takes
    // over at the next request (a file that does not parse then is ignored). When `journalPath` is
    // given, every record is also appended to it as one JSON line with "timeMs" since the desktop started.
    // Throws std::runtime_error when the file cannot be read or is not a valid scene.
    static std::unique_ptr<SimulatedDesktop> fromFile(const std::string& scenePath,
                                                      const std::optional<std::string>& journalPath);

    // Test controls; safe from any thread.
    void replaceScene(Scene scene);
    void setTrusted(bool trusted);
    void setFrontmost(std::optional<std::int32_t> pid);
    // Changes one element's attributes in place (not its children); false when there is no such element.
    bool modifyElement(std::int32_t pid, std::string_view scenePath,
                       const std::function<void(SimulatedElement&)>& change);
    std::vector<DesktopRecord> records() const;
    std::chrono::steady_clock::time_point startTime() const { return start_; }

    Accessibility& accessibility() override { return *this; }
    Workspace& workspace() override { return *this; }
    InputEvents& input() override { return *this; }
    boost::asio::any_io_executor executor() override { return thread_.get_executor(); }
    // A simulated desktop stands in for the system the API was first written for, and answers as it does.
    std::string accessibilityPermissionHint() const override {
        return "System Settings -> Privacy & Security -> Accessibility";
    }

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

    PermissionState permissions() override;

    Frontmost frontmost() override;
    std::optional<RunningApplication> runningApplication(std::string_view bundleId) override;
    std::optional<RunningApplication> applicationNamed(std::string_view name) override;
    ActivationRequest requestActivation(std::int32_t pid) override;
    bool isInstalled(std::string_view bundleId) override;
    std::optional<RunningApplication> startApplication(std::string_view bundleId) override;

    bool postMouseEvent(const MouseEvent& event) override;
    KeyPosting postKeyEvent(const KeyEvent& event) override;

  private:
    void reloadIfChanged();                              // caller holds mutex_
    void record(nlohmann::json entry);                   // caller holds mutex_
    SimulatedApplication* runningApp(std::int32_t pid);  // caller holds mutex_

    mutable std::mutex mutex_;
    std::shared_ptr<Scene> scene_;
    std::vector<DesktopRecord> records_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::optional<std::string> scenePath_;
    std::string sceneText_;
    std::ofstream journal_;
    boost::asio::thread_pool thread_{1};
};

}  // namespace pavo::platform::simulated
