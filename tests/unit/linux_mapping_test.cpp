// The Linux desktop's pure translations: AT-SPI roles to the agent's role names, macOS key codes and
// flags to X keysyms, text to code points, a tree's shape from a bulk listing, and
// how long what was read of the desktop is used.

#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "platform/input_events.hpp"
#include "platform/linux/key_mapping.hpp"
#include "platform/linux/read_clock.hpp"
#include "platform/linux/role_names.hpp"
#include "platform/linux/tree_shape.hpp"

namespace pavo::platform::linux_desktop {
namespace {

TEST(RoleNames, EstablishedNamesWhereTheyExistAndUpperCamelOtherwise) {
    const std::tuple<const char*, bool, const char*> rows[] = {
        // AT-SPI role, multi-line, name; the flag only matters for plain text, and a name is matched whole.
        {"push button", false, "AXButton"},
        {"text", false, "AXTextField"},
        {"text", true, "AXTextArea"},
        {"label", true, "AXStaticText"},
        {"table column header", false, "AXTableColumnHeader"}};
    for (const auto& [role, multiLine, name] : rows) EXPECT_EQ(axRoleName(role, multiLine), name) << role;
    // Only text carries its text as value; numeric values are left out.
    for (const char* role : {"text", "entry", "password text"}) EXPECT_TRUE(isTextRole(role)) << role;
    for (const char* role : {"label", "spin button", "slider"}) EXPECT_FALSE(isTextRole(role)) << role;
}

TEST(KeyMapping, MacKeysOfTheUsLayoutBecomeTheirUnshiftedKeysymsAndTextItsCodePoints) {
    const std::pair<std::uint16_t, std::optional<std::uint32_t>> keys[] = {
        {50, 0x60},          // grave; "~" is it with shift
        {51, 0xFF08},        // BackSpace, the "delete" key
        {10, std::nullopt},  // no US key
    };
    for (const auto& [code, keysym] : keys) EXPECT_EQ(keysymForMacKeyCode(code), keysym) << code;

    using Keysyms = std::vector<std::uint32_t>;
    const std::pair<std::uint64_t, Keysyms> modifiers[] = {
        {0, {}},
        {modifier::command, {0xFFE3}},  // Control
        {modifier::control | modifier::option | modifier::shift, {0xFFE3, 0xFFE9, 0xFFE1}},
    };
    for (const auto& [flags, keysyms] : modifiers) EXPECT_EQ(modifierKeysyms(flags), keysyms) << flags;

    const std::pair<char32_t, std::uint32_t> characters[] = {
        {U'é', 0xE9},    {U'€', 0x010020AC}, {U'\n', 0xFF0D},
        {U'\r', 0xFF0D}, {U'\t', 0xFF09},    {0x7F, 0x0100007F},  // DEL is not a Latin-1 keysym
    };
    for (const auto& [c, keysym] : characters) EXPECT_EQ(keysymForCodePoint(c), keysym) << std::uint32_t(c);
    EXPECT_EQ(codePoints(u"a€😀"), (std::vector<char32_t>{U'a', U'€', U'😀'}));
    const std::u16string unpaired{u'x', static_cast<char16_t>(0xD800), u'y', static_cast<char16_t>(0xDC00)};
    EXPECT_EQ(codePoints(unpaired), (std::vector<char32_t>{U'x', 0xFFFD, U'y', 0xFFFD}));
}

TEST(TreeShape, ChildCountsPlaceATreeOrderListingExactlyOrNotAtAll) {
    const std::map<std::string, std::int32_t> counts{{"r", 2}, {"a", 2}, {"a1", 0}, {"a2", 0}, {"b", 0}};
    const auto countsWith = [&](const std::string& path, std::optional<std::int32_t> count) {
        auto changed = counts;
        if (count && !path.empty()) changed[path] = *count;
        if (!count) changed.erase(path);
        return [changed](const std::string& p) {
            return changed.count(p) ? std::optional(changed.at(p)) : std::nullopt;
        };
    };
    const std::vector<std::string> listing{"a", "a1", "a2", "b"};
    EXPECT_EQ(placeInTree("r", listing, countsWith("", 0)).value_or(TreeShape{}),
              (TreeShape{{"r", {0, 3}}, {"a", {1, 2}}}));
    // Any count that does not account for the listing exactly leaves nothing to trust.
    const std::pair<const char*, std::optional<std::int32_t>> wrong[] = {
        {"a", 3}, {"a", 1}, {"r", 1}, {"b", -1}, {"a2", std::nullopt}};
    for (const auto& [path, count] : wrong)
        EXPECT_FALSE(placeInTree("r", listing, countsWith(path, count)))
            << path << "=" << count.value_or(-99);
    EXPECT_FALSE(placeInTree("r", {"a", "a1", "", "b"}, countsWith("", 0))) << "an object without a path";

    // A chain far deeper than any call stack would allow.
    std::vector<std::string> chain;
    for (int i = 0; i < 200000; ++i) chain.push_back(std::to_string(i));
    const auto deep = placeInTree(
        "root", chain, [&](const std::string& p) { return std::optional(p == chain.back() ? 0 : 1); });
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->at("199998"), std::vector<std::size_t>{199999});
}

TEST(ReadClock, AReadIsUsedForItsLifetimeAndForgottenAtOnceAfterAnyChange) {
    using namespace std::chrono_literals;
    const std::tuple<const char*, std::chrono::milliseconds, bool, bool, bool> rows[] = {
        // age, changed since, usable, expired
        {"just read", 0ms, false, true, false},
        {"nearly a second old", 999ms, false, true, false},
        {"a second old", 1000ms, false, false, true},
        {"young, but something was done since", 10ms, true, false, false},
        {"old, and something was done since", 2000ms, true, false, true},
    };
    for (const auto& [name, age, changedSince, usable, expired] : rows) {
        ReadTime now{};
        ReadClock clock([&] { return now; });
        const ReadStamp stamp = clock.stamp();
        if (changedSince) clock.changed();
        now += age;
        EXPECT_EQ(clock.usable(stamp, 1s), usable) << name;
        EXPECT_EQ(clock.expired(stamp, 1s), expired) << name;
    }
    ReadTime now{};
    ReadClock clock([&] { return now; });
    clock.changed();
    EXPECT_TRUE(clock.usable(clock.stamp(), 1s)) << "read again after the change";
    EXPECT_FALSE(clock.usable(ReadStamp{}, 1s)) << "never read";
}

}  // namespace
}  // namespace pavo::platform::linux_desktop
