#include "overlay/ui/controller.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QString>

#include <exception>
#include <iostream>
#include <type_traits>

#include "overlay/service/event_server.hpp"
#include "overlay/service/socket_file.hpp"
#include "overlay/ui/activity_log_window.hpp"
#include "overlay/ui/consent_dialog.hpp"
#include "overlay/ui/menu_bar_indicator.hpp"
#include "overlay/visuals/desktop_appearance.hpp"
#include "overlay/visuals/overlay_view.hpp"
#include "overlay/visuals/overlay_window.hpp"
#include "overlay/visuals/qt_clock.hpp"

namespace pavo::overlay {

namespace {

void askWithDialog(const std::string& action, std::function<void(bool)> answered) {
    openConsentDialog(QString::fromStdString(action), std::move(answered));
}

}  // namespace

OverlayAppDelegate::OverlayAppDelegate(CLIConfig config, ConsentManager& consentManager, QObject* parent)
    : QObject(parent),
      ownClock_(std::make_unique<QtClock>()),
      clock_(*ownClock_),
      config_(std::move(config)),
      consentManager_(consentManager),
      askConsent_(&askWithDialog) {
    onQuit = [] { QCoreApplication::quit(); };
}

OverlayAppDelegate::OverlayAppDelegate(CLIConfig config, ConsentManager& consentManager, Clock& clock,
                                       QObject* parent)
    : QObject(parent),
      clock_(clock),
      config_(std::move(config)),
      consentManager_(consentManager),
      askConsent_(&askWithDialog) {
    onQuit = [] { QCoreApplication::quit(); };
}

// The server's thread ends first, so no event can be queued to a controller that is gone; events already
// queued are dropped by Qt with their receiver. The parts go before the model and clock they use.
OverlayAppDelegate::~OverlayAppDelegate() {
    eventServer_.reset();
    cancelIdleWatchdog();
    cancelAllowExpiryTimer();
    delete menuBarIndicator_;
    delete activityLogWindowController_;
    overlayWindow_.reset();
}

OverlayView* OverlayAppDelegate::overlayView() const {
    return overlayView_;
}

OverlayWindow* OverlayAppDelegate::overlayWindow() const {
    return overlayWindow_.get();
}

MenuBarIndicator* OverlayAppDelegate::menuBarIndicator() const {
    return menuBarIndicator_;
}

ActivityLogWindowController* OverlayAppDelegate::activityLogWindowController() const {
    return activityLogWindowController_;
}

void OverlayAppDelegate::applicationDidFinishLaunching() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // The desktop's animation setting is read once; changing it later takes a restart.
        auto* view = new OverlayView(clock_, desktopEffectStyle(), desktopWantsReducedMotion());
        overlayView_ = view;
        overlayWindow_ = std::make_unique<OverlayWindow>(*screen, view);
    } else {
        std::cout << "Warning: no screen to draw on; the overlay runs without its window" << std::endl;
    }
    activityLogWindowController_ = new ActivityLogWindowController(activityLogModel_, this);
    if (config_.showMenuBar) buildIndicator();
    startEventServer();
}

void OverlayAppDelegate::buildIndicator() {
    auto* indicator = new MenuBarIndicator(clock_, this);
    menuBarIndicator_ = indicator;
    indicator->currentOperatorMode = consentManager_.operatorMode();
    indicator->refreshMenuCheckmarks();
    QPointer<OverlayAppDelegate> self(this);
    indicator->onSetOperatorMode = [self](OperatorMode mode) {
        if (self) self->setOperatorMode(mode);
    };
    indicator->onSetAllowWithExpiry = [self](double seconds) {
        if (self) self->allowWithExpiry(seconds);
    };
    indicator->onQuitAction = [self] {
        if (self && self->onQuit) self->onQuit();
    };
    indicator->activityLogWindowController = activityLogWindowController_;
}

void OverlayAppDelegate::startEventServer() {
    eventServer_ = std::make_unique<EventServer>(static_cast<std::uint16_t>(config_.port), config_.token,
                                                 consentManager_);
    eventServer_->onEvent = [this](const OverlayEvent& event) {
        QMetaObject::invokeMethod(
            this, [this, event] { handleEvent(event); }, Qt::QueuedConnection);
    };
    try {
        serverPort_ = eventServer_->start();
    } catch (const std::exception& error) {
        std::cout << "EventServer failed: " << error.what() << std::endl;
        return;
    }
    // A file naming port 0 would tell the agent nothing; when a free port was asked for, publish the
    // one actually bound.
    if (config_.port == 0) publishOverlaySocketFile(*serverPort_, config_.token);
}

// ---- presentation ---------------------------------------------------------------------------------

void OverlayAppDelegate::present(IndicatorState indicator, RelayState relay) {
    if (menuBarIndicator_) menuBarIndicator_->setState(indicator);
    if (overlayView_) overlayView_->glassRelay().setState(relay);
}

// Runs the transition after the current handler, if the controller still exists then.
void OverlayAppDelegate::schedule(void (OverlayAppDelegate::*transition)()) {
    QPointer<OverlayAppDelegate> self(this);
    clock_.after(0, [self, transition] {
        if (self) ((*self).*transition)();
    });
}

void OverlayAppDelegate::transitionToIdle() {
    cancelIdleWatchdog();
    if (consentManager_.operatorMode() == OperatorMode::block) {
        present(IndicatorState::blocked, RelayState::blocked);
    } else {
        present(IndicatorState::idle, RelayState::idle);
    }
}

void OverlayAppDelegate::transitionToActive() {
    if (consentManager_.operatorMode() == OperatorMode::block) {
        present(IndicatorState::blocked, RelayState::blocked);
        return;
    }
    present(IndicatorState::active, RelayState::active);
    armIdleWatchdog();
}

void OverlayAppDelegate::transitionToDestructive() {
    present(IndicatorState::destructive, RelayState::destructivePending);
    cancelIdleWatchdog();
}

void OverlayAppDelegate::transitionToBlocked() {
    present(IndicatorState::blocked, RelayState::blocked);
    cancelIdleWatchdog();
}

void OverlayAppDelegate::cancelIdleWatchdog() {
    if (idleWatchdog_) clock_.cancel(*idleWatchdog_);
    idleWatchdog_.reset();
}

void OverlayAppDelegate::armIdleWatchdog() {
    cancelIdleWatchdog();
    QPointer<OverlayAppDelegate> self(this);
    idleWatchdog_ = clock_.after(idleWatchdogPeriod, [self] {
        if (!self) return;
        self->idleWatchdog_.reset();
        if (self->overlayView_ && self->overlayView_->glassRelay().currentState() == RelayState::active) {
            self->schedule(&OverlayAppDelegate::transitionToIdle);
        }
    });
}

// ---- events ---------------------------------------------------------------------------------------

void OverlayAppDelegate::handleEvent(const OverlayEvent& event) {
    auto at = [](const Point& p) { return QPointF(p.x, p.y); };
    auto box = [](const Rect& r) { return QRectF(r.x, r.y, r.width, r.height); };
    // No window manager keeps the overlay (which bypasses it) above windows mapped after it. (Headless
    // platforms have no stacking and complain about every raise.)
    static const bool stacked = QGuiApplication::platformName() != QLatin1String("offscreen");
    if (overlayWindow_ && stacked) overlayWindow_->raise();
    std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, events::CursorMove> || std::is_same_v<E, events::CursorHalo>) {
                schedule(&OverlayAppDelegate::transitionToActive);
                if (overlayView_) overlayView_->showCursorHalo(at(e.at));
            } else if constexpr (std::is_same_v<E, events::Click> || std::is_same_v<E, events::ClickRipple>) {
                if (overlayView_) overlayView_->showClickRipple(at(e.at));
            } else if constexpr (std::is_same_v<E, events::Key> || std::is_same_v<E, events::KeyChordPill>) {
                if (overlayView_) overlayView_->showKeyChordPill(QString::fromStdString(e.chord));
            } else if constexpr (std::is_same_v<E, events::ElementFocus>) {
                if (overlayView_) overlayView_->showElementBBox(box(e.frame));
            } else if constexpr (std::is_same_v<E, events::ElementBBox>) {
                if (overlayView_) overlayView_->showElementBBox(box(e.rect));
            } else if constexpr (std::is_same_v<E, events::DestructivePrepare>) {
                transitionToDestructive();
                if (overlayView_) overlayView_->showDestructiveBorder();
                // The overlay stays paused until the operator chooses an operator mode; nothing follows.
                if (consentManager_.shouldBlockForDestructive()) consentManager_.waitForConsent({});
            } else if constexpr (std::is_same_v<E, events::Status>) {
                schedule(e.state == "active" ? &OverlayAppDelegate::transitionToActive
                                             : &OverlayAppDelegate::transitionToIdle);
            } else if constexpr (std::is_same_v<E, events::DestructivePrompt>) {
                if (consentManager_.operatorMode() == OperatorMode::block) {
                    present(IndicatorState::blocked, RelayState::blocked);  // the server refused it already
                    return;
                }
                transitionToDestructive();
                if (overlayView_) overlayView_->showDestructiveBorder();
                showDestructiveConsentModal(e.id, e.action);
            } else if constexpr (std::is_same_v<E, events::AgentStateChange>) {
                consentManager_.registerAgentState(e.clientId, e.state);
                switch (e.state) {
                    case AgentState::idle:
                        if (consentManager_.activeClientCount() == 0)
                            schedule(&OverlayAppDelegate::transitionToIdle);
                        break;
                    case AgentState::active:
                        schedule(&OverlayAppDelegate::transitionToActive);
                        break;
                    case AgentState::destructive:
                        transitionToDestructive();
                        break;
                    case AgentState::paused:
                        transitionToBlocked();
                        break;
                }
            } else if constexpr (std::is_same_v<E, events::AuditLog>) {
                activityLogModel_.append(
                    ActivityLogEntry{e.ts, e.tool, e.argsHash, e.result, e.elapsedMs, e.reason});
            }
            // An ack changes nothing.
        },
        event);
}

void OverlayAppDelegate::showDestructiveConsentModal(const std::string& id, const std::string& action) {
    // The answer goes to the consent manager, which outlives the controller; the presentation follows
    // only while the controller is still there.
    ConsentManager& consentManager = consentManager_;
    QPointer<OverlayAppDelegate> self(this);
    askConsent_(action, [&consentManager, self, id](bool granted) {
        consentManager.storeResolution(
            id, granted ? Resolution{true, std::nullopt} : Resolution{false, "consent_denied"});
        if (!self) return;
        if (!granted) {
            self->schedule(&OverlayAppDelegate::transitionToIdle);
            return;
        }
        self->present(IndicatorState::active, RelayState::approved);
        // The perimeter returns to its working look after the flash; without a watchdog it would stay
        // there (and animate) until the next event.
        self->armIdleWatchdog();
    });
}

// ---- operator modes -------------------------------------------------------------------------------

void OverlayAppDelegate::cancelAllowExpiryTimer() {
    if (allowExpiryTimer_) clock_.cancel(*allowExpiryTimer_);
    allowExpiryTimer_.reset();
}

void OverlayAppDelegate::setOperatorMode(OperatorMode mode) {
    cancelAllowExpiryTimer();
    if (menuBarIndicator_) {
        menuBarIndicator_->allowExpiryDate.reset();
        menuBarIndicator_->refreshMenuCheckmarks();
    }
    consentManager_.setOperatorMode(mode);
    if (menuBarIndicator_) {
        menuBarIndicator_->currentOperatorMode = mode;
        menuBarIndicator_->refreshMenuCheckmarks();
    }
    if (mode == OperatorMode::block) {
        present(IndicatorState::blocked, RelayState::blocked);
    } else {
        present(IndicatorState::idle, RelayState::idle);
    }
}

void OverlayAppDelegate::armAllowExpiryTimer(double interval) {
    cancelAllowExpiryTimer();
    QPointer<OverlayAppDelegate> self(this);
    allowExpiryTimer_ = clock_.after(interval, [self] {
        if (self) self->allowExpired();
    });
}

void OverlayAppDelegate::allowWithExpiry(double seconds) {
    armAllowExpiryTimer(seconds);
    consentManager_.setOperatorMode(OperatorMode::allow);
    if (menuBarIndicator_) {
        menuBarIndicator_->currentOperatorMode = OperatorMode::allow;
        menuBarIndicator_->refreshMenuCheckmarks();
    }
    present(IndicatorState::idle, RelayState::idle);
    if (menuBarIndicator_) {
        menuBarIndicator_->allowExpiryDate = clock_.now() + seconds;
        menuBarIndicator_->refreshMenuCheckmarks();
    }
}

// A timed allow always falls back to require approval, whatever the mode was before it.
void OverlayAppDelegate::allowExpired() {
    allowExpiryTimer_.reset();
    if (menuBarIndicator_) menuBarIndicator_->allowExpiryDate.reset();
    consentManager_.setOperatorMode(OperatorMode::requireApproval);
    if (menuBarIndicator_) {
        menuBarIndicator_->currentOperatorMode = OperatorMode::requireApproval;
        menuBarIndicator_->refreshMenuCheckmarks();
    }
    present(IndicatorState::idle, RelayState::idle);
}

}  // namespace pavo::overlay
