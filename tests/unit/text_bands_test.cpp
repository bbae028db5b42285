// Sharing one image between two text engines: where the cut goes.

#include <gtest/gtest.h>

#include "platform/linux/text_bands.hpp"

namespace pavo::platform::linux_recognition {
namespace {

std::vector<int> rowsOfInk(int height, std::vector<std::pair<int, int>> blank) {
    std::vector<int> rows(static_cast<std::size_t>(height), 5);
    for (const auto& [from, to] : blank)
        for (int row = from; row < to; ++row) rows[static_cast<std::size_t>(row)] = 0;
    return rows;
}

TEST(TextBands, CutAcrossTheBlankRowNearestTheMiddleOrNotAtAll) {
    const std::tuple<const char*, std::vector<int>, int, std::vector<TextBand>> rows[] = {
        {"one engine", rowsOfInk(800, {{390, 410}}), 1, {{0, 800}}},
        {"ink on every row", rowsOfInk(800, {}), 2, {{0, 800}}},
        {"a blank row off centre", rowsOfInk(800, {{250, 251}}), 2, {{0, 250}, {250, 800}}},
        {"a blank band: its row nearest the middle", rowsOfInk(800, {{420, 470}}), 2, {{0, 420}, {420, 800}}},
        {"blank rows on both sides", rowsOfInk(800, {{300, 310}, {480, 520}}), 2, {{0, 480}, {480, 800}}},
        {"blank only near the edges", rowsOfInk(800, {{0, 190}, {610, 800}}), 2, {{0, 800}}},
        {"an empty image", {}, 2, {{0, 0}}},
    };
    for (const auto& [name, ink, bands, expected] : rows)
        EXPECT_EQ(planTextBands(ink, bands), expected) << name;
}

}  // namespace
}  // namespace pavo::platform::linux_recognition
