// The screenshot's picture: bounded for a model (long edge, file size), mapped back to the screen, and a
// real PNG of the size it claims.

#include <gtest/gtest.h>

#include <png.h>

#include <random>

#include "mcp/image_scaling.hpp"
#include "mcp/png_encoding.hpp"
#include "mcp/screenshot.hpp"

namespace pavo::mcp {
namespace {

using nlohmann::json;

platform::ScreenImage filled(int width, int height, bool noisy) {
    platform::ScreenImage image{10, 20, width, height,
                                std::vector<std::uint8_t>(std::size_t(width) * height * 3, 200)};
    std::mt19937 random(7);
    if (noisy) {
        for (auto& byte : image.rgb) byte = static_cast<std::uint8_t>(random());
    }
    return image;
}

// Decodes the PNG as a client would.
std::optional<RgbImage> decode(const std::string& png) {
    png_image description{};
    description.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&description, png.data(), png.size())) return std::nullopt;
    description.format = PNG_FORMAT_RGB;
    RgbImage image{int(description.width), int(description.height),
                   std::vector<std::uint8_t>(PNG_IMAGE_SIZE(description))};
    if (!png_image_finish_read(&description, nullptr, image.pixels.data(), 0, nullptr)) return std::nullopt;
    return image;
}

TEST(McpScreenshot, PicturesFitTheModelsBoundsAndSayHowToMapBack) {
    const struct {
        int width, height;
        bool noisy;
        int expectWidth, expectHeight;  // 0: only bounded
        double expectScale;
        std::size_t mostBytes = kMostPngBytes;
    } rows[] = {
        {1600, 1000, false, 1568, 980, 0.98},  {800, 600, false, 800, 600, 1.0},
        {1000, 4000, false, 392, 1568, 0.392}, {1, 1, false, 1, 1, 1.0},
        {800, 600, true, 0, 0, 0.0, 300000},  // noise does not compress: shrunk further until under the bound
    };
    for (const auto& row : rows) {
        // Text recognition gets the capture at full size; checked where it differs from the picture.
        const bool keepFull = row.noisy;
        auto shot = prepareScreenshot(filled(row.width, row.height, row.noisy), keepFull, row.mostBytes);
        ASSERT_TRUE(shot) << row.width << "x" << row.height;
        EXPECT_LT(shot->png.size(), row.mostBytes);
        EXPECT_LE(std::max(shot->width, shot->height), kMostLongEdge);
        if (row.expectWidth) {
            EXPECT_EQ(shot->width, row.expectWidth);
            EXPECT_EQ(shot->height, row.expectHeight);
            EXPECT_NEAR(shot->scale, row.expectScale, 1e-9);
        } else {
            EXPECT_LT(shot->scale, 0.8);
        }
        const auto picture = decode(shot->png);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, shot->width);
        EXPECT_EQ(picture->height, shot->height);
        if (keepFull) {
            const auto full = decode(shot->fullPng.value());
            ASSERT_TRUE(full);
            EXPECT_EQ(full->width, row.width) << "text recognition reads the capture at full size";
        } else {
            EXPECT_FALSE(shot->fullPng);
        }

        const json described = describeScreenshot(*shot);
        EXPECT_EQ(described["origin"], json({{"x", 10}, {"y", 20}}));
        EXPECT_EQ(described["width"], shot->width);
        EXPECT_DOUBLE_EQ(described["scale"].get<double>(), shot->scale);
    }
}

TEST(McpScreenshot, ShrinkingAveragesThePixelsItMerges) {
    const RgbImage source{4, 2, {0, 0, 0, 255, 255, 255, 10, 20, 30, 10, 20, 30,  //
                                 0, 0, 0, 255, 255, 255, 10, 20, 30, 50, 60, 70}};
    const RgbImage half = scaleDown(source, 2, 1);
    EXPECT_EQ(half.pixels, (std::vector<std::uint8_t>{128, 128, 128, 20, 30, 40}));
    const auto png = encodePng(half);
    ASSERT_TRUE(png);
    EXPECT_EQ(decode(*png)->pixels, half.pixels) << "the PNG holds exactly these pixels";
    EXPECT_FALSE(encodePng(RgbImage{2, 2, {1, 2, 3}})) << "pixels that do not fill the size are refused";
}

TEST(McpScreenshot, TextBoxesAreMovedFromCapturePixelsToScreenPoints) {
    const platform::ScreenImage area{300, 40, 10, 10, {}};
    const json moved = onScreen(
        json::parse(R"([{"text":"OK","confidence":0.9,"boundingBox":{"x":5,"y":6,"width":7,"height":8}},
                                                {"text":"no box"}])"),
        area);
    EXPECT_EQ(moved[0]["boundingBox"], json::parse(R"({"x":305.0,"y":46.0,"width":7,"height":8})"));
    EXPECT_EQ(moved[1], json::parse(R"({"text":"no box"})"));
}

}  // namespace
}  // namespace pavo::mcp
