#include "overlay/service/consent_manager.hpp"

#include <utility>

namespace pavo::overlay {

std::optional<ConsentMode> consentModeFromString(std::string_view text) {
    if (text == "off") return ConsentMode::off;
    if (text == "destructive_only") return ConsentMode::destructive_only;
    if (text == "manual") return ConsentMode::manual;
    return std::nullopt;
}

std::string_view toString(ConsentMode mode) {
    switch (mode) {
        case ConsentMode::off:
            return "off";
        case ConsentMode::destructive_only:
            return "destructive_only";
        case ConsentMode::manual:
            return "manual";
    }
    return "off";
}

std::string_view toString(OperatorMode mode) {
    switch (mode) {
        case OperatorMode::allow:
            return "allow";
        case OperatorMode::requireApproval:
            return "require_approval";
        case OperatorMode::block:
            return "block";
    }
    return "allow";
}

ConsentManager::ConsentManager(ConsentMode mode)
    : mode_(mode),
      operatorMode_(mode == ConsentMode::off ? OperatorMode::allow : OperatorMode::requireApproval) {}

bool ConsentManager::shouldBlockForDestructive() const {
    return mode_ != ConsentMode::off;
}

void ConsentManager::waitForConsent(std::function<void()> released) {
    {
        std::lock_guard lock(mutex_);
        if (!waiter_) {
            paused_ = true;
            waiter_ = released ? std::move(released) : [] {};
            return;
        }
    }
    if (released) released();
}

void ConsentManager::setOperatorMode(OperatorMode mode) {
    std::function<void()> released;
    {
        std::lock_guard lock(mutex_);
        operatorMode_ = mode;
        if (mode == OperatorMode::block) {
            paused_ = true;  // a stored waiter stays waiting
            return;
        }
        if (!paused_) return;
        released = std::exchange(waiter_, nullptr);
        paused_ = false;
    }
    if (released) released();
}

OperatorMode ConsentManager::operatorMode() const {
    std::lock_guard lock(mutex_);
    return operatorMode_;
}

bool ConsentManager::isPaused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

void ConsentManager::registerAgentState(const std::optional<std::string>& clientId, AgentState state) {
    const std::string key = clientId.value_or("default");
    std::lock_guard lock(mutex_);
    if (state == AgentState::idle) {
        activeClientIDs_.erase(key);
    } else {
        activeClientIDs_.insert(key);
    }
}

std::size_t ConsentManager::activeClientCount() const {
    std::lock_guard lock(mutex_);
    return activeClientIDs_.size();
}

std::optional<Resolution> ConsentManager::resolution(const std::string& id) const {
    std::lock_guard lock(mutex_);
    auto it = results_.find(id);
    if (it == results_.end()) return std::nullopt;
    return it->second;
}

void ConsentManager::storeResolution(const std::string& id, Resolution resolution) {
    std::lock_guard lock(mutex_);
    results_.insert_or_assign(id, std::move(resolution));
}

void ConsentManager::removeResolution(const std::string& id) {
    std::lock_guard lock(mutex_);
    results_.erase(id);
}

}  // namespace pavo::overlay
