// Snapshots of a simulated application: what each element record shows, and when ids change.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/ax/ax_tree.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
using platform::simulated::parseScene;
using platform::simulated::SimulatedDesktop;
using platform::simulated::SimulatedElement;

json window(json children) {
    return {{"role", "AXWindow"},
            {"title", "Doc"},
            {"position", {{"x", 10}, {"y", 20}}},
            {"size", {{"width", 300}, {"height", 200}}},
            {"children", std::move(children)}};
}

SimulatedDesktop desktopWith(json children) {
    return SimulatedDesktop(parseScene({{"frontmost", 812},
                                        {"applications",
                                         {{{"pid", 812},
                                           {"name", "Mail"},
                                           {"tree",
                                            {{"role", "AXApplication"},
                                             {"title", "Mail"},
                                             {"children", {window(std::move(children))}}}}}}}}));
}

AXElementInfo snapshot(SimulatedDesktop& desktop, std::int32_t pid = 812) {
    return buildTree(desktop.accessibility(), desktop.applicationElement(pid), "0");
}

TEST(BuildTree, RecordsOnlyWhatReadsWithTheRightType) {
    auto desktop = desktopWith({
        {{"role", "AXTextField"},
         {"value", "hello"},
         {"identifier", "name"},
         {"enabled", true},
         {"focused", false}},
        {{"role", "AXSlider"}, {"value", 42}},
        {{"role", "AXCheckBox"}, {"value", true}},
        {{"title", "no role"}, {"position", {{"x", 1}, {"y", 1}}}},
    });
    const AXElementInfo root = snapshot(desktop);
    EXPECT_EQ(root.id, elementId(812, "AXApplication", "", "Mail", "0"));
    EXPECT_EQ(root.label, "Mail");
    EXPECT_FALSE(root.frame);

    const AXElementInfo& win = root.children->at(0);
    EXPECT_EQ(win.frame, (AXFrame{10, 20, 300, 200}));
    const auto& items = *win.children;
    EXPECT_EQ(items[0].value, "hello");
    EXPECT_EQ(items[0].identifier, "name");
    EXPECT_EQ(items[0].enabled, true);
    EXPECT_EQ(items[0].focused, false);
    EXPECT_FALSE(items[1].value) << "a numeric value is not text";
    EXPECT_FALSE(items[2].value) << "a boolean value is not text";
    EXPECT_EQ(items[3].role, "Unknown");
    EXPECT_EQ(items[3].id, elementId(812, "Unknown", "", "no role", "0/0/3"));
    EXPECT_FALSE(items[3].frame) << "a position without a size is no frame";
    EXPECT_FALSE(items[3].enabled);
}

TEST(BuildTree, EmptyChildrenAreAnEmptyArrayUnreadableChildrenAreAbsent) {
    auto desktop =
        desktopWith({{{"role", "AXGroup"}}, {{"role", "AXMenuBar"}, {"childrenUnreadable", true}}});
    const auto root = snapshot(desktop);
    const auto& items = *root.children->at(0).children;
    ASSERT_TRUE(items[0].children);
    EXPECT_TRUE(items[0].children->empty());
    EXPECT_FALSE(items[1].children);
    EXPECT_FALSE(json(items[1]).contains("children"));
}

TEST(BuildTree, AnApplicationThatIsNotRunningIsABareUnknownRoot) {
    auto desktop = desktopWith(json::array());
    const auto root = snapshot(desktop, 999);
    EXPECT_EQ(json(root), json({{"id", elementId(999, "Unknown", "", "", "0")}, {"role", "Unknown"}}));
}

TEST(BuildTree, ShowsAtMostOneThousandChildren) {
    auto desktop = desktopWith({{{"repeat", 1005}, {"role", "AXRow"}, {"title", "Row {n}"}}});
    const auto rows = *snapshot(desktop).children->at(0).children;
    ASSERT_EQ(rows.size(), 1000u);
    EXPECT_EQ(rows.front().label, "Row 1");
    EXPECT_EQ(rows.back().label, "Row 1000");
}

TEST(BuildTree, IdsFollowPositionTitleAndIdentifierButNothingElse) {
    auto desktop =
        desktopWith({{{"role", "AXButton"}, {"title", "OK"}, {"value", "a"}},
                     {{"role", "AXButton"}, {"title", "OK"}, {"value", "a"}},
                     {{"role", "AXGroup"}, {"children", {{{"role", "AXButton"}, {"title", "Inner"}}}}}});
    const auto before = snapshot(desktop);
    const auto& buttons = *before.children->at(0).children;
    EXPECT_NE(buttons[0].id, buttons[1].id) << "identical siblings differ by their ordinal paths";
    EXPECT_EQ(snapshot(desktop), before) << "an unchanged application gives the same snapshot";

    // A new value or focus keeps ids; a new window title changes the window's id but not its descendants'.
    desktop.modifyElement(812, "0/0/0", [](SimulatedElement& e) { e.value = std::string("b"); });
    desktop.modifyElement(812, "0/0", [](SimulatedElement& e) { e.title = "Doc 2"; });
    const auto after = snapshot(desktop);
    EXPECT_EQ(after.id, before.id);
    EXPECT_NE(after.children->at(0).id, before.children->at(0).id);
    const auto& afterButtons = *after.children->at(0).children;
    EXPECT_EQ(afterButtons[0].value, "b");
    for (std::size_t i = 0; i < buttons.size(); ++i) EXPECT_EQ(afterButtons[i].id, buttons[i].id);
    EXPECT_EQ(afterButtons[2].children->at(0).id, buttons[2].children->at(0).id);

    desktop.modifyElement(812, "0/0/1", [](SimulatedElement& e) { e.identifier = "ok"; });
    EXPECT_NE(snapshot(desktop).children->at(0).children->at(1).id, buttons[1].id);
}

}  // namespace
}  // namespace pavo::agent
