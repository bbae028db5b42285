// Feeds arbitrary bytes to the simulated desktop's scene reader: a scene file with any mistake is refused
// with a message saying where, never a crash, and a scene it accepts can be walked whole.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "platform/simulated/simulated_desktop.hpp"

namespace {

using namespace pavo::platform;

void check(bool condition) {
    if (!condition) std::abort();
}

std::size_t walk(Accessibility& ax, const AXElement& element, int depth) {
    if (depth > 64) return 1;
    std::size_t count = 1;
    ax.stringAttribute(element, "AXRole");
    if (auto children = ax.children(element, kMaxChildren)) {
        check(children->size() <= kMaxChildren);
        for (const auto& child : *children) count += walk(ax, child, depth + 1);
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const nlohmann::json document =
        nlohmann::json::parse(std::string_view(reinterpret_cast<const char*>(data), size), nullptr, false);
    if (document.is_discarded()) return 0;
    try {
        simulated::Scene scene = simulated::parseScene(document);
        // Large repeats are legal but slow to walk; the reader's own limits are what is fuzzed here.
        if (size > 4096) return 0;
        simulated::SimulatedDesktop desktop(std::move(scene));
        for (const auto& application : desktop.records()) (void)application;
        if (auto front = desktop.workspace().frontmost().pid) {
            walk(desktop.accessibility(), desktop.accessibility().applicationElement(*front), 0);
        }
    } catch (const std::invalid_argument& error) {
        check(std::string_view(error.what()).size() > 0);
    }
    return 0;
}
