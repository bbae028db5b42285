#pragma once
// OverlayAppDelegate: the application controller. Lives on the GUI thread; builds the overlay's parts
// once the application has launched and turns decoded events into what the operator sees and answers.

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "overlay/service/command_line.hpp"
#include "overlay/service/consent_manager.hpp"
#include "overlay/service/event_decoder.hpp"

namespace pavo::overlay {

class EventServer;

class OverlayAppDelegate : public QObject {
  public:
    OverlayAppDelegate(CLIConfig config, ConsentManager& consentManager, QObject* parent = nullptr);
    ~OverlayAppDelegate() override;

    // Builds the parts in start-up order. The event server is the last; when it cannot listen the
    // failure is printed and the application runs on without it.
    void applicationDidFinishLaunching();

    void handleEvent(const OverlayEvent& event);

    // Asks the operator about one prompt and stores the answer under `id` once it is given.
    void showDestructiveConsentModal(const std::string& id, const std::string& action);

    // The port the event server listens on, once it does.
    std::optional<std::uint16_t> serverPort() const { return serverPort_; }

  private:
    void startEventServer();

    // Presentation seams: the overlay window and view, the menu-bar indicator and the activity log are
    // built by later parts of start-up; until they exist these change nothing on screen.
    void presentDestructive() {}
    void presentBlocked() {}
    void presentApproved() {}
    void scheduleTransitionToIdle() {}
    void scheduleTransitionToActive() {}

    CLIConfig config_;
    ConsentManager& consentManager_;
    std::unique_ptr<EventServer> eventServer_;
    std::optional<std::uint16_t> serverPort_;
};

}  // namespace pavo::overlay
