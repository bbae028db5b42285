#include "overlay/ui/controller.hpp"

#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <iostream>
#include <type_traits>

#include "overlay/ui/consent_dialog.hpp"
#include "overlay/service/event_server.hpp"
#include "overlay/service/socket_file.hpp"

namespace pavo::overlay {

OverlayAppDelegate::OverlayAppDelegate(CLIConfig config, ConsentManager& consentManager, QObject* parent)
    : QObject(parent), config_(std::move(config)), consentManager_(consentManager) {}

// The server's thread ends before the controller does, so no event can be queued to a controller that
// is gone; events already queued are dropped by Qt with their receiver.
OverlayAppDelegate::~OverlayAppDelegate() {
    eventServer_.reset();
}

void OverlayAppDelegate::applicationDidFinishLaunching() {
    // The overlay view and window, the activity-log window and (with the menu bar) the indicator come
    // first; the event server comes last so that nothing is posted before there is something to draw on.
    startEventServer();
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

void OverlayAppDelegate::handleEvent(const OverlayEvent& event) {
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, events::DestructivePrepare>) {
                presentDestructive();
                // The overlay stays paused until the operator chooses an operator mode; nothing follows.
                if (consentManager_.shouldBlockForDestructive()) consentManager_.waitForConsent({});
            } else if constexpr (std::is_same_v<E, events::DestructivePrompt>) {
                if (consentManager_.operatorMode() == OperatorMode::block) {
                    presentBlocked();  // the server has already refused the prompt
                    return;
                }
                presentDestructive();
                showDestructiveConsentModal(e.id, e.action);
            } else if constexpr (std::is_same_v<E, events::AgentStateChange>) {
                consentManager_.registerAgentState(e.clientId, e.state);
                switch (e.state) {
                    case AgentState::idle:
                        if (consentManager_.activeClientCount() == 0) scheduleTransitionToIdle();
                        break;
                    case AgentState::active:
                        scheduleTransitionToActive();
                        break;
                    case AgentState::destructive:
                        presentDestructive();
                        break;
                    case AgentState::paused:
                        presentBlocked();
                        break;
                }
            }
            // Display and audit events are drawn and logged by the view and the activity log.
        },
        event);
}

void OverlayAppDelegate::showDestructiveConsentModal(const std::string& id, const std::string& action) {
    // The dialog outlives nothing it needs: the answer goes to the consent manager, which outlives the
    // controller, and the presentation only while the controller is still there.
    ConsentManager& consentManager = consentManager_;
    QPointer<OverlayAppDelegate> self(this);
    openConsentDialog(QString::fromStdString(action), [&consentManager, self, id](bool granted) {
        consentManager.storeResolution(
            id, granted ? Resolution{true, std::nullopt} : Resolution{false, "consent_denied"});
        if (!self) return;
        if (granted) {
            self->presentApproved();
        } else {
            self->scheduleTransitionToIdle();
        }
    });
}

}  // namespace pavo::overlay
