#pragma once
// Reading elements through the accessibility port: attribute readers and the recursive snapshot.
// Everything here blocks on the desktop, so it runs on the desktop's executor.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/ax/ax_element.hpp"
#include "platform/accessibility.hpp"

namespace pavo::agent {

// The attribute when it can be read and has the wanted type (std::string or bool); no conversion.
template <typename T>
std::optional<T> getAttribute(platform::Accessibility& ax, const platform::AXElement& element,
                              std::string_view name);
template <>
std::optional<std::string> getAttribute<std::string>(platform::Accessibility& ax,
                                                     const platform::AXElement& element,
                                                     std::string_view name);
template <>
std::optional<bool> getAttribute<bool>(platform::Accessibility& ax, const platform::AXElement& element,
                                       std::string_view name);

// At most 1000 children, in the application's order; absent when they cannot be read.
std::optional<std::vector<platform::AXElement>> getChildren(platform::Accessibility& ax,
                                                            const platform::AXElement& element);

// Absent unless both the position and the size can be read.
std::optional<AXFrame> getFrame(platform::Accessibility& ax, const platform::AXElement& element);

// The role, or "Unknown" when it cannot be read.
std::string roleOf(platform::Accessibility& ax, const platform::AXElement& element);

// The element's id as a snapshot at `path` would report it.
std::string idOf(platform::Accessibility& ax, const platform::AXElement& element, std::string_view path);

// The element and its whole subtree; callers pass an application element and the path "0".
AXElementInfo buildTree(platform::Accessibility& ax, const platform::AXElement& element,
                        const std::string& path);

}  // namespace pavo::agent
