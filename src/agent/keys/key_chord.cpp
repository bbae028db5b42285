#include "agent/keys/key_chord.hpp"

#include <cstdint>
#include <string>

#include "common/modifier_flags.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace {

namespace modifier = common::modifier;

struct Named {
    std::string_view name;
    std::uint64_t value;
};

constexpr Named kModifiers[] = {
    {"ctrl", modifier::control},    {"control", modifier::control}, {"alt", modifier::option},
    {"option", modifier::option},   {"opt", modifier::option},      {"cmd", modifier::command},
    {"command", modifier::command}, {"meta", modifier::command},    {"shift", modifier::shift},
    {"fn", modifier::function},
};

constexpr Named kNamedKeys[] = {
    {"return", 36},    {"enter", 36},  {"esc", 53},         {"escape", 53},  {"tab", 48},       {"space", 49},
    {"backspace", 51}, {"delete", 51}, {"fwd_delete", 117}, {"up", 126},     {"down", 125},     {"left", 123},
    {"right", 124},    {"home", 115},  {"end", 119},        {"pageup", 116}, {"pagedown", 121},
};

template <std::size_t N>
std::optional<std::uint64_t> lookUp(const Named (&table)[N], std::string_view name) {
    for (const Named& entry : table) {
        if (entry.name == name) return entry.value;
    }
    return std::nullopt;
}

}  // namespace

std::optional<KeyPress> tokenToKeyPress(std::string_view token) {
    if (!common::isValidUtf8(token)) return std::nullopt;
    const std::string lowered = common::toLower(token);

    std::uint64_t flags = 0;
    std::optional<std::string_view> key;
    // Pieces are not trimmed: " cmd" is not a modifier name, it is a (useless) key.
    std::string_view rest = lowered;
    while (!rest.empty()) {
        const std::size_t plus = rest.find('+');
        const std::string_view piece = rest.substr(0, plus);
        rest = plus == std::string_view::npos ? std::string_view() : rest.substr(plus + 1);
        if (piece.empty()) continue;
        if (auto modifier = lookUp(kModifiers, piece)) {
            flags |= *modifier;
        } else {
            key = piece;  // the last key named wins
        }
    }
    if (!key) return std::nullopt;

    if (auto named = lookUp(kNamedKeys, *key)) return KeyPress{static_cast<std::uint16_t>(*named), flags};
    if (common::splitCharacters(*key).size() != 1) return std::nullopt;
    auto press = keyCodeForCharacter(*key);
    if (!press) return std::nullopt;
    press->flags |= flags;
    return press;
}

}  // namespace pavo::agent
