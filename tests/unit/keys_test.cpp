// Characters and chord tokens as key presses of a US ANSI keyboard.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "agent/keys/key_chord.hpp"
#include "agent/keys/key_codes.hpp"
#include "common/modifier_flags.hpp"
#include "common/text.hpp"

namespace pavo::agent {

void PrintTo(const KeyPress& press, std::ostream* os) {
    *os << "{keyCode " << press.keyCode << ", flags 0x" << std::hex << press.flags << std::dec << "}";
}

namespace {

namespace modifier = common::modifier;
constexpr auto kShift = modifier::shift;
constexpr auto kCommand = modifier::command;
constexpr auto kControl = modifier::control;

std::optional<KeyPress> key(std::uint16_t code, std::uint64_t flags = 0) {
    return KeyPress{code, flags};
}

TEST(KeyCodeForCharacter, EveryPrintableAsciiCharacterHasItsOwnPressAndShiftedOnesShareTheirKey) {
    std::set<std::pair<std::uint16_t, std::uint64_t>> presses;
    for (int c = 0; c < 128; ++c) {
        const auto press = keyCodeForCharacter(std::string(1, static_cast<char>(c)));
        EXPECT_EQ(press.has_value(), (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\r') << "character " << c;
        if (!press) continue;
        EXPECT_TRUE(press->flags == 0 || press->flags == kShift) << "character " << c;
        presses.insert({press->keyCode, press->flags});
    }
    EXPECT_EQ(presses.size(), 96u) << "97 characters; only line feed and carriage return share a press";
    for (const auto& [plain, shifted] :
         std::vector<std::pair<char, char>>{{'1', '!'}, {'/', '?'}, {'`', '~'}, {'k', 'K'}}) {
        const auto base = keyCodeForCharacter(std::string(1, plain));
        EXPECT_EQ(keyCodeForCharacter(std::string(1, shifted)), key(base->keyCode, kShift)) << shifted;
    }
}

TEST(KeyCodeForCharacter, FollowsTheAnsiLayoutAndKnowsOnlySingleAsciiScalars) {
    const std::vector<std::pair<std::string, std::optional<KeyPress>>> rows = {
        {"5", key(23)},
        {"6", key(22)},
        {"0", key(29)},
        {"a", key(0)},
        {"b", key(11)},
        {"K", key(40, kShift)},
        {"~", key(50, kShift)},
        {"\n", key(36)},
        {"\r", key(36)},
        {" ", key(49)},
        {"\t", std::nullopt},
        {"\r\n", std::nullopt},
        {"e\xCC\x81", std::nullopt},
        {"\xC3\xA9", std::nullopt},
        {"\xEF\xBC\xA1", std::nullopt},
        {"", std::nullopt},
        {"\x7F", std::nullopt},
    };
    for (const auto& [character, press] : rows) EXPECT_EQ(keyCodeForCharacter(character), press) << character;
}

TEST(SplitCharacters, SplitsAtUserPerceivedCharacterBoundaries) {
    using V = std::vector<std::string>;
    EXPECT_EQ(common::splitCharacters(""), V{});
    // CR LF, a combining accent, a skin-tone modifier, flags and a joined emoji sequence each stay whole.
    EXPECT_EQ(common::splitCharacters("\r\nxe\xCC\x81!"), (V{"\r\n", "x", "e\xCC\x81", "!"}));
    EXPECT_EQ(common::splitCharacters("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"),
              (V{"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"}));
    EXPECT_EQ(common::splitCharacters("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"),
              (V{"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"}));
    EXPECT_EQ(common::splitCharacters("\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB."),
              (V{"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", "."}));
}

TEST(TokenToKeyPress, Grammar) {
    const std::vector<std::pair<std::string, std::optional<KeyPress>>> rows = {
        // no key at all
        {"", std::nullopt},
        {"+", std::nullopt},
        {"shift", std::nullopt},
        {"cmd+ctrl", std::nullopt},
        {"+shift+", std::nullopt},
        // case does not matter and letters never bring shift
        {"ctrl+c", key(8, kControl)},
        {"CMD+SHIFT+Z", key(6, kCommand | kShift)},
        {"cmd+A", key(0, kCommand)},
        {"A", key(0)},
        // modifiers accumulate anywhere; the last key wins
        {"alt+opt+x", key(7, modifier::option)},
        {"x+cmd", key(7, kCommand)},
        {"a+b", key(11)},
        {"f1+a", key(0)},
        {"a+f1", std::nullopt},
        {"cmd++a", key(0, kCommand)},
        {"control+option+command+meta+fn+up",
         key(126, kControl | modifier::option | kCommand | modifier::function)},
        // pieces are not trimmed
        {" cmd+a", key(0)},
        {"cmd+ a", std::nullopt},
        {"ctrl+ ", key(49, kControl)},
        // named keys and aliases
        {"Return", key(36)},
        {"enter", key(36)},
        {"esc", key(53)},
        {"shift+fwd_delete", key(117, kShift)},
        {"pagedown", key(121)},
        {"tab", key(48)},
        {"insert", std::nullopt},
        {"page_down", std::nullopt},
        // single characters take their key and shift from the table
        {"cmd+?", key(44, kCommand | kShift)},
        {"~", key(50, kShift)},
        {"ctrl+\n", key(36, kControl)},
        {"ctrl+\t", std::nullopt},
        {"cmd+\xC3\xA9", std::nullopt},
        {"cmd+e\xCC\x81", std::nullopt},
        // lower-casing is Unicode's: the Kelvin sign is a k; capital I with dot spoils "shift"
        {"cmd+\xE2\x84\xAA", key(40, kCommand)},
        {"a+SH\xC4\xB0"
         "FT",
         std::nullopt},
        {"\xEF\xBC\xA3\xEF\xBC\xAD\xEF\xBC\xA4+a", key(0)},
        {"cmd+\xFF", std::nullopt},
    };
    for (const auto& [token, press] : rows) EXPECT_EQ(tokenToKeyPress(token), press) << '"' << token << '"';
}

}  // namespace
}  // namespace pavo::agent
