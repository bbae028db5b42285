#include "platform/linux/atspi_registry.hpp"

#include <algorithm>
#include <utility>

#include "platform/linux/atspi_bulk.hpp"

namespace pavo::platform::linux_desktop {

namespace {

const char* busNameOf(AtspiAccessible* object) {
    AtspiApplication* app = object->parent.app;
    return app ? app->bus_name : nullptr;
}

bool hasActiveToplevel(AtspiAccessible* application) {
    CallError error;
    const gint windows = atspi_accessible_get_child_count(application, error.out());
    for (gint w = 0; !error.failed() && w < windows; ++w) {
        const GObjectPtr<AtspiAccessible> window(
            atspi_accessible_get_child_at_index(application, w, error.out()));
        if (!window) continue;
        const GObjectPtr<AtspiStateSet> states(atspi_accessible_get_state_set(window.get()));
        if (states && atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE)) return true;
    }
    return false;
}

}  // namespace

std::unique_ptr<AtspiRegistry> AtspiRegistry::connect() {
    // 0 the first time, 1 when already done in this process; anything else means no accessibility bus.
    const int status = atspi_init();
    if (status != 0 && status != 1) return nullptr;
    atspi_set_timeout(kCallTimeoutMs, kCallTimeoutMs);
    GObjectPtr<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return nullptr;
    return std::make_unique<AtspiRegistry>(std::move(desktop));
}

AtspiRegistry::AtspiRegistry(GObjectPtr<AtspiAccessible> desktop) : desktop_(std::move(desktop)) {}

bool AtspiRegistry::reachable() {
    atspi_accessible_clear_cache(desktop_.get());
    CallError error;
    const gint count = atspi_accessible_get_child_count(desktop_.get(), error.out());
    return !error.failed() && count >= 0;
}

std::optional<RegisteredApplication> AtspiRegistry::application(std::int32_t pid) {
    // Applications whose pids are known are matched from one listing; only when one is new, or the
    // listing changed in between, is every application asked on its own.
    if (auto names = registeredBusNames()) {
        auto knownPid = [&](const std::string& name) -> std::optional<std::int32_t> {
            auto known = pidsByBusName_.find(name);
            if (known == pidsByBusName_.end()) return std::nullopt;
            return known->second;
        };
        const auto listed = std::find_if(names->begin(), names->end(),
                                         [&](const std::string& name) { return knownPid(name) == pid; });
        if (listed != names->end()) {
            if (auto found = listedApplication(static_cast<std::size_t>(listed - names->begin()), *listed))
                return found;
        } else if (std::all_of(names->begin(), names->end(),
                               [&](const std::string& name) { return knownPid(name).has_value(); })) {
            return std::nullopt;
        }
    }
    return askingEach(pid);
}

std::optional<std::int32_t> AtspiRegistry::activeToplevelPid() {
    atspi_accessible_clear_cache(desktop_.get());
    CallError error;
    const gint count = atspi_accessible_get_child_count(desktop_.get(), error.out());
    if (error.failed()) return std::nullopt;
    for (gint i = 0; i < count; ++i) {
        const GObjectPtr<AtspiAccessible> app(
            atspi_accessible_get_child_at_index(desktop_.get(), i, error.out()));
        if (error.failed() || !app) continue;
        if (hasActiveToplevel(app.get())) return pidOf(app.get());
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> AtspiRegistry::registeredBusNames() {
    AtspiApplication* registry = desktop_->parent.app;
    if (!registry || !registry->bus || !registry->bus_name || !desktop_->parent.path) return std::nullopt;
    return linux_desktop::registeredBusNames(registry->bus, registry->bus_name, desktop_->parent.path);
}

std::optional<RegisteredApplication> AtspiRegistry::listedApplication(std::size_t index,
                                                                      const std::string& busName) {
    atspi_accessible_clear_cache(desktop_.get());
    CallError error;
    GObjectPtr<AtspiAccessible> app(
        atspi_accessible_get_child_at_index(desktop_.get(), static_cast<gint>(index), error.out()));
    if (error.failed() || !app) return std::nullopt;
    const char* name = busNameOf(app.get());
    if (!name || busName != name) return std::nullopt;
    return RegisteredApplication{std::move(app), busName};
}

std::optional<RegisteredApplication> AtspiRegistry::askingEach(std::int32_t pid) {
    atspi_accessible_clear_cache(desktop_.get());
    CallError error;
    const gint count = atspi_accessible_get_child_count(desktop_.get(), error.out());
    if (error.failed()) return std::nullopt;
    for (gint i = 0; i < count; ++i) {
        GObjectPtr<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop_.get(), i, error.out()));
        if (error.failed() || !app || pidOf(app.get()) != pid) continue;
        const char* name = busNameOf(app.get());
        return RegisteredApplication{std::move(app), name ? name : ""};
    }
    return std::nullopt;
}

std::int32_t AtspiRegistry::pidOf(AtspiAccessible* application) {
    const char* name = busNameOf(application);
    const std::string busName = name ? name : "";
    if (!busName.empty()) {
        if (auto it = pidsByBusName_.find(busName); it != pidsByBusName_.end()) return it->second;
    }
    CallError error;
    const guint pid = atspi_accessible_get_process_id(application, error.out());
    if (error.failed()) return 0;
    const auto value = static_cast<std::int32_t>(pid);
    if (!busName.empty()) pidsByBusName_[busName] = value;
    return value;
}

}  // namespace pavo::platform::linux_desktop
