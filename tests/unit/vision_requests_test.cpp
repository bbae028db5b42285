// The screen-text routes' bodies, strict Base64, and where an image's bytes come from.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "agent/vision/image_intake.hpp"
#include "agent/vision/vision_requests.hpp"
#include "common/base64.hpp"

namespace pavo::agent {
namespace {

TEST(OCROptionsBody, DecodesEveryKeyByItsTypeOrFailsAsInvalidJson) {
    const OCROptions all = *decodeOCROptions(
        R"({"imageBase64":"QQ==","imagePath":"/tmp/a.png","pid":-7,"windowId":18446744073709551615,"x":[]})");
    EXPECT_EQ(all.imageBase64, "QQ==");
    EXPECT_EQ(all.imagePath, "/tmp/a.png");
    EXPECT_EQ(all.pid, -7);
    EXPECT_EQ(all.windowId, 18446744073709551615u);
    const OCROptions none = *decodeOCROptions(R"({"pid":null,"windowId":null,"imagePath":null})");
    EXPECT_FALSE(none.pid || none.windowId || none.imagePath || none.imageBase64);

    for (const char* body :
         {"", "[]", "null", "{", R"({"pid":"1"})", R"({"pid":1.0})", R"({"pid":2147483648})",
          R"({"windowId":-1})", R"({"windowId":1.5})", R"({"windowId":18446744073709551616})",
          R"({"imageBase64":5})", R"({"imagePath":true})"}) {
        const auto decoded = decodeOCROptions(body);
        ASSERT_FALSE(decoded) << body;
        EXPECT_EQ(decoded.error().code, ErrorCode::badRequest);
        EXPECT_EQ(decoded.error().message, "Invalid JSON body") << body;
    }
}

TEST(VisualFindBody, NeedsAStringQuery) {
    EXPECT_EQ(decodeVisualFindOptions(R"({"query":"Save","imagePath":"/a.png"})")->query, "Save");
    EXPECT_EQ(decodeVisualFindOptions(R"({"query":""})")->query, "");
    for (const char* body :
         {"{}", R"({"query":null})", R"({"query":1})", R"({"query":"a","imageBase64":[]})"}) {
        const auto decoded = decodeVisualFindOptions(body);
        ASSERT_FALSE(decoded) << body;
        EXPECT_EQ(decoded.error().message, "Invalid JSON body");
    }
}

TEST(TreeAndOCRBody, SaysWhatIsWrong) {
    const auto request =
        decodeTreeAndOCRRequest(R"({"root_pid":42,"imagePath":"/a.png","pid":3,"windowId":4})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->rootPid, 42);
    EXPECT_EQ(request->ocr.imagePath, "/a.png");
    EXPECT_EQ(request->ocr.windowId, 4u);
    const std::pair<const char*, const char*> rows[] = {
        {"", "The body is not valid JSON."},
        {"[1]", "Expected a JSON object."},
        {R"({"root_pid":"42"})", "root_pid: expected a 32-bit integer"},
        {R"({"root_pid":4294967296})", "root_pid: expected a 32-bit integer"},
        {R"({"windowId":-4})", "windowId: expected an unsigned 64-bit integer"},
        {R"({"imageBase64":1})", "imageBase64: expected a string"},
    };
    for (const auto& [body, message] : rows) {
        const auto decoded = decodeTreeAndOCRRequest(body);
        ASSERT_FALSE(decoded) << body;
        EXPECT_EQ(decoded.error().message, message);
    }
}

TEST(Base64, DecodesOnlyPaddedStandardBase64) {
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"", ""},
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"QUJD", "ABC"},
        {"+/+/", "\xfb\xff\xbf"},
        {"QQ", std::nullopt},
        {"QQ=", std::nullopt},
        {"QQ===", std::nullopt},
        {"Q===", std::nullopt},
        {"QQ\n==", std::nullopt},
        {"QUJD\n", std::nullopt},
        {" QUJD", std::nullopt},
        {"-_-_", std::nullopt},
        {"QQ==QQ==", std::nullopt},
        {"====", std::nullopt},
    };
    for (const auto& [text, bytes] : rows) EXPECT_EQ(common::base64Decode(text), bytes) << text;

    std::string every;
    for (int i = 0; i < 256; ++i) every.push_back(static_cast<char>(i));
    for (std::size_t n = 0; n < 4; ++n) {
        const std::string bytes = every.substr(n);
        EXPECT_EQ(common::base64Decode(common::base64Encode(bytes)), bytes);
    }
}

class ImageIntake : public ::testing::Test {
  protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("pavo-intake-" + std::to_string(getpid()));
    std::string file = (dir / "image.png").string();
    void SetUp() override {
        std::filesystem::create_directories(dir);
        std::ofstream(file, std::ios::binary) << "file bytes";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(ImageIntake, TakesBase64ThatDecodesElseARegularFileOfBoundedSize) {
    const std::string big = (dir / "big.png").string();
    std::ofstream(big).close();
    std::filesystem::resize_file(big, kMaxImageFileBytes + 1);  // sparse: nothing is written
    using Source = std::optional<std::string>;
    const std::tuple<Source, Source, Source> rows[] = {
        {"QUJD", file, "ABC"},
        {"not base64!", file, "file bytes"},
        {"", file, ""},
        {std::nullopt, file, "file bytes"},
        {"not base64!", std::nullopt, std::nullopt},
        {std::nullopt, (dir / "missing.png").string(), std::nullopt},
        {std::nullopt, dir.string(), std::nullopt},
        {std::nullopt, "/dev/zero", std::nullopt},
        {std::nullopt, big, std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& [base64, path, bytes] : rows)
        EXPECT_EQ(imageBytes(base64, path), bytes) << base64.value_or("-") << " " << path.value_or("-");
    EXPECT_EQ(sha256HashData("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace pavo::agent
