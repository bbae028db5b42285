#pragma once
// A private virtual desktop for one test binary (Xvfb, session bus, AT-SPI bus and registry, openbox),
// started once by a GoogleTest environment with scripts/desktop-up and stopped with desktop-down, plus
// helpers that start real applications on it and find their elements.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "child_process.hpp"
#include "eventually.hpp"
#include "platform/desktop.hpp"

namespace pavo::testing {

// The variables a program needs to reach the desktop, HOME (a temp dir) and PATH included.
const std::map<std::string, std::string>& desktopEnvironment();

// The real desktop port, opened in this process once the desktop is up.
platform::Desktop& linuxDesktop();

// What the agent does to bring an application forward, to launch one and to post a key event (waiting
// where the window system asks for time), run to completion here.
bool activate(platform::Desktop& desktop, std::int32_t pid);
std::optional<platform::RunningApplication> launch(platform::Desktop& desktop, const std::string& bundleId);
bool postKey(platform::Desktop& desktop, const platform::KeyEvent& event);

// Starts an application and waits until its window is in the accessibility tree.
std::unique_ptr<ChildProcess> startApplication(const std::string& program,
                                               const std::vector<std::string>& arguments);

// Depth-first search below `root` for the first element the predicate accepts.
std::optional<platform::AXElement> findElement(platform::Accessibility& ax, const platform::AXElement& root,
                                               const std::function<bool(const platform::AXElement&)>& accept);

bool hasRole(platform::Accessibility& ax, const platform::AXElement& element, const std::string& role,
             const std::optional<std::string>& title = std::nullopt);

// Lines a program wrote that are not toolkit diagnostics.
std::vector<std::string> programLines(const ChildProcess& program);

}  // namespace pavo::testing
