#pragma once
// OverlayAppDelegate: the application controller. Lives on the GUI thread; builds the overlay's parts
// once the application has launched, turns decoded events into what the operator sees (effects, the
// perimeter, the tray indicator, the activity log), runs the consent dialog, applies the operator's
// mode choices with the timed allow and its expiry, and returns the display to idle when the agent
// falls silent.

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "overlay/service/command_line.hpp"
#include "overlay/service/consent_manager.hpp"
#include "overlay/service/event_decoder.hpp"
#include "overlay/ui/activity_log_model.hpp"
#include "overlay/ui/indicator_look.hpp"
#include "overlay/visuals/clock.hpp"
#include "overlay/visuals/glass_relay_layer.hpp"

namespace pavo::overlay {

class ActivityLogWindowController;
class EventServer;
class MenuBarIndicator;
class OverlayView;
class OverlayWindow;

class OverlayAppDelegate : public QObject {
  public:
    static constexpr double idleWatchdogPeriod = 5;

    // Asks the operator about an action; `answered` runs once with the answer.
    using ConsentAsker =
        std::function<void(const std::string& action, std::function<void(bool granted)> answered)>;

    OverlayAppDelegate(CLIConfig config, ConsentManager& consentManager, QObject* parent = nullptr);
    OverlayAppDelegate(CLIConfig config, ConsentManager& consentManager, Clock& clock,
                       QObject* parent = nullptr);
    ~OverlayAppDelegate() override;

    // Builds the parts in start-up order: view, window, activity-log window, indicator (with the menu
    // bar), and last the event server, so that nothing is posted before there is something to draw on.
    // When the server cannot listen the failure is printed and the application runs on without it.
    void applicationDidFinishLaunching();

    void handleEvent(const OverlayEvent& event);
    // Asks the operator about one prompt and stores the answer under `id` once it is given.
    void showDestructiveConsentModal(const std::string& id, const std::string& action);
    // The indicator's choices.
    void setOperatorMode(OperatorMode mode);
    void allowWithExpiry(double seconds);

    void armIdleWatchdog();
    void armAllowExpiryTimer(double interval);

    // Each is absent until built (the indicator without the menu bar, the view and window without a screen).
    OverlayView* overlayView() const;
    OverlayWindow* overlayWindow() const;
    MenuBarIndicator* menuBarIndicator() const;
    ActivityLogWindowController* activityLogWindowController() const;
    ActivityLogModel& activityLogModel() { return activityLogModel_; }
    std::optional<std::uint16_t> serverPort() const { return serverPort_; }

    // Replaces the modal dialog, e.g. to answer from a test.
    void setConsentAsker(ConsentAsker asker) { askConsent_ = std::move(asker); }
    // What the indicator's confirmed Quit does; by default the application quits.
    std::function<void()> onQuit;

  private:
    void startEventServer();
    void buildIndicator();

    void transitionToIdle();
    void transitionToActive();
    void transitionToDestructive();
    void transitionToBlocked();
    void schedule(void (OverlayAppDelegate::*transition)());
    void present(IndicatorState indicator, RelayState relay);
    void cancelIdleWatchdog();
    void cancelAllowExpiryTimer();
    void allowExpired();

    std::unique_ptr<Clock> ownClock_;
    Clock& clock_;
    CLIConfig config_;
    ConsentManager& consentManager_;
    std::unique_ptr<OverlayWindow> overlayWindow_;
    QPointer<OverlayView> overlayView_;
    std::unique_ptr<EventServer> eventServer_;
    QPointer<MenuBarIndicator> menuBarIndicator_;
    ActivityLogModel activityLogModel_;
    QPointer<ActivityLogWindowController> activityLogWindowController_;
    std::optional<Clock::TimerId> allowExpiryTimer_;
    std::optional<Clock::TimerId> idleWatchdog_;
    std::optional<std::uint16_t> serverPort_;
    ConsentAsker askConsent_;
};

}  // namespace pavo::overlay
