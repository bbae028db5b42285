// The screen-text routes' bodies, strict Base64, and where an image's bytes come from.

#include <gtest/gtest.h>

#include <filesystem>

#include "agent/vision/image_intake.hpp"
#include "agent/vision/vision_requests.hpp"
#include "child_process.hpp"
#include "common/base64.hpp"

namespace pavo::agent {
namespace {

// The message a decoder fails with; empty when it decodes.
template <typename Decoded>
std::string failureOf(const Result<Decoded>& decoded) {
    return decoded ? "" : decoded.error().message;
}

TEST(VisionBodies, KeysAreReadStrictlyByTypeNullAsAbsent) {
    const OCROptions all = *decodeOCROptions(
        R"({"imageBase64":"QQ==","imagePath":"/tmp/a.png","pid":-7,"windowId":18446744073709551615,"x":[]})");
    EXPECT_EQ(all.pid, -7);
    EXPECT_EQ(all.windowId, 18446744073709551615u);
    const OCROptions none = *decodeOCROptions(R"({"pid":null,"windowId":null,"imagePath":null})");
    EXPECT_FALSE(none.pid || none.windowId || none.imagePath || none.imageBase64);
    EXPECT_EQ(decodeVisualFindOptions(R"({"query":"Save","imagePath":"/a.png"})")->query, "Save");

    const std::string invalid = "Invalid JSON body", int32 = "expected a 32-bit integer";
    // A body; what the OCR, visual find and tree-and-OCR decoders say of it.
    const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
        {"", invalid, invalid, "The body is not valid JSON."},
        {"[1]", invalid, invalid, "Expected a JSON object."},
        {R"({"query":null})", "", invalid, ""},
        {R"({"query":"a","pid":"1"})", invalid, "", "pid: " + int32},
        {R"({"query":"a","pid":2147483648})", invalid, "", "pid: " + int32},
        {R"({"query":"a","windowId":-1})", invalid, "", "windowId: expected an unsigned 64-bit integer"},
        {R"({"query":"a","windowId":1.5})", invalid, "", "windowId: expected an unsigned 64-bit integer"},
        {R"({"query":"a","imageBase64":5})", invalid, invalid, "imageBase64: expected a string"},
        {R"({"query":"a","imagePath":true})", invalid, invalid, "imagePath: expected a string"},
    };
    for (const auto& [body, ocr, find, tree] : rows) {
        EXPECT_EQ(failureOf(decodeOCROptions(body)), ocr) << body;
        EXPECT_EQ(failureOf(decodeVisualFindOptions(body)), find) << body;
        EXPECT_EQ(failureOf(decodeTreeAndOCRRequest(body)), tree) << body;
    }
}

TEST(Base64, DecodesOnlyPaddedStandardBase64) {
    const std::pair<const char*, std::string> decodable[] = {
        {"", ""}, {"QQ==", "A"}, {"QUJD", "ABC"}, {"+/+/", "\xfb\xff\xbf"}};
    for (const auto& [text, bytes] : decodable) EXPECT_EQ(common::base64Decode(text), bytes) << text;
    for (const char* text : {"QQ", "QQ=", "Q===", "QQ\n==", "QUJD\n", "-_-_"})
        EXPECT_EQ(common::base64Decode(text), std::nullopt) << text;
}

TEST(ImageIntake, TakesBase64ThatDecodesElseARegularFileOfBoundedSize) {
    const testing::TempDir dir;
    const std::string file = dir.write("image.png", "file bytes"), big = dir.write("big.png", "");
    std::filesystem::resize_file(big, kMaxImageFileBytes + 1);  // sparse: nothing is written
    using Source = std::optional<std::string>;
    const std::tuple<Source, Source, Source> rows[] = {
        {"QUJD", file, "ABC"},
        {"not base64!", file, "file bytes"},
        {"not base64!", std::nullopt, std::nullopt},
        {std::nullopt, dir.path() + "/missing.png", std::nullopt},
        {std::nullopt, dir.path(), std::nullopt},
        {std::nullopt, "/dev/zero", std::nullopt},
        {std::nullopt, big, std::nullopt},
    };
    for (const auto& [base64, path, bytes] : rows)
        EXPECT_EQ(imageBytes(base64, path), bytes) << base64.value_or("-") << " " << path.value_or("-");
}

}  // namespace
}  // namespace pavo::agent
