// Shared rules: UTF-8 and trimming. Strict integers are seen through Content-Length and the OCR cache size.

#include <gtest/gtest.h>

#include "common/text.hpp"

namespace pavo::common {
namespace {

TEST(Text, Utf8TrimmingAndLowerCasingFollowUnicode) {
    for (const char* good : {"", "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x98\x80"})
        EXPECT_TRUE(isValidUtf8(good));
    // Truncated, overlong '/', UTF-16 surrogate, past U+10FFFF, stray continuation.
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xFF"}) {
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
    }
    // Spaces are Unicode separators and tabs (no-break, ideographic), but not line breaks.
    EXPECT_EQ(trimSpaces(" \t\xC2\xA0value a\xE3\x80\x80"), "value a");
    EXPECT_EQ(trimSpaces("\nvalue\r"), "\nvalue\r");
    // Line breaks of every kind: CR LF, line separator, NEL, VT, FF.
    EXPECT_EQ(trimWhitespaceAndNewlines("\r\n\t\xC2\x85to ken \xE2\x80\xA8\x0B\x0C"), "to ken");
    EXPECT_EQ(trimWhitespaceAndNewlines("\xC3\xA9"), "\xC3\xA9");
}

}  // namespace
}  // namespace pavo::common
