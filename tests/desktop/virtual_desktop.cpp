#include "virtual_desktop.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "agent/keys/key_events.hpp"
#include "agent/server/desktop_waits.hpp"
#include "await.hpp"
#include "platform/linux/linux_desktop.hpp"

namespace pavo::testing {

namespace {

std::string script(const char* name) {
    return (std::filesystem::path(PAVO_SOURCE_DIR) / "scripts" / name).string();
}

struct VirtualDesktop : ::testing::Environment {
    void SetUp() override {
        home = std::make_unique<TempDir>();
        environment = {{"HOME", home->path()},
                       {"PATH", std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"}};
        const auto up = runToCompletion(script("desktop-up"),
                                        {home->path(), "--owner", std::to_string(::getpid())}, environment);
        ASSERT_EQ(up.status, 0) << up.output;
        std::ifstream exports(home->path() + "/env");
        static const std::regex exported("export ([A-Za-z_0-9]+)='?(.*?)'?");
        std::smatch match;
        for (std::string line; std::getline(exports, line);)
            if (std::regex_match(line, match, exported)) environment[match[1]] = match[2];
        ASSERT_TRUE(environment.count("DISPLAY")) << up.output;
        for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
        ::unsetenv("NO_AT_BRIDGE");
        instance = this;
    }

    void TearDown() override {
        desktop.reset();
        if (home) runToCompletion(script("desktop-down"), {home->path()}, environment);
        home.reset();
    }

    static inline VirtualDesktop* instance = nullptr;
    std::unique_ptr<TempDir> home;
    std::map<std::string, std::string> environment;
    std::unique_ptr<platform::Desktop> desktop;
};

VirtualDesktop& current() {
    if (!VirtualDesktop::instance) throw std::runtime_error("the virtual desktop is not up");
    return *VirtualDesktop::instance;
}

}  // namespace

const std::map<std::string, std::string>& desktopEnvironment() {
    return current().environment;
}

platform::Desktop& linuxDesktop() {
    auto& desktop = current().desktop;
    if (!desktop) desktop = platform::linux_desktop::makeLinuxDesktop();
    return *desktop;
}

bool activate(platform::Desktop& desktop, std::int32_t pid) {
    return await(agent::activateApplication(desktop, pid));
}

std::optional<platform::RunningApplication> launch(platform::Desktop& desktop, const std::string& bundleId) {
    return await(agent::launchApplication(desktop, bundleId));
}

bool postKey(platform::Desktop& desktop, const platform::KeyEvent& event) {
    return await(agent::postKeyEvent(desktop, event));
}

bool hasRole(platform::Accessibility& ax, const platform::AXElement& element, const std::string& role,
             const std::optional<std::string>& title) {
    if (ax.stringAttribute(element, "AXRole") != role) return false;
    return !title || ax.stringAttribute(element, "AXTitle") == title;
}

std::optional<platform::AXElement> findElement(
    platform::Accessibility& ax, const platform::AXElement& root,
    const std::function<bool(const platform::AXElement&)>& accept) {
    if (accept(root)) return root;
    auto children = ax.children(root, platform::kMaxChildren);
    if (!children) return std::nullopt;
    for (const auto& child : *children) {
        if (auto found = findElement(ax, child, accept)) return found;
    }
    return std::nullopt;
}

std::unique_ptr<ChildProcess> startApplication(const std::string& program,
                                               const std::vector<std::string>& arguments) {
    auto app = std::make_unique<ChildProcess>("/usr/bin/" + program, arguments, desktopEnvironment());
    platform::Accessibility& ax = linuxDesktop().accessibility();
    const pid_t pid = app->pid();
    const bool shown = eventually(
        [&] {
            const auto root = ax.applicationElement(pid);
            if (!root.reference()) return false;
            auto windows = ax.children(root, 10);
            return windows && !windows->empty() && ax.size(windows->front()).has_value();
        },
        std::chrono::seconds(15));
    if (!shown) throw std::runtime_error(program + " never showed a window: " + app->output());
    // The window manager lists and focuses a new window a moment after the toolkit has shown it.
    eventually([&] { return linuxDesktop().workspace().frontmost().pid == pid; }, std::chrono::seconds(10));
    return app;
}

std::vector<std::string> programLines(const ChildProcess& program) {
    std::vector<std::string> lines;
    for (const auto& line : program.outputLines()) {
        if (line.empty() || line.rfind("Gtk-", 0) == 0 || line.rfind("(", 0) == 0) continue;
        lines.push_back(line);
    }
    return lines;
}

}  // namespace pavo::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new pavo::testing::VirtualDesktop);
    return RUN_ALL_TESTS();
}
