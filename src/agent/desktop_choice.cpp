#include "agent/desktop_choice.hpp"

#include <stdexcept>

#include "agent/ax_element.hpp"
#include "platform/linux/linux_desktop.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace pavo::agent {

namespace {

std::string desktopKind(const EnvironmentLookup& getenv) {
    const std::string kind = getenv("VEXLO_PAVO_DESKTOP").value_or("");
    if (!kind.empty() && kind != "linux" && kind != "simulated") {
        throw std::runtime_error("unknown desktop \"" + kind + "\" in VEXLO_PAVO_DESKTOP (linux or simulated)");
    }
    return kind.empty() ? "linux" : kind;
}

}  // namespace

std::unique_ptr<platform::Desktop> openDesktop(const EnvironmentLookup& getenv) {
    if (desktopKind(getenv) == "linux") return platform::linux_desktop::makeLinuxDesktop();
    const std::string scene = getenv("VEXLO_PAVO_DESKTOP_SCENE").value_or("");
    if (scene.empty()) throw std::runtime_error("the simulated desktop needs VEXLO_PAVO_DESKTOP_SCENE=<scene file>");
    auto journal = getenv("VEXLO_PAVO_DESKTOP_JOURNAL");
    if (journal && journal->empty()) journal.reset();
    return platform::simulated::SimulatedDesktop::fromFile(scene, journal);
}

platform::PermissionState checkPermissions(const EnvironmentLookup& getenv) {
    const std::unique_ptr<platform::Desktop> desktop = openDesktop(getenv);
    if (desktopKind(getenv) == "linux") return platform::linux_desktop::checkPermissions(*desktop);
    // A simulated desktop needs no screen; its scene says whether accessibility is granted.
    return platform::PermissionState{desktop->accessibility().isProcessTrusted(), true, desktop->accessibilityPermissionHint(),
                                     std::string()};
}

}  // namespace pavo::agent
