#include "platform/linux/tree_shape.hpp"

namespace pavo::platform::linux_desktop {

std::optional<TreeShape> placeInTree(
    const std::string& root, const std::vector<std::string>& preorder,
    const std::function<std::optional<std::int32_t>(const std::string&)>& childCount) {
    struct Open {
        std::string path;
        std::int32_t remaining;
    };
    TreeShape shape;
    std::vector<Open> open;  // a stack, not recursion: an application may nest very deeply
    const auto rootCount = childCount(root);
    if (!rootCount || *rootCount < 0) return std::nullopt;
    open.push_back({root, *rootCount});
    std::size_t next = 0;
    while (!open.empty()) {
        if (open.back().remaining == 0) {
            open.pop_back();
            continue;
        }
        --open.back().remaining;
        if (next >= preorder.size() || preorder[next].empty()) return std::nullopt;
        shape[open.back().path].push_back(next);
        const auto count = childCount(preorder[next]);
        if (!count || *count < 0) return std::nullopt;
        open.push_back({preorder[next], *count});
        ++next;
    }
    if (next != preorder.size()) return std::nullopt;
    return shape;
}

}  // namespace pavo::platform::linux_desktop
