#include <gtest/gtest.h>

#include <map>
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
constexpr std::uint64_t kNone = 0;

std::optional<KeyPress> key(std::uint16_t code, std::uint64_t flags = kNone) {
    return KeyPress{code, flags};
}

TEST(KeyCodeForCharacter, CoversPrintableAsciiAndLineBreaksAndNothingElse) {
    std::set<std::pair<std::uint16_t, std::uint64_t>> presses;
    std::set<std::uint16_t> codes;
    for (int c = 0; c < 128; ++c) {
        const std::string character(1, static_cast<char>(c));
        const auto press = keyCodeForCharacter(character);
        const bool expected = (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\r';
        EXPECT_EQ(press.has_value(), expected) << "character " << c;
        if (!press) continue;
        EXPECT_TRUE(press->flags == kNone || press->flags == modifier::shift) << "character " << c;
        presses.insert({press->keyCode, press->flags});
        codes.insert(press->keyCode);
    }
    // 97 characters; only line feed and carriage return share a key press.
    EXPECT_EQ(presses.size(), 96u);
    EXPECT_EQ(codes.count(10), 0u);
    EXPECT_EQ(codes.count(48), 0u);
    EXPECT_EQ(keyCodeForCharacter("\t"), std::nullopt);
}

TEST(KeyCodeForCharacter, ShiftedSymbolsShareTheirKeyWithTheUnshiftedOne) {
    const std::map<char, char> shifted = {
        {'1', '!'},  {'2', '@'}, {'3', '#'},  {'4', '$'}, {'5', '%'}, {'6', '^'}, {'7', '&'},
        {'8', '*'},  {'9', '('}, {'0', ')'},  {'-', '_'}, {'=', '+'}, {'[', '{'}, {']', '}'},
        {'\\', '|'}, {';', ':'}, {'\'', '"'}, {',', '<'}, {'.', '>'}, {'/', '?'}, {'`', '~'}};
    for (const auto& [plain, withShift] : shifted) {
        const auto base = keyCodeForCharacter(std::string(1, plain));
        ASSERT_TRUE(base) << plain;
        EXPECT_EQ(base->flags, kNone) << plain;
        EXPECT_EQ(keyCodeForCharacter(std::string(1, withShift)), key(base->keyCode, modifier::shift))
            << withShift;
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        const auto lower = keyCodeForCharacter(std::string(1, c));
        ASSERT_TRUE(lower);
        EXPECT_EQ(keyCodeForCharacter(std::string(1, static_cast<char>(c - 'a' + 'A'))),
                  key(lower->keyCode, modifier::shift));
    }
}

TEST(KeyCodeForCharacter, FollowsTheAnsiLayoutWhereItIsIrregular) {
    // The digit row is not in order on this layout, and the letters follow the physical keys.
    EXPECT_EQ(keyCodeForCharacter("5"), key(23));
    EXPECT_EQ(keyCodeForCharacter("6"), key(22));
    EXPECT_EQ(keyCodeForCharacter("7"), key(26));
    EXPECT_EQ(keyCodeForCharacter("8"), key(28));
    EXPECT_EQ(keyCodeForCharacter("9"), key(25));
    EXPECT_EQ(keyCodeForCharacter("0"), key(29));
    EXPECT_EQ(keyCodeForCharacter("a"), key(0));
    EXPECT_EQ(keyCodeForCharacter("b"), key(11));
    EXPECT_EQ(keyCodeForCharacter("K"), key(40, modifier::shift));
    EXPECT_EQ(keyCodeForCharacter("~"), key(50, modifier::shift));
    EXPECT_EQ(keyCodeForCharacter("`"), key(50));
    EXPECT_EQ(keyCodeForCharacter("\n"), key(36));
    EXPECT_EQ(keyCodeForCharacter("\r"), key(36));
    EXPECT_EQ(keyCodeForCharacter(" "), key(49));
}

TEST(KeyCodeForCharacter, CharactersOfSeveralScalarsOrOutsideAsciiMatchNothing) {
    EXPECT_EQ(keyCodeForCharacter("\r\n"), std::nullopt);
    EXPECT_EQ(keyCodeForCharacter("e\xCC\x81"), std::nullopt);     // e + combining acute
    EXPECT_EQ(keyCodeForCharacter("\xC3\xA9"), std::nullopt);      // precomposed é
    EXPECT_EQ(keyCodeForCharacter("\xEF\xBC\xA1"), std::nullopt);  // fullwidth A: no folding
    EXPECT_EQ(keyCodeForCharacter(""), std::nullopt);
    EXPECT_EQ(keyCodeForCharacter(std::string(1, '\0')), std::nullopt);
    EXPECT_EQ(keyCodeForCharacter("\x7F"), std::nullopt);
}

TEST(SplitCharacters, SplitsAtUserPerceivedCharacterBoundaries) {
    using V = std::vector<std::string>;
    EXPECT_EQ(common::splitCharacters(""), V{});
    EXPECT_EQ(common::splitCharacters("ab"), (V{"a", "b"}));
    // CR LF, a combining accent, a skin-tone modifier, a flag and a joined emoji sequence each stay whole.
    EXPECT_EQ(common::splitCharacters("\r\nx"), (V{"\r\n", "x"}));
    EXPECT_EQ(common::splitCharacters("e\xCC\x81!"), (V{"e\xCC\x81", "!"}));
    EXPECT_EQ(common::splitCharacters("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"),
              (V{"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"}));
    EXPECT_EQ(common::splitCharacters("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"),
              (V{"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"}));
    EXPECT_EQ(common::splitCharacters("\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB."),
              (V{"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", "."}));
    // Every piece maps (or not) exactly as keyCodeForCharacter sees it.
    EXPECT_EQ(keyCodeForCharacter(common::splitCharacters("\r\n").front()), std::nullopt);
}

TEST(TokenToKeyPress, TokensWithoutPiecesOrWithoutAKeyNameNothing) {
    for (const char* token : {"", "+", "++", "shift", "cmd+ctrl", "fn", "alt+opt+option", "+shift+"}) {
        EXPECT_EQ(tokenToKeyPress(token), std::nullopt) << '"' << token << '"';
    }
}

TEST(TokenToKeyPress, CaseDoesNotMatterAndLettersNeverBringShift) {
    EXPECT_EQ(tokenToKeyPress("ctrl+c"), key(8, modifier::control));
    EXPECT_EQ(tokenToKeyPress("Return"), key(36));
    EXPECT_EQ(tokenToKeyPress("CMD+SHIFT+Z"), key(6, modifier::command | modifier::shift));
    EXPECT_EQ(tokenToKeyPress("cmd+A"), key(0, modifier::command));
    EXPECT_EQ(tokenToKeyPress("cmd+a"), key(0, modifier::command));
    EXPECT_EQ(tokenToKeyPress("cmd+shift+a"), key(0, modifier::command | modifier::shift));
    EXPECT_EQ(tokenToKeyPress("A"), key(0));
}

TEST(TokenToKeyPress, ModifiersAccumulateAnywhereAndTheLastKeyWins) {
    EXPECT_EQ(tokenToKeyPress("alt+opt+x"), key(7, modifier::option));
    EXPECT_EQ(tokenToKeyPress("x+cmd"), key(7, modifier::command));
    EXPECT_EQ(tokenToKeyPress("a+b"), key(11));
    EXPECT_EQ(tokenToKeyPress("f1+a"), key(0));  // an unknown key replaced by a later one is no error
    EXPECT_EQ(tokenToKeyPress("a+f1"), std::nullopt);
    EXPECT_EQ(tokenToKeyPress("cmd++a"), key(0, modifier::command));
    EXPECT_EQ(tokenToKeyPress("control+option+command+meta+fn+up"),
              key(126, modifier::control | modifier::option | modifier::command | modifier::function));
}

TEST(TokenToKeyPress, PiecesAreNotTrimmed) {
    EXPECT_EQ(tokenToKeyPress(" cmd+a"), key(0));  // " cmd" is a key, replaced by "a"
    EXPECT_EQ(tokenToKeyPress("cmd+ a"), std::nullopt);
    EXPECT_EQ(tokenToKeyPress("ctrl+ "), key(49, modifier::control));
    EXPECT_EQ(tokenToKeyPress("ctrl+space"), key(49, modifier::control));
}

TEST(TokenToKeyPress, NamedKeysAndTheirAliases) {
    const std::map<std::string, std::uint16_t> named = {
        {"return", 36},  {"enter", 36},     {"esc", 53},    {"escape", 53},      {"tab", 48},
        {"space", 49},   {"backspace", 51}, {"delete", 51}, {"fwd_delete", 117}, {"up", 126},
        {"down", 125},   {"left", 123},     {"right", 124}, {"home", 115},       {"end", 119},
        {"pageup", 116}, {"pagedown", 121}};
    for (const auto& [name, code] : named)
        EXPECT_EQ(tokenToKeyPress("shift+" + name), key(code, modifier::shift)) << name;
    for (const char* missing : {"f1", "f12", "insert", "capslock", "page_down", "fwd-delete", "ctrl+home2"}) {
        EXPECT_EQ(tokenToKeyPress(missing), std::nullopt) << missing;
    }
    EXPECT_EQ(tokenToKeyPress("tab"), key(48));
}

TEST(TokenToKeyPress, SingleCharactersTakeTheirKeyAndShiftFromTheTable) {
    EXPECT_EQ(tokenToKeyPress("cmd+?"), key(44, modifier::command | modifier::shift));
    EXPECT_EQ(tokenToKeyPress("shift+="), key(24, modifier::shift));
    EXPECT_EQ(tokenToKeyPress("cmd+:"), key(41, modifier::command | modifier::shift));
    EXPECT_EQ(tokenToKeyPress("~"), key(50, modifier::shift));
    EXPECT_EQ(tokenToKeyPress("ctrl+\n"), key(36, modifier::control));
    EXPECT_EQ(tokenToKeyPress("ctrl+\t"), std::nullopt);
    EXPECT_EQ(tokenToKeyPress("cmd+\xC3\xA9"), std::nullopt);   // é: one character, not in the table
    EXPECT_EQ(tokenToKeyPress("cmd+e\xCC\x81"), std::nullopt);  // e + combining accent
    EXPECT_EQ(tokenToKeyPress("cmd+\r\n"), std::nullopt);
}

TEST(TokenToKeyPress, LowerCasingIsUnicodeAware) {
    // The Kelvin sign lower-cases to the letter k.
    EXPECT_EQ(tokenToKeyPress("cmd+\xE2\x84\xAA"), key(40, modifier::command));
    // Capital I with dot above lower-cases to i + combining dot, which no key types, and it spoils "shift".
    EXPECT_EQ(tokenToKeyPress("\xC4\xB0"), std::nullopt);
    EXPECT_EQ(tokenToKeyPress("a+SH\xC4\xB0"
                              "FT"),
              std::nullopt);
    // Fullwidth letters stay fullwidth: not the modifier name.
    EXPECT_EQ(tokenToKeyPress("\xEF\xBC\xA3\xEF\xBC\xAD\xEF\xBC\xA4+a"), key(0));
    EXPECT_EQ(tokenToKeyPress("cmd+\xFF"), std::nullopt);  // not UTF-8
}

}  // namespace
}  // namespace pavo::agent
