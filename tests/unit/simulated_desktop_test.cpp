// The simulated desktop: scene files, live changes, and the journal of what was done to it. What it accepts
// and records is seen through the agent's routes in the accessibility tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace pavo::platform::simulated {
namespace {

using nlohmann::json;

TEST(Scene, RejectsMistakesNamingWhereTheyAre) {
    const auto app = [](json tree) {
        return json{{"applications", {{{"pid", 1}, {"tree", std::move(tree)}}}}};
    };
    const std::vector<std::pair<json, std::string>> rows = {
        {app({{"role", "AXApplication"}, {"titel", "x"}}), "applications[0].tree: unknown key \"titel\""},
        {{{"frontmost", 4294967296LL}}, "scene.frontmost: process id out of the 32-bit range"},
        // Repeats inside repeats multiply.
        {app({{"children", {{{"repeat", 1000000}, {"children", {{{"repeat", 1000000}}}}}}}}),
         "applications[0].tree: the scene holds more than 1000000 elements"},
    };
    for (const auto& [document, expected] : rows) {
        std::string error;
        try {
            parseScene(document);
        } catch (const std::invalid_argument& e) {
            error = e.what();
        }
        EXPECT_EQ(error, expected) << document;
    }
    const Scene scene = parseScene(
        app({{"children",
              {{{"role", "AXButton"}}, {{"repeat", 3}, {"title", "Row {n}"}, {"identifier", "r{n}-{n}"}}}}}));
    const auto& children = scene.applications[0].root.children;
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[3].title, "Row 3") << "repeats are numbered from one";
    EXPECT_EQ(children[3].identifier, "r3-3");
}

TEST(SimulatedDesktop, FollowsTheSceneFileAndJournalsRecords) {
    testing::TempDir dir;
    const json first = {{"frontmost", 7}, {"applications", {{{"pid", 7}}}}};
    const std::string scene = dir.write("scene.json", first.dump());
    auto desktop = SimulatedDesktop::fromFile(scene, std::nullopt);
    EXPECT_EQ(desktop->frontmost().pid, 7);

    const auto replace = [&](const std::string& text) {
        dir.write("next.json", text);
        ASSERT_EQ(std::rename((dir.path() + "/next.json").c_str(), scene.c_str()), 0);
    };
    json second = first;
    second["frontmost"] = nullptr;
    second["trusted"] = false;
    replace(second.dump());
    EXPECT_FALSE(desktop->frontmost().pid);
    EXPECT_FALSE(desktop->isProcessTrusted());
    replace(first.dump().substr(1));
    EXPECT_FALSE(desktop->frontmost().pid) << "a broken rewrite keeps the previous scene";

    EXPECT_THROW(SimulatedDesktop::fromFile(dir.path() + "/missing.json", std::nullopt), std::runtime_error);
}

}  // namespace
}  // namespace pavo::platform::simulated
