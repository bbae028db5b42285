// Visual find's pure rules: the pixel conversion, reading order and line grouping, scoring, and the order
// of the results.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/vision/ocr.hpp"
#include "agent/vision/visual_find.hpp"

namespace pavo::agent {
namespace {

using platform::NormalizedRect;
using platform::TextObservation;

TEST(PixelFrame, FlipsTheUnitBoxIntoPixelsFromTheTopLeft) {
    struct Row {
        NormalizedRect box;
        int width, height;
        AXFrame expected;
    } rows[] = {
        {{0.1, 0.2, 0.5, 0.3}, 200, 100, {20, 50, 100, 30}},
        {{0, 0, 1, 1}, 1280, 800, {0, 0, 1280, 800}},
        {{0, 0.9, 0.25, 0.1}, 400, 200, {0, 0, 100, 20}},       // the top-left corner
        {{0.75, 0, 0.25, 0.1}, 400, 200, {300, 180, 100, 20}},  // the bottom-right corner
    };
    for (const Row& row : rows) {
        const AXFrame frame = pixelFrame(row.box, row.width, row.height);
        // Computed as written, in floating point: 1 - 0.9 - 0.1 is not quite 0.
        EXPECT_NEAR(frame.x, row.expected.x, 1e-9);
        EXPECT_NEAR(frame.y, row.expected.y, 1e-9);
        EXPECT_NEAR(frame.width, row.expected.width, 1e-9);
        EXPECT_NEAR(frame.height, row.expected.height, 1e-9);
    }
}

TEST(LineGrouping, JoinsWordsOfOneRowThatNearlyTouchAndNothingElse) {
    const TextObservation save{"Save", 0.9f, {0.10, 0.50, 0.10, 0.04}};
    struct Row {
        const char* name;
        TextObservation second;
        std::vector<std::string> lines;
    } rows[] = {
        {"0.02 apart and 0.01 lower", {"As", 0.7f, {0.22, 0.49, 0.05, 0.04}}, {"Save As"}},
        {"0.12 apart", {"As", 0.7f, {0.32, 0.50, 0.05, 0.04}}, {"Save", "As"}},
        {"overlapping by 0.04", {"As", 0.7f, {0.16, 0.50, 0.05, 0.04}}, {"Save As"}},
        {"overlapping by 0.06", {"As", 0.7f, {0.14, 0.50, 0.05, 0.04}}, {"Save", "As"}},
        {"a row 0.06 lower", {"As", 0.7f, {0.22, 0.44, 0.05, 0.04}}, {"Save", "As"}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> texts;
        for (const TextLine& line : groupLines({save, row.second})) texts.push_back(line.text);
        EXPECT_EQ(texts, row.lines) << row.name;
    }

    const auto merged = groupLines({save, rows[0].second});
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_FLOAT_EQ(merged[0].confidence, 0.7f) << "the lowest of its parts";
    EXPECT_NEAR(merged[0].box.x, 0.10, 1e-12) << "the union of both boxes";
    EXPECT_NEAR(merged[0].box.y, 0.49, 1e-12);
    EXPECT_NEAR(merged[0].box.width, 0.17, 1e-12);
    EXPECT_NEAR(merged[0].box.height, 0.05, 1e-12);
}

TEST(ReadingOrder, RowsFromTheTopThenLeftToRightKeepingTiesInPlace) {
    const std::vector<TextObservation> given = {
        {"bottom", 1, {0.1, 0.10, 0.1, 0.05}}, {"right", 1, {0.6, 0.81, 0.1, 0.05}},
        {"left", 1, {0.1, 0.80, 0.1, 0.05}},   {"middle", 1, {0.4, 0.50, 0.1, 0.05}},
        {"twin", 1, {0.4, 0.52, 0.1, 0.05}},
    };
    std::vector<std::string> order;
    for (const auto& observation : readingOrder(given)) order.push_back(observation.text);
    EXPECT_EQ(order, (std::vector<std::string>{"left", "right", "middle", "twin", "bottom"}));
}

TEST(Scoring, WholeTextsScoreOneAndPartsByTheirShareOfCharacters) {
    struct Row {
        const char* text;
        const char* query;
        std::optional<float> score;
    } rows[] = {
        {"save", "save", 1.0f},
        {"save as", "save", 0.5f + 0.4f * 4 / 7},  // about 0.7286
        {"unsaved", "save", 0.5f + 0.4f * 4 / 7},
        {"open", "save", std::nullopt},
        {"", "", 1.0f},
        {"save", "", std::nullopt},               // an empty query is never part of anything
        {"ne\u0301e", "n", 0.5f + 0.4f * 1 / 3},  // é written as e + accent is one character
        {"ne\u0301e", "e", 0.5f + 0.4f * 1 / 3},  // found as the last character, not inside é
        {"caf\u00e9", "e", std::nullopt},
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467 home", "home", 0.5f + 0.4f * 4 / 6},
    };
    for (const Row& row : rows)
        EXPECT_EQ(textScore(row.text, row.query), row.score) << row.text << " / " << row.query;
    EXPECT_NEAR(*textScore("save as", "save"), 0.7286f, 1e-4f);
}

TEST(Scoring, BarcodesScoreByPayloadOrAsIconsWhenAskedFor) {
    struct Row {
        const char* payload;
        const char* query;
        std::optional<float> score;
    } rows[] = {
        {"https://pay.example", "https://pay.example", 1.0f},
        {"https://pay.example", "https://pay", 0.8f},
        {"https://pay.example", "icon", 0.5f},
        {"https://pay.example", "barcode", 0.5f},
        {"icon-set", "icon", 0.8f},
        {"barcode", "barcode", 1.0f},
        {"https://pay.example", "login", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(barcodeScore(row.payload, row.query), row.score) << row.query;
}

TEST(VisualMatches, InterleaveTextAndBarcodesByScoreAndKeepTheirOrderOnTies) {
    platform::Recognized recognized{1000, 500, {}, {}};
    recognized.text = {{"Pay now", 0.9f, {0.125, 0.75, 0.25, 0.0625}},
                       {"PAY", 0.8f, {0.1, 0.5, 0.1, 0.05}},
                       {"Cancel", 0.9f, {0.1, 0.2, 0.1, 0.05}}};
    recognized.barcodes = {{"https://pay.example", 1.0f, {0.5, 0.5, 0.2, 0.4}},
                           {"pay", 1.0f, {0.8, 0.5, 0.1, 0.2}},
                           {std::nullopt, 1.0f, {0.8, 0.1, 0.1, 0.2}}};
    std::vector<std::tuple<std::string, std::string, float>> found;
    for (const auto& r : visualMatches(recognized, "Pay")) found.emplace_back(r.type, r.text, r.matchScore);
    EXPECT_EQ(found, (std::vector<std::tuple<std::string, std::string, float>>{
                         {"text", "PAY", 1.0f},
                         {"icon", "pay", 1.0f},
                         {"icon", "https://pay.example", 0.8f},
                         {"text", "Pay now", 0.5f + 0.4f * 3 / 7},
                     }));

    const auto unnamed = visualMatches(recognized, "barcode");
    ASSERT_EQ(unnamed.size(), 3u);
    EXPECT_EQ(unnamed[0].text, "barcode") << "a symbol without text is called barcode and matches it whole";
    EXPECT_EQ(visualMatches(recognized, "").size(), 0u);

    const AXFrame payNow = visualMatches(recognized, "pay now")[0].boundingBox;
    EXPECT_EQ(payNow, (AXFrame{125, 93.75, 250, 31.25}));
}

TEST(VisualMatches, ScoresAndConfidencesAreWrittenAsTheirShortestDecimals) {
    const VisualFindResult result{"Save As", 0.9f, {1, 2, 3, 4}, 0.5f + 0.4f * 4 / 7, "text"};
    EXPECT_EQ(nlohmann::json(result).dump(),
              R"({"boundingBox":{"height":4.0,"width":3.0,"x":1.0,"y":2.0},"confidence":0.9,)"
              R"("matchScore":0.7285714,"text":"Save As","type":"text"})");
}

}  // namespace
}  // namespace pavo::agent
