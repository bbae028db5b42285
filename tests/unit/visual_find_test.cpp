// Visual find's pure rules: reading order and line grouping, scoring, and the results in pixels, best first.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent/vision/ocr.hpp"
#include "agent/vision/visual_find.hpp"

namespace pavo::agent {
namespace {

using platform::TextObservation;

TEST(LineGrouping, JoinsWordsOfOneRowThatNearlyTouchAndNothingElse) {
    const TextObservation save{"Save", 0.9f, {0.10, 0.50, 0.10, 0.04}};
    const std::tuple<const char*, TextObservation, std::vector<std::string>> rows[] = {
        {"0.02 apart and 0.01 lower", {"As", 0.7f, {0.22, 0.49, 0.05, 0.04}}, {"Save As"}},
        {"0.12 apart", {"As", 0.7f, {0.32, 0.50, 0.05, 0.04}}, {"Save", "As"}},
        {"overlapping by 0.04", {"As", 0.7f, {0.16, 0.50, 0.05, 0.04}}, {"Save As"}},
        {"overlapping by 0.06", {"As", 0.7f, {0.14, 0.50, 0.05, 0.04}}, {"Save", "As"}},
        {"a row 0.06 lower", {"As", 0.7f, {0.22, 0.44, 0.05, 0.04}}, {"Save", "As"}},
    };
    for (const auto& [name, second, lines] : rows) {
        std::vector<std::string> texts;
        for (const TextLine& line : groupLines({save, second})) texts.push_back(line.text);
        EXPECT_EQ(texts, lines) << name;
    }
    // The lowest confidence of its parts, and the union of their boxes.
    const TextLine merged = groupLines({save, std::get<1>(rows[0])})[0];
    EXPECT_FLOAT_EQ(merged.confidence, 0.7f);
    EXPECT_NEAR(merged.box.x, 0.10, 1e-12);
    EXPECT_NEAR(merged.box.y, 0.49, 1e-12);
    EXPECT_NEAR(merged.box.width, 0.17, 1e-12);
    EXPECT_NEAR(merged.box.height, 0.05, 1e-12);
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

TEST(Scoring, WholeTextsScoreOnePartsByTheirShareOfCharactersAndBarcodesAlsoAsIcons) {
    const std::tuple<decltype(&textScore), const char*, const char*, std::optional<float>> rows[] = {
        {textScore, "save as", "save", 0.5f + 0.4f * 4 / 7},  // about 0.7286
        {textScore, "", "", 1.0f},
        {textScore, "save", "", std::nullopt},               // an empty query is never part of anything
        {textScore, "ne\u0301e", "e", 0.5f + 0.4f * 1 / 3},  // found as the last character, not inside é
        {textScore, "caf\u00e9", "e", std::nullopt},
        {textScore, "\U0001F468\u200D\U0001F469\u200D\U0001F467 home", "home", 0.5f + 0.4f * 4 / 6},
        {barcodeScore, "https://pay.example", "https://pay.example", 1.0f},
        {barcodeScore, "https://pay.example", "https://pay", 0.8f},
        {barcodeScore, "https://pay.example", "icon", 0.5f},
        {barcodeScore, "icon-set", "icon", 0.8f},
        {barcodeScore, "https://pay.example", "login", std::nullopt},
    };
    for (const auto& [rule, text, query, score] : rows)
        EXPECT_EQ(rule(text, query), score) << text << " / " << query;
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
                         {"text", "Pay now", 0.5f + 0.4f * 3 / 7}}));

    // A symbol without text is called barcode, and matches that whole.
    EXPECT_EQ(visualMatches(recognized, "barcode").at(0).text, "barcode");
}

}  // namespace
}  // namespace pavo::agent
