#pragma once
// Finding the live element behind an id a caller saw in a tree or search reply. Blocks on the desktop,
// so everything here runs on the desktop's thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/server/agent_error.hpp"
#include "platform/accessibility.hpp"

namespace pavo::agent {

struct AXContext;

// The element at a snapshot path ("0/2/1") below the application element, if its id there is `targetId`.
std::optional<platform::AXElement> elementAtPath(platform::Accessibility& ax, const platform::AXElement& root,
                                                 std::string_view path, const std::string& targetId);

// Depth-first pre-order search of the live tree for the element whose id, recomputed as a snapshot
// would, equals `targetId`.
std::optional<platform::AXElement> findElementById(platform::Accessibility& ax,
                                                   const platform::AXElement& element,
                                                   const std::string& targetId, const std::string& path);

// The element with this id in the application `pid`: first where the latest snapshot of it saw the id,
// else by a search of its whole tree; "element_not_found" when it is in neither.
Result<platform::AXElement> resolveElement(AXContext& context, const std::string& elementId,
                                           std::int32_t pid);

}  // namespace pavo::agent
