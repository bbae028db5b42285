#include "platform/linux/linux_desktop.hpp"

#include <X11/Xlib.h>

#include "platform/linux/atspi_accessibility.hpp"
#include "platform/linux/desktop_thread.hpp"
#include "platform/linux/x11_workspace.hpp"
#include "platform/linux/xtest_input.hpp"

namespace pavo::platform::linux_desktop {

namespace {

int initialiseXlibThreads() {
    // Each part owns its display connection, but Xlib's own globals still need this before any call.
    return XInitThreads();
}

class LinuxDesktop final : public Desktop {
  public:
    LinuxDesktop()
        : threadsReady_(initialiseXlibThreads()),
          thread_(std::make_shared<DesktopThread>()),
          input_(std::make_unique<XTestInput>()),
          accessibility_(std::make_unique<AtspiAccessibility>(
              thread_,
              [input = input_.get()](AXPoint at, WheelDirection direction) {
                  return input->scrollWheel(at, direction);
              })),
          workspace_(std::make_unique<X11Workspace>(
              [ax = accessibility_.get()] { return ax->activeToplevelPid(); })) {
        input_->setPostedObserver([ax = accessibility_.get()] { ax->screenChanged(); });
    }

    ~LinuxDesktop() override {
        // The accessibility part releases its objects on the thread, so it goes before the thread ends.
        workspace_.reset();
        accessibility_.reset();
        thread_->join();
    }

    Accessibility& accessibility() override { return *accessibility_; }
    Workspace& workspace() override { return *workspace_; }
    InputEvents& input() override { return *input_; }
    boost::asio::any_io_executor executor() override { return thread_->executor(); }
    std::string accessibilityPermissionHint() const override { return kAccessibilityHint; }

    PermissionState permissions() override {
        return PermissionState{accessibility_->isProcessTrusted(), workspace_->hasDisplay(),
                               kAccessibilityHint, kScreenHint};
    }

  private:
    int threadsReady_;
    std::shared_ptr<DesktopThread> thread_;
    std::unique_ptr<XTestInput> input_;
    std::unique_ptr<AtspiAccessibility> accessibility_;
    std::unique_ptr<X11Workspace> workspace_;
};

}  // namespace

std::unique_ptr<Desktop> makeLinuxDesktop() {
    return std::make_unique<LinuxDesktop>();
}

}  // namespace pavo::platform::linux_desktop
