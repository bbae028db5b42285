#include "agent/desktop_choice.hpp"

#include <stdexcept>

#include "platform/linux/linux_desktop.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace pavo::agent {

std::unique_ptr<platform::Desktop> openDesktop(const EnvironmentLookup& getenv) {
    const std::string kind = getenv("VEXLO_PAVO_DESKTOP").value_or("");
    if (kind.empty() || kind == "linux") return platform::linux_desktop::makeLinuxDesktop();
    if (kind != "simulated") {
        throw std::runtime_error("unknown desktop \"" + kind +
                                 "\" in VEXLO_PAVO_DESKTOP (linux or simulated)");
    }
    const std::string scene = getenv("VEXLO_PAVO_DESKTOP_SCENE").value_or("");
    if (scene.empty())
        throw std::runtime_error("the simulated desktop needs VEXLO_PAVO_DESKTOP_SCENE=<scene file>");
    auto journal = getenv("VEXLO_PAVO_DESKTOP_JOURNAL");
    if (journal && journal->empty()) journal.reset();
    return platform::simulated::SimulatedDesktop::fromFile(scene, journal);
}

}  // namespace pavo::agent
