#include "virtual_desktop.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include "agent/keys/key_events.hpp"
#include "agent/server/desktop_waits.hpp"
#include "platform/linux/linux_desktop.hpp"

namespace pavo::testing {

namespace {

std::string script(const char* name) {
    return (std::filesystem::path(PAVO_SOURCE_DIR) / "scripts" / name).string();
}

class VirtualDesktop : public ::testing::Environment {
  public:
    void SetUp() override {
        home_ = std::make_unique<TempDir>();
        const std::string state = home_->path() + "/desktop";
        std::map<std::string, std::string> base{{"HOME", home_->path()}};
        if (const char* path = std::getenv("PATH")) base["PATH"] = path;
        const auto up = runToCompletion(script("desktop-up"), {state}, base);
        ASSERT_EQ(up.status, 0) << up.output;
        std::ifstream exports(state + "/env");
        std::string line;
        environment_ = base;
        while (std::getline(exports, line)) {
            // export NAME='value'
            const auto equals = line.find('=');
            if (line.rfind("export ", 0) != 0 || equals == std::string::npos) continue;
            std::string value = line.substr(equals + 1);
            if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
                value = value.substr(1, value.size() - 2);
            environment_[line.substr(7, equals - 7)] = value;
        }
        ASSERT_TRUE(environment_.count("DISPLAY")) << up.output;
        for (const auto& [name, value] : environment_) ::setenv(name.c_str(), value.c_str(), 1);
        ::unsetenv("NO_AT_BRIDGE");
        state_ = state;
        instance = this;
    }

    void TearDown() override {
        desktop_.reset();
        if (!state_.empty()) runToCompletion(script("desktop-down"), {state_}, environment_);
        home_.reset();
    }

    platform::Desktop& desktop() {
        if (!desktop_) desktop_ = platform::linux_desktop::makeLinuxDesktop();
        return *desktop_;
    }

    static inline VirtualDesktop* instance = nullptr;
    std::map<std::string, std::string> environment_;

  private:
    std::unique_ptr<TempDir> home_;
    std::string state_;
    std::unique_ptr<platform::Desktop> desktop_;
};

VirtualDesktop& current() {
    if (!VirtualDesktop::instance) throw std::runtime_error("the virtual desktop is not up");
    return *VirtualDesktop::instance;
}

}  // namespace

const std::map<std::string, std::string>& desktopEnvironment() {
    return current().environment_;
}

platform::Desktop& linuxDesktop() {
    return current().desktop();
}

namespace {

template <typename T>
T await(boost::asio::awaitable<T> work) {
    boost::asio::io_context io;
    auto future = boost::asio::co_spawn(io, std::move(work), boost::asio::use_future);
    io.run();
    return future.get();
}

}  // namespace

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
