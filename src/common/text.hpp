#pragma once
// Text rules shared by both programs: UTF-8 validity and conversion, Unicode trimming, lower-casing and
// grapheme clusters, and the strict decimal integer syntax the command line and the HTTP framing accept.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pavo::common {

bool isValidUtf8(std::string_view bytes);

// Removes Unicode space separators (category Zs) and horizontal tabs from both ends; line breaks stay.
std::string_view trimSpaces(std::string_view text);

// Removes Unicode white space and line breaks (Zs, tab, LF, VT, FF, CR, NEL, LS, PS) from both ends.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// Full Unicode lower-casing (root locale); plain ASCII takes a fast path. Input must be valid UTF-8.
std::string toLower(std::string_view text);

enum class IntegerSyntax { valid, notAnInteger, outOfRange };

struct ParsedInteger {
    IntegerSyntax syntax = IntegerSyntax::notAnInteger;
    std::int64_t value = 0;
};

// An optional "+" or "-" followed by one or more ASCII digits, nothing else; must fit in 64 bits.
ParsedInteger parseDecimalInteger(std::string_view text);

inline std::optional<std::int64_t> toInteger(std::string_view text) {
    auto parsed = parseDecimalInteger(text);
    if (parsed.syntax != IntegerSyntax::valid) return std::nullopt;
    return parsed.value;
}

// Splits UTF-8 text into user-perceived characters (extended grapheme clusters), in order.
std::vector<std::string> splitCharacters(std::string_view text);

// UTF-8 <-> UTF-16; ill-formed input becomes U+FFFD.
std::u16string toUtf16(std::string_view text);
std::string toUtf8(std::u16string_view text);

}  // namespace pavo::common
