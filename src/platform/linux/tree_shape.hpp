#pragma once
// A tree's shape recovered from a bulk listing of its objects in tree order and their child counts.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace pavo::platform::linux_desktop {

// Where each object of a tree-order listing of the descendants of `root` stands: per parent path, the
// indexes of its children in `preorder`. The child counts must account for every listed object exactly;
// anything else (a count unknown, negative, too large or too small) gives nothing.
using TreeShape = std::unordered_map<std::string, std::vector<std::size_t>>;
std::optional<TreeShape> placeInTree(
    const std::string& root, const std::vector<std::string>& preorder,
    const std::function<std::optional<std::int32_t>(const std::string&)>& childCount);

}  // namespace pavo::platform::linux_desktop
