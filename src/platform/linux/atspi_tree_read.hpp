#pragma once
// An application's whole tree read in bulk from its application object, and the Collection query that
// lists objects in tree order. Desktop thread only.

#include <atspi/atspi.h>

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/accessibility.hpp"
#include "platform/linux/atspi_bulk.hpp"
#include "platform/linux/atspi_ref.hpp"

namespace pavo::platform::linux_desktop {

struct Frame {
    AXPoint position;
    AXSize size;
};

// Absent for the off-screen sentinel and for a negative size.
std::optional<Frame> onScreenFrame(const ScreenRect& rect);

// Asks an object's Collection for the objects below it, in tree order.
class DescendantQuery {
  public:
    DescendantQuery();

    // Every descendant when `traverse`, else the children; at most `count` of them unless it is 0. Nothing
    // when the call fails.
    std::optional<std::vector<GObjectPtr<AtspiAccessible>>> matches(AtspiCollection* collection,
                                                                    std::size_t count, bool traverse) const;

  private:
    GObjectPtr<AtspiMatchRule> everything_;
};

// One bulk read of an application's whole tree, by object path: every object's children in order, and
// the ids, on-screen extents and texts read for them in one batch.
struct TreeRead {
    std::unordered_map<std::string, std::vector<GObjectPtr<AtspiAccessible>>> children;
    std::unordered_map<std::string, std::string> identifiers;
    std::unordered_map<std::string, std::optional<Frame>> frames;
    std::unordered_map<std::string, std::string> texts;  // of text roles
};

// Reads the tree below `root`, the application object that `items` (its item list) lists with the
// Collection interface. Objects the item list lacks and that were read in full are added to it, whether
// or not the tree is placed.
std::optional<TreeRead> readTree(AtspiAccessible* root, const DescendantQuery& query, BulkItems& items);

}  // namespace pavo::platform::linux_desktop
