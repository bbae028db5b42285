// The Linux desktop's pure translations: AT-SPI roles to the agent's role names, macOS key codes and
// flags to X keysyms, text to code points, the permission report, a tree's shape from a bulk listing, and
// how long what was read of the desktop is used.

#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "agent/permission_report.hpp"
#include "platform/input_events.hpp"
#include "platform/linux/key_mapping.hpp"
#include "platform/linux/read_clock.hpp"
#include "platform/linux/role_names.hpp"
#include "platform/linux/tree_shape.hpp"

namespace pavo::platform::linux_desktop {
namespace {

TEST(RoleNames, EstablishedNamesWhereTheyExistAndUpperCamelOtherwise) {
    EXPECT_EQ(axRoleName("application"), "AXApplication");
    EXPECT_EQ(axRoleName("frame"), "AXWindow");
    EXPECT_EQ(axRoleName("dialog"), "AXWindow");
    EXPECT_EQ(axRoleName("push button"), "AXButton");
    EXPECT_EQ(axRoleName("entry"), "AXTextField");
    EXPECT_EQ(axRoleName("text"), "AXTextField");
    EXPECT_EQ(axRoleName("text", true), "AXTextArea");
    EXPECT_EQ(axRoleName("label"), "AXStaticText");
    EXPECT_EQ(axRoleName("page tab list"), "AXTabGroup");
    EXPECT_EQ(axRoleName("table cell"), "AXCell");
    EXPECT_EQ(axRoleName("filler"), "AXGroup");
    EXPECT_EQ(axRoleName("progress bar"), "AXProgressIndicator");
    EXPECT_EQ(axRoleName("menu item"), "AXMenuItem");

    EXPECT_EQ(axRoleName("table column header"), "AXTableColumnHeader");
    EXPECT_EQ(axRoleName("page tab"), "AXPageTab");
    EXPECT_EQ(axRoleName("toggle button"), "AXToggleButton");
    EXPECT_EQ(axRoleName("level bar"), "AXLevelBar");
    // The multi-line flag only matters for plain text.
    EXPECT_EQ(axRoleName("label", true), "AXStaticText");
}

TEST(RoleNames, OnlyTextRolesCarryTheirTextAsValue) {
    EXPECT_TRUE(isTextRole("text"));
    EXPECT_TRUE(isTextRole("entry"));
    EXPECT_TRUE(isTextRole("password text"));
    EXPECT_FALSE(isTextRole("label"));
    EXPECT_FALSE(isTextRole("spin button"));  // numeric values are left out
    EXPECT_FALSE(isTextRole("slider"));
}

TEST(KeyMapping, MacKeyCodesOfTheUsLayoutBecomeTheirUnshiftedKeysyms) {
    EXPECT_EQ(keysymForMacKeyCode(0), 0x61u);      // a
    EXPECT_EQ(keysymForMacKeyCode(50), 0x60u);     // grave; "~" is it with shift
    EXPECT_EQ(keysymForMacKeyCode(42), 0x5Cu);     // backslash
    EXPECT_EQ(keysymForMacKeyCode(36), 0xFF0Du);   // Return
    EXPECT_EQ(keysymForMacKeyCode(48), 0xFF09u);   // Tab
    EXPECT_EQ(keysymForMacKeyCode(51), 0xFF08u);   // BackSpace, the "delete" key
    EXPECT_EQ(keysymForMacKeyCode(117), 0xFFFFu);  // forward delete
    EXPECT_EQ(keysymForMacKeyCode(126), 0xFF52u);  // Up
    EXPECT_EQ(keysymForMacKeyCode(116), 0xFF55u);  // Page Up
    EXPECT_EQ(keysymForMacKeyCode(122), 0xFFBEu);  // F1
    EXPECT_FALSE(keysymForMacKeyCode(10));
    EXPECT_FALSE(keysymForMacKeyCode(200));
}

TEST(KeyMapping, ModifierFlagsBecomeKeysToHoldAndCommandActsAsControl) {
    EXPECT_TRUE(modifierKeysyms(0).empty());
    EXPECT_EQ(modifierKeysyms(modifier::shift), std::vector<std::uint32_t>{0xFFE1});
    EXPECT_EQ(modifierKeysyms(modifier::command), std::vector<std::uint32_t>{0xFFE3});
    EXPECT_EQ(modifierKeysyms(modifier::command | modifier::control), std::vector<std::uint32_t>{0xFFE3});
    EXPECT_EQ(modifierKeysyms(modifier::control | modifier::option | modifier::shift),
              (std::vector<std::uint32_t>{0xFFE3, 0xFFE9, 0xFFE1}));
    EXPECT_TRUE(modifierKeysyms(0x800000).empty());  // fn
}

TEST(KeyMapping, CodePointsBecomeLatinOneOrUnicodeKeysyms) {
    EXPECT_EQ(keysymForCodePoint(U'A'), 0x41u);
    EXPECT_EQ(keysymForCodePoint(U'é'), 0xE9u);
    EXPECT_EQ(keysymForCodePoint(U'€'), 0x010020ACu);
    EXPECT_EQ(keysymForCodePoint(U'\n'), 0xFF0Du);
    EXPECT_EQ(keysymForCodePoint(U'\r'), 0xFF0Du);
    EXPECT_EQ(keysymForCodePoint(U'\t'), 0xFF09u);
    EXPECT_EQ(keysymForCodePoint(0x7F), 0x0100007Fu);  // DEL is not a Latin-1 keysym

    EXPECT_EQ(codePoints(u"a€😀"), (std::vector<char32_t>{U'a', U'€', U'😀'}));
    const std::u16string unpaired{u'x', static_cast<char16_t>(0xD800), u'y', static_cast<char16_t>(0xDC00)};
    EXPECT_EQ(codePoints(unpaired), (std::vector<char32_t>{U'x', 0xFFFD, U'y', 0xFFFD}));
}

TEST(PermissionReport, LinesAndStatusFollowWhatIsGranted) {
    const PermissionState both{true, true, "do a", "do s"};
    const auto granted = agent::permissionReport("/opt/pavo-agent", both);
    EXPECT_TRUE(granted.granted);
    EXPECT_EQ(granted.lines, (std::vector<std::string>{"executable=/opt/pavo-agent", "accessibility=granted",
                                                       "screen_recording=granted"}));

    const auto none = agent::permissionReport("", PermissionState{false, false, "do a", "do s"});
    EXPECT_FALSE(none.granted);
    EXPECT_EQ(none.lines, (std::vector<std::string>{"executable=unknown", "accessibility=missing",
                                                    "screen_recording=missing", "hint_accessibility=do a",
                                                    "hint_screen_recording=do s"}));

    const auto screenOnly = agent::permissionReport("x", PermissionState{true, false, "do a", "do s"});
    EXPECT_FALSE(screenOnly.granted);
    EXPECT_EQ(screenOnly.lines.back(), "hint_screen_recording=do s");
    EXPECT_EQ(screenOnly.lines.size(), 4u);
}

TEST(TreeShape, ChildCountsPlaceATreeOrderListingExactlyOrNotAtAll) {
    std::map<std::string, std::int32_t> counts{{"r", 2}, {"a", 2}, {"a1", 0}, {"a2", 0}, {"b", 0}};
    auto count = [&](const std::string& path) -> std::optional<std::int32_t> {
        auto it = counts.find(path);
        return it == counts.end() ? std::nullopt : std::optional(it->second);
    };
    const std::vector<std::string> listing{"a", "a1", "a2", "b"};
    const auto shape = placeInTree("r", listing, count);
    ASSERT_TRUE(shape);
    EXPECT_EQ(*shape, (TreeShape{{"r", {0, 3}}, {"a", {1, 2}}}));

    // Any count that does not account for the listing exactly leaves nothing to trust.
    for (auto [path, wrong] :
         std::vector<std::pair<std::string, std::int32_t>>{{"a", 3}, {"a", 1}, {"r", 1}, {"b", -1}}) {
        auto changed = counts;
        changed[path] = wrong;
        EXPECT_FALSE(placeInTree("r", listing,
                                 [&](const std::string& p) -> std::optional<std::int32_t> {
                                     return changed.count(p) ? std::optional(changed[p]) : std::nullopt;
                                 }))
            << path << "=" << wrong;
    }
    counts.erase("a2");
    EXPECT_FALSE(placeInTree("r", listing, count)) << "a count nobody knows";
    EXPECT_FALSE(placeInTree("r", {"a", "a1", "", "b"}, count)) << "an object without a path";

    // A chain far deeper than any call stack would allow.
    std::vector<std::string> chain;
    for (int i = 0; i < 200000; ++i) chain.push_back(std::to_string(i));
    const auto deep = placeInTree("root", chain, [&](const std::string& p) -> std::optional<std::int32_t> {
        return p == chain.back() ? 0 : 1;
    });
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->at("199998"), std::vector<std::size_t>{199999});
}

TEST(ReadClock, AReadIsUsedForItsLifetimeAndForgottenAtOnceAfterAnyChange) {
    using namespace std::chrono_literals;
    struct Row {
        const char* name;
        std::chrono::milliseconds age;
        bool changedSince;
        bool usable;
        bool expired;
    };
    const Row rows[] = {
        {"just read", 0ms, false, true, false},
        {"nearly a second old", 999ms, false, true, false},
        {"a second old", 1000ms, false, false, true},
        {"long past", 5000ms, false, false, true},
        {"young, but something was done since", 10ms, true, false, false},
        {"old, and something was done since", 2000ms, true, false, true},
    };
    for (const Row& row : rows) {
        ReadTime now{};
        ReadClock clock([&] { return now; });
        const ReadStamp stamp = clock.stamp();
        if (row.changedSince) clock.changed();
        now += row.age;
        EXPECT_EQ(clock.usable(stamp, 1s), row.usable) << row.name;
        EXPECT_EQ(clock.expired(stamp, 1s), row.expired) << row.name;
    }

    ReadTime now{};
    ReadClock clock([&] { return now; });
    clock.changed();
    EXPECT_TRUE(clock.usable(clock.stamp(), 1s)) << "read again after the change";
    EXPECT_FALSE(clock.usable(ReadStamp{}, 1s)) << "never read";
}

}  // namespace
}  // namespace pavo::platform::linux_desktop
