// The Linux desktop's pure translations: AT-SPI roles to the agent's role names, macOS key codes and
// flags to X keysyms, text to code points, and the permission report.

#include <gtest/gtest.h>

#include "agent/permission_check.hpp"
#include "platform/input_events.hpp"
#include "platform/linux/key_mapping.hpp"
#include "platform/linux/role_names.hpp"

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

}  // namespace
}  // namespace pavo::platform::linux_desktop
