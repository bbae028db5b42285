// The pure rules of the keyboard and script paths: characters and chord tokens as key presses of a US
// ANSI keyboard, request bodies, pacing, the delivery method, terminal scripts and shortcut lists.

#include <gtest/gtest.h>

#include <set>

#include "agent/keys/key_chord.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/keys/terminal_scripts.hpp"
#include "agent/scripts/shortcuts.hpp"
#include "common/modifier_flags.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace {

namespace modifier = common::modifier;
using Press = std::optional<KeyPress>;
using Strings = std::vector<std::string>;

TEST(KeyCodeForCharacter, EveryPrintableAsciiCharacterHasItsOwnPressAndNothingElseHasOne) {
    std::set<std::pair<std::uint16_t, std::uint64_t>> presses;
    for (int c = 0; c < 128; ++c) {
        const auto press = keyCodeForCharacter(std::string(1, static_cast<char>(c)));
        EXPECT_EQ(press.has_value(), (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\r') << "character " << c;
        if (press) presses.insert({press->keyCode, press->flags});
        EXPECT_TRUE(!press || press->flags == 0 || press->flags == modifier::shift) << "character " << c;
    }
    EXPECT_EQ(presses.size(), 96u) << "97 characters; only line feed and carriage return share a press";
    for (const auto& [plain, shifted] : std::vector<std::pair<std::string, std::string>>{
             {"1", "!"}, {"/", "?"}, {"`", "~"}, {"k", "K"}, {"\n", "\r"}}) {
        Press expected = keyCodeForCharacter(plain);
        if (expected && shifted != "\r") expected->flags |= modifier::shift;
        EXPECT_EQ(keyCodeForCharacter(shifted), expected) << shifted;
    }
    for (const char* none : {"\t", "\r\n", "e\xCC\x81", "\xC3\xA9", "\xEF\xBC\xA1", ""})
        EXPECT_EQ(keyCodeForCharacter(none), std::nullopt) << none;
}

TEST(SplitCharacters, KeepsEachUserPerceivedCharacterWhole) {
    // CR LF, a combining accent and a skin tone each stay one character: boundaries are ICU's, in bytes.
    // clang-format off
    const std::vector<std::pair<std::string, Strings>> rows = {
        {"", {}}, {"\r\nxe\xCC\x81!", {"\r\n", "x", "e\xCC\x81", "!"}},
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"}}};
    // clang-format on
    for (const auto& [text, characters] : rows) EXPECT_EQ(common::splitCharacters(text), characters) << text;
}

TEST(TokenToKeyPress, Grammar) {
    const auto cmd = modifier::command, shift = modifier::shift, ctrl = modifier::control;
    const auto all = ctrl | modifier::option | cmd | modifier::function;
    // Token, the character or named key it presses (empty: none), the modifiers. In groups: no key at all;
    // case does not matter and letters never bring shift; modifiers accumulate anywhere and repeat, the
    // last key wins; pieces are not trimmed; named keys and their aliases; single characters take their
    // key and shift from the layout; lower-casing is Unicode's (the Kelvin sign is a k, capital I with dot
    // spoils "shift").
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, std::uint64_t>> rows = {
        {"", "", 0}, {"shift", "", 0}, {"ctrl+c", "c", ctrl}, {"CMD+SHIFT+Z", "z", cmd | shift},
        {"A", "a", 0}, {"alt+opt+x", "x", modifier::option}, {"x+cmd", "x", cmd}, {"a+b", "b", 0},
        {"a+f1", "", 0}, {"cmd++a", "a", cmd}, {"control+option+command+meta+fn+a", "a", all},
        {" cmd+a", "a", 0}, {"cmd+ a", "", 0}, {"ctrl+ ", " ", ctrl}, {"Enter", "\n", 0},
        {"shift+RETURN", "\n", shift}, {"insert", "", 0}, {"cmd+?", "?", cmd}, {"ctrl+\n", "\n", ctrl},
        {"cmd+\xC3\xA9", "", 0}, {"cmd+\xFF", "", 0}, {"cmd+\xE2\x84\xAA", "k", cmd}, {"a+SH\u0130FT", "", 0},
        {"\xEF\xBC\xA3\xEF\xBC\xAD\xEF\xBC\xA4+a", "a", 0}};
    // clang-format on
    for (const auto& [token, key, flags] : rows) {
        Press expected = keyCodeForCharacter(key);
        if (expected) expected->flags |= flags;
        EXPECT_EQ(tokenToKeyPress(token), expected) << '"' << token << '"';
    }
}

TEST(KeystrokeBodies, RefuseAnyKeyOfTheWrongTypeWithAReasonAndClampTheDelay) {
    for (const char* bad :
         {"", "[]", "{", R"({"text": 5})", R"({"keys": "return"})", R"({"keys": ["a", 1]})",
          R"({"app_name": []})", R"({"delay_ms": 1.5})", R"({"delay_ms": 9223372036854775808})"}) {
        const auto decoded = decodeSendKeystrokesRequest(bad);
        ASSERT_FALSE(decoded) << bad;
        EXPECT_FALSE(decoded.error().message.empty()) << bad;
    }
    const std::vector<std::pair<std::optional<std::int64_t>, int>> delays = {
        {std::nullopt, 12}, {0, 1}, {-5, 1}, {1, 1}, {250, 250}, {251, 250}};
    for (const auto& [asked, paced] : delays)
        EXPECT_EQ(keystrokeDelay(asked).count(), paced) << asked.value_or(-1);
}

TEST(KeystrokeMethod, ScriptsOnlyAScriptedTerminalWithTextUnlessTheModeSaysOtherwise) {
    const auto script = KeystrokeMethod::appleScript, events = KeystrokeMethod::cgEvent;
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, bool, KeystrokeMethod>> rows = {
        {"auto", "com.apple.Terminal", true, script}, {"auto", "com.googlecode.iterm2", true, script},
        {"auto", "com.googlecode.iterm", true, script}, {"other", "com.apple.Terminal", true, script},
        {"auto", "com.apple.Terminal", false, events}, {"auto", "com.apple.terminal", true, events},
        {"cgevent", "com.apple.Terminal", true, events}, {"applescript", "", false, script}};
    // clang-format on
    for (const auto& [mode, target, hasText, method] : rows)
        EXPECT_EQ(chooseKeystrokeMethod(mode, target, hasText), method) << mode << " " << target << hasText;
}

// The string literals of a script, read back the way AppleScript reads them.
Strings literals(const std::string& script) {
    Strings out;
    for (std::size_t i = script.find('"'); i != std::string::npos; i = script.find('"', i + 1)) {
        std::string literal;
        for (++i; i < script.size() && script[i] != '"'; ++i)
            literal += script[i] == '\\' ? script[++i] : script[i];
        out.push_back(literal);
    }
    return out;
}

TEST(TerminalScripts, TextAndNamesStayOneStringWhateverTheyHold) {
    const std::string text = R"(echo "a\b" \"q\")", hostile = "x\" to quit\ndo shell script \"rm -rf ~";
    // clang-format off
    const std::vector<std::pair<std::string, Strings>> rows = {
        {"com.googlecode.iterm2", {"iTerm2", text}}, {"com.googlecode.iterm", {"iTerm2", text}},
        {"com.apple.Terminal", {"Terminal", "", text}}, {"com.apple.terminal", {}}, {"org.gnome.Terminal", {}}};
    // clang-format on
    for (const auto& [bundleId, strings] : rows) {
        const std::string script = appleScriptForTerminal(bundleId, text);
        EXPECT_EQ(literals(script), strings) << script;
        EXPECT_EQ(script.empty(), strings.empty()) << bundleId;
    }
    for (const std::string& name : {std::string("Safari"), hostile, std::string(R"(back\" to quit --\)")}) {
        const std::string script = activationScript(name);
        EXPECT_EQ(literals(script), Strings{name}) << script;
        EXPECT_TRUE(script.ends_with("\" to activate")) << script;
    }
}

TEST(Shortcuts, TheLimitIsAtLeastOneSecondAndTheListOneTrimmedNamePerLine) {
    const std::vector<std::pair<std::optional<std::int64_t>, std::int64_t>> limits = {
        {-1, 1000}, {999, 1000}, {1001, 1001}, {std::nullopt, 15000}, {INT64_MAX, INT64_MAX}};
    for (const auto& [asked, limit] : limits) EXPECT_EQ(shortcutTimeLimit(asked).count(), limit);
    // clang-format off
    const std::vector<std::pair<std::string, Strings>> lists = {
        {"A\n\n  B  \n", {"A", "B"}}, {"\n \n\t\n", {}}, {"Zeta\r\nAlpha\nZeta", {"Zeta", "Alpha", "Zeta"}},
        {"  Morning routine\u00a0\n", {"Morning routine"}}};
    // clang-format on
    for (const auto& [output, names] : lists) EXPECT_EQ(parseShortcutList(output), names) << output;
}

}  // namespace
}  // namespace pavo::agent
