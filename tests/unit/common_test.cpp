// Shared rules: UTF-8, trimming, lower-casing, strict integers and strict JSON fields.

#include <gtest/gtest.h>

#include "common/json_fields.hpp"
#include "common/text.hpp"

namespace pavo::common {
namespace {

TEST(Utf8Validity, AcceptsWellFormedTextAndRefusesEveryKindOfMalformedSequence) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain ascii"));
    EXPECT_TRUE(isValidUtf8("h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x98\x80"));  // é ✓ 😀
    EXPECT_FALSE(isValidUtf8("\xC3"));                                       // truncated
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));                                   // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));                               // UTF-16 surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));                           // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\x80"));                                       // stray continuation
    EXPECT_FALSE(isValidUtf8("\xFF"));
}

TEST(Trimming, SpacesAreUnicodeSeparatorsAndTabsButNotLineBreaks) {
    EXPECT_EQ(trimSpaces(" \t value \t "), "value");
    EXPECT_EQ(trimSpaces("\xC2\xA0value\xE3\x80\x80"), "value");  // no-break space, ideographic space
    EXPECT_EQ(trimSpaces("\nvalue\r"), "\nvalue\r");
    EXPECT_EQ(trimSpaces("   "), "");
    EXPECT_EQ(trimSpaces("a b"), "a b");
}

TEST(Trimming, WhitespaceAndNewlinesAlsoRemovesLineBreaksOfEveryKind) {
    EXPECT_EQ(trimWhitespaceAndNewlines("  token\n"), "token");
    EXPECT_EQ(trimWhitespaceAndNewlines("\r\n\ttoken \xE2\x80\xA8"), "token");  // line separator
    EXPECT_EQ(trimWhitespaceAndNewlines("\xC2\x85token\x0B\x0C"), "token");     // NEL, VT, FF
    EXPECT_EQ(trimWhitespaceAndNewlines("to ken"), "to ken");
    EXPECT_EQ(trimWhitespaceAndNewlines("\xC3\xA9"), "\xC3\xA9");  // é is not space
}

TEST(LowerCasing, IsFullUnicodeNotJustAscii) {
    EXPECT_EQ(toLower("Content-LENGTH"), "content-length");
    EXPECT_EQ(toLower("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");  // ÉTÉ -> été
    EXPECT_EQ(toLower("CLOSE"), "close");
}

TEST(DecimalIntegers, FollowTheStrictSignedDigitSyntax) {
    EXPECT_EQ(toInteger("47824"), 47824);
    EXPECT_EQ(toInteger("+12"), 12);
    EXPECT_EQ(toInteger("-12"), -12);
    EXPECT_EQ(toInteger("007"), 7);
    EXPECT_EQ(toInteger("-0"), 0);
    EXPECT_EQ(toInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(toInteger("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "-", " 1", "1 ", "1.0", "0x10", "1e3", "++1", "١٢"}) {
        EXPECT_EQ(parseDecimalInteger(bad).syntax, IntegerSyntax::notAnInteger) << bad;
    }
    EXPECT_EQ(parseDecimalInteger("9223372036854775808").syntax, IntegerSyntax::outOfRange);
    EXPECT_EQ(parseDecimalInteger("-9223372036854775809").syntax, IntegerSyntax::outOfRange);
    EXPECT_EQ(parseDecimalInteger("99999999999999999999999").syntax, IntegerSyntax::outOfRange);
}

TEST(JsonFields, ObjectsOfOneTypeAndStrictFieldReads) {
    const auto integers = uniformObject<std::int64_t>(R"({"a": 812, "b": null, "c": 9223372036854775807})");
    ASSERT_TRUE(integers);
    EXPECT_EQ(integers->at("a"), 812);
    EXPECT_EQ(integers->at("b"), std::nullopt);
    EXPECT_EQ(integers->at("c"), INT64_MAX);
    for (const char* bad : {"", "   ", "null", "42", R"({"a": 1.0})", R"({"a": true})",
                            R"({"a": 9223372036854775808})", R"({"a": {}})", "{\"a\":1,}"}) {
        EXPECT_FALSE(uniformObject<std::int64_t>(bad)) << bad;
    }
    EXPECT_FALSE(uniformObject<std::string>("{\"a\": \"\xFF\"}")) << "text that is not UTF-8 is not JSON";

    const auto object = *parseJsonObject(R"({"s": "x", "n": 1.5, "i": 2, "b": true, "null": null})");
    std::string text;
    double number = 0;
    std::int64_t integer = 0;
    bool flag = false;
    EXPECT_EQ(readField(object, "s", text), FieldRead::present);
    EXPECT_EQ(readField(object, "i", number), FieldRead::present) << "an integer is a number";
    EXPECT_EQ(readField(object, "n", integer), FieldRead::wrongType) << "a number is not an integer";
    EXPECT_EQ(readField(object, "s", flag), FieldRead::wrongType);
    EXPECT_EQ(readField(object, "null", text), FieldRead::absent);
    EXPECT_EQ(readField(object, "missing", text), FieldRead::absent);
    EXPECT_EQ(readField(object, "b", flag), FieldRead::present);
    EXPECT_TRUE(flag);
}

}  // namespace
}  // namespace pavo::common
