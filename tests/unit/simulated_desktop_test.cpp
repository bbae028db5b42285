// The simulated desktop: scene files, live changes, and the record of what was done to it.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#include "agent/server/desktop_waits.hpp"
#include "child_process.hpp"
#include "platform/simulated/simulated_desktop.hpp"

namespace pavo::platform::simulated {
namespace {

using nlohmann::json;

std::string errorOf(const json& document) {
    try {
        parseScene(document);
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "";
}

TEST(Scene, RejectsMistakesNamingWhereTheyAre) {
    EXPECT_EQ(
        errorOf({{"applications", {{{"pid", 1}, {"tree", {{"role", "AXApplication"}, {"titel", "x"}}}}}}}),
        "applications[0].tree: unknown key \"titel\"");
    EXPECT_EQ(errorOf({{"applications", {{{"name", "x"}}}}}), "applications[0]: missing \"pid\"");
    EXPECT_EQ(errorOf({{"frontmost", 1.5}}), "scene.frontmost: expected an integer process id");
    EXPECT_EQ(errorOf({{"frontmost", 4294967296LL}}), "scene.frontmost: process id out of the 32-bit range");
    EXPECT_EQ(
        errorOf({{"applications", {{{"pid", 1}, {"tree", {{"children", {{{"value", json::array()}}}}}}}}}}),
        "applications[0].tree.children[0].value: expected a string, number or boolean");
    EXPECT_EQ(errorOf({{"applications", {{{"pid", 1}, {"tree", {{"children", {{{"repeat", -1}}}}}}}}}}),
              "applications[0].tree.children[0].repeat: expected a count from 0 to 1000000");
    EXPECT_EQ(
        errorOf(
            {{"applications",
              {{{"pid", 1},
                {"tree", {{"children", {{{"repeat", 1000000}, {"children", {{{"repeat", 1000000}}}}}}}}}}}}}),
        "applications[0].tree: the scene holds more than 1000000 elements")
        << "repeats inside repeats multiply";
    EXPECT_EQ(errorOf({{"trusted", false}, {"frontmost", nullptr}, {"applications", json::array()}}), "");
}

TEST(Scene, RepeatedElementsAreNumberedFromOne) {
    const Scene scene =
        parseScene({{"applications",
                     {{{"pid", 5},
                       {"tree",
                        {{"children",
                          {{{"role", "AXButton"}},
                           {{"repeat", 3}, {"title", "Row {n}"}, {"identifier", "r{n}-{n}"}}}}}}}}}});
    const auto& children = scene.applications[0].root.children;
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[3].title, "Row 3");
    EXPECT_EQ(children[3].identifier, "r3-3");
    EXPECT_EQ(children[3].scenePath, "0/3");
    EXPECT_EQ(children[3].pid, 5);
    EXPECT_EQ(scene.applications[0].name, "");
    EXPECT_TRUE(scene.trusted) << "trusted unless the scene says otherwise";
}

SimulatedDesktop editor() {
    return SimulatedDesktop(parseScene(
        {{"frontmost", 7},
         {"applications",
          {{{"pid", 7},
            {"name", "Editor"},
            {"bundleId", "org.example.editor"},
            {"tree",
             {{"role", "AXApplication"},
              {"children",
               {{{"role", "AXButton"}, {"actions", {"AXPress"}}},
                {{"role", "AXTextField"}, {"value", "a"}, {"settable", {"AXValue"}}}}}}}},
           {{"pid", 8}, {"name", "Other"}, {"bundleId", "org.example.other"}, {"running", false}}}}}));
}

TEST(SimulatedDesktopActions, AcceptOnlyWhatTheSceneAllowsAndRecordEverythingInOrder) {
    auto desktop = editor();
    Accessibility& ax = desktop.accessibility();
    const auto children = *ax.children(ax.applicationElement(7), 10);
    EXPECT_TRUE(ax.performAction(children[0], "AXPress"));
    EXPECT_FALSE(ax.performAction(children[1], "AXPress"));
    EXPECT_FALSE(ax.setAttribute(children[0], "AXValue", std::string("x")));
    EXPECT_TRUE(ax.setAttribute(children[1], "AXValue", std::string("typed")));
    EXPECT_EQ(ax.stringAttribute(children[1], "AXValue"), "typed");
    desktop.input().postMouseEvent({MouseEventType::leftMouseDown, 120, 210, 0});
    desktop.input().postKeyEvent({.keyCode = 0, .keyDown = true, .flags = modifier::shift, .text = u"é😀"});

    const auto records = desktop.records();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(
        records[0].entry,
        json({{"kind", "action"}, {"pid", 7}, {"element", "0/0"}, {"action", "AXPress"}, {"ok", true}}));
    EXPECT_EQ(records[1].entry["ok"], false);
    EXPECT_EQ(records[3].entry, json({{"kind", "set"},
                                      {"pid", 7},
                                      {"element", "0/1"},
                                      {"attribute", "AXValue"},
                                      {"value", "typed"},
                                      {"ok", true}}));
    EXPECT_EQ(
        records[4].entry,
        json({{"kind", "mouse"}, {"type", "leftMouseDown"}, {"x", 120.0}, {"y", 210.0}, {"button", 0}}));
    EXPECT_EQ(records[5].entry["text"], "é😀");
    EXPECT_EQ(records[5].entry["flags"], modifier::shift);
    for (std::size_t i = 1; i < records.size(); ++i) EXPECT_LE(records[i - 1].time, records[i].time);
}

template <typename T>
T await(boost::asio::awaitable<T> work) {
    boost::asio::io_context io;
    auto future = boost::asio::co_spawn(io, std::move(work), boost::asio::use_future);
    io.run();
    return future.get();
}

TEST(SimulatedDesktopWorkspace, ActivatesAndLaunchesApplicationsThroughTheAgentsWaits) {
    auto desktop = editor();
    Workspace& workspace = desktop.workspace();
    EXPECT_EQ(workspace.runningApplication("org.example.editor")->pid, 7);
    EXPECT_FALSE(workspace.runningApplication("org.example.other"));
    EXPECT_TRUE(workspace.isInstalled("org.example.other"));
    EXPECT_FALSE(workspace.isInstalled("org.example.missing"));
    EXPECT_FALSE(await(agent::activateApplication(desktop, 8))) << "not running";
    EXPECT_EQ(await(agent::launchApplication(desktop, "org.example.other"))->pid, 8);
    EXPECT_EQ(workspace.frontmost().pid, 8);
    EXPECT_EQ(workspace.applicationNamed("Editor")->pid, 7);
    EXPECT_TRUE(await(agent::activateApplication(desktop, 7)));
    EXPECT_EQ(workspace.frontmost().pid, 7);
    EXPECT_FALSE(await(agent::launchApplication(desktop, "org.example.missing")));
}

TEST(SimulatedDesktopFile, FollowsTheSceneFileAndJournalsRecords) {
    testing::TempDir dir;
    const json first = {{"frontmost", 7},
                        {"applications", {{{"pid", 7}, {"tree", {{"actions", {"AXPress"}}}}}}}};
    const std::string scene = dir.write("scene.json", first.dump());
    const std::string journal = dir.path() + "/journal.jsonl";
    auto desktop = SimulatedDesktop::fromFile(scene, journal);
    EXPECT_EQ(desktop->frontmost().pid, 7);

    json second = first;
    second["frontmost"] = nullptr;
    second["trusted"] = false;
    dir.write("next.json", second.dump());
    ASSERT_EQ(std::rename((dir.path() + "/next.json").c_str(), scene.c_str()), 0);
    EXPECT_FALSE(desktop->frontmost().pid);
    EXPECT_FALSE(desktop->isProcessTrusted());

    dir.write("broken.json", "{\"frontmost\": 7");
    ASSERT_EQ(std::rename((dir.path() + "/broken.json").c_str(), scene.c_str()), 0);
    EXPECT_FALSE(desktop->frontmost().pid) << "a broken rewrite keeps the previous scene";

    desktop->performAction(desktop->applicationElement(7), "AXPress");
    std::ifstream lines(journal);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const json logged = json::parse(line);
    EXPECT_EQ(logged["action"], "AXPress");
    EXPECT_TRUE(logged["timeMs"].is_number());

    EXPECT_THROW(SimulatedDesktop::fromFile(dir.path() + "/missing.json", std::nullopt), std::runtime_error);
    EXPECT_THROW(SimulatedDesktop::fromFile(dir.write("bad.json", "{\"x\":1}"), std::nullopt),
                 std::runtime_error);
}

}  // namespace
}  // namespace pavo::platform::simulated
