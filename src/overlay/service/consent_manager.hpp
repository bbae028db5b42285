#pragma once
// The overlay's whole consent state. Shared by the event server's thread and the GUI thread; every
// operation is one short critical section, and callbacks never run while the lock is held.

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "overlay/service/event_decoder.hpp"

namespace pavo::overlay {

// Chosen at start-up, fixed for the life of the process.
enum class ConsentMode { off, destructive_only, manual };

// Chosen by the operator in the menu bar.
enum class OperatorMode { allow, requireApproval, block };

std::optional<ConsentMode> consentModeFromString(std::string_view text);
std::string_view toString(ConsentMode mode);
std::string_view toString(OperatorMode mode);  // "allow", "require_approval", "block"

// The answer to one consent prompt.
struct Resolution {
    bool granted = false;
    std::optional<std::string> reason;  // absent when granted
    bool operator==(const Resolution&) const = default;
};

class ConsentManager {
  public:
    explicit ConsentManager(ConsentMode mode);

    ConsentMode mode() const { return mode_; }
    bool shouldBlockForDestructive() const;

    // Pauses the overlay until the operator chooses a mode that does not block. `released` runs on the
    // thread that makes that choice. There is at most one waiter: when one is already stored, `released`
    // runs at once, before this returns, and the pause is unchanged.
    void waitForConsent(std::function<void()> released);

    void setOperatorMode(OperatorMode mode);
    OperatorMode operatorMode() const;
    bool isPaused() const;

    // A client without an id counts as "default".
    void registerAgentState(const std::optional<std::string>& clientId, AgentState state);
    std::size_t activeClientCount() const;

    std::optional<Resolution> resolution(const std::string& id) const;
    void storeResolution(const std::string& id, Resolution resolution);  // replaces any earlier entry
    void removeResolution(const std::string& id);

  private:
    const ConsentMode mode_;
    mutable std::mutex mutex_;
    bool paused_ = false;
    std::function<void()> waiter_;
    std::map<std::string, Resolution> results_;
    OperatorMode operatorMode_;
    std::set<std::string> activeClientIDs_;
};

}  // namespace pavo::overlay
