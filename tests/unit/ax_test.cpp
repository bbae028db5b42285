// Accessibility snapshots: element records and ids, the tree walk, the cache, search, and the tree, find and
// batch routes over a simulated desktop.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>

#include "agent/ax/ax_requests.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent_under_test.hpp"
#include "scene.hpp"

namespace pavo::agent {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using platform::simulated::parseScene;
using platform::simulated::SimulatedDesktop;
using testing::AgentUnderTest;
using testing::application;
using testing::element;

TEST(ElementInfo, IdsFollowTheReferenceAndTheDirectWriterAgreesWithTheJsonLibrary) {
    // sha256("812|AXApplication||Mail|0"), first 8 bytes: the identifier comes before the title.
    EXPECT_EQ(elementId(812, "AXApplication", "", "Mail", "0"), "e011360f9c897770");

    AXElementInfo leaf{.id = "0123456789abcdef", .role = "Unknown"};
    leaf.children.emplace();
    AXElementInfo tricky{.id = "a",
                         .role = "AXText\"Area\\",
                         .label = std::string("tab\t nl\n nul\0 bell\x07", 18),
                         .value = "caf\xC3\xA9 \xF0\x9F\x98\x80 bad\xFF",
                         .identifier = "",
                         .frame = AXFrame{-0.5, 1e21, 1.0 / 3.0, 120},
                         .focused = false};
    const AXElementInfo endless{.id = "c", .role = "r", .frame = AXFrame{INFINITY, 0, 0, 0}};
    tricky.children = std::vector<AXElementInfo>{leaf, tricky, endless};
    std::string written;
    appendJson(written, tricky);
    // The JSON library writes a number that is not finite as null.
    EXPECT_EQ(json::parse(written),
              json::parse(json(tricky).dump(-1, ' ', false, json::error_handler_t::replace)));
    EXPECT_NE(written.find("\"height\":120.0"), std::string::npos) << "whole numbers stay floating point";
}

TEST(BuildTree, RecordsOnlyWhatReadsWithTheRightTypeAndIdsFollowPositionTitleAndIdentifier) {
    json window = testing::frame(10, 20, 300, 200);
    window["children"] = {
        element("AXTextField", "", {{"value", "hello"}, {"identifier", "name"}, {"enabled", true}}),
        element("AXSlider", "OK", {{"value", 42}}),
        {{"title", "no role"}, {"position", {{"x", 1}, {"y", 1}}}},
        element("AXGroup", ""),
        element("AXMenuBar", "", {{"childrenUnreadable", true}}),
        element("AXList", "", {{"children", {{{"repeat", 1005}, {"role", "AXRow"}}}}}),
    };
    SimulatedDesktop desktop(
        parseScene({{"applications", {application(812, "Mail", {element("AXWindow", "Doc", window)})}}}));
    const AXElementInfo root = buildTree(desktop.accessibility(), desktop.applicationElement(812), "0");
    EXPECT_EQ(std::tie(root.frame, root.children->at(0).frame),
              std::make_tuple(std::nullopt, AXFrame{10, 20, 300, 200}));
    const auto& items = *root.children->at(0).children;
    EXPECT_EQ(std::tie(items[0].value, items[0].identifier, items[0].enabled),
              std::make_tuple("hello", "name", true));
    EXPECT_FALSE(items[1].value) << "a numeric value is not text";
    EXPECT_EQ(items[0].id, elementId(812, "AXTextField", "name", "", "0/0/0"));
    EXPECT_EQ(items[2].id, elementId(812, "Unknown", "", "no role", "0/0/2"));
    EXPECT_FALSE(items[2].frame) << "a position without a size is no frame";
    EXPECT_EQ(items[3].children, std::vector<AXElementInfo>{}) << "no children: an empty array";
    EXPECT_FALSE(items[4].children) << "unreadable children: absent";
    EXPECT_EQ(items[5].children->size(), 1000u) << "at most a thousand children";
    EXPECT_EQ(json(buildTree(desktop.accessibility(), desktop.applicationElement(999), "0")),
              json({{"id", elementId(999, "Unknown", "", "", "0")}, {"role", "Unknown"}}))
        << "an application that is not running is a bare root";
}

TEST(TreeCache, FreshnessKeysFlushesAndTheWalksRememberedForTheLastEightApplications) {
    AXTreeCache::TimePoint now{};
    AXTreeCache cache{[&] { return now; }};
    const auto tree = [](const std::string& role) {
        return std::make_shared<const AXSnapshot>(AXElementInfo{.id = "0000000000000000", .role = role});
    };
    cache.store(9, tree("stored before any lookup"), cache.generation());
    EXPECT_TRUE(cache.get(9, 3)) << "the first lookup never flushes";
    auto old = tree("old");
    cache.store(3, old, cache.generation());
    now += 1s;
    EXPECT_EQ(cache.get(3, 3), old) << "an age of exactly one second is still fresh";
    now += 1ns;
    EXPECT_FALSE(cache.get(3, 3));
    cache.store(9, tree("fresh"), cache.generation());
    EXPECT_FALSE(cache.get(9, 8)) << "a change of frontmost application flushes even an explicit root";
    cache.store(0, tree("none"), cache.generation());
    EXPECT_FALSE(cache.get(std::nullopt, std::nullopt)) << "no application in front is a change too";
    const auto generation = cache.generation();
    cache.bump();
    cache.store(0, tree("walked before the action"), generation);
    EXPECT_FALSE(cache.get(std::nullopt, std::nullopt)) << "a walk begun before a bump is never served";

    AXElementInfo root{.id = "root",
                       .role = "AXApplication",
                       .children = std::vector<AXElementInfo>{{.id = "a"}, {.id = "b"}}};
    cache.rememberWalk(1, std::make_shared<const AXSnapshot>(root));
    cache.bump();
    now += 1h;
    EXPECT_EQ(cache.knownPath(1, "b"), "0/1") << "past actions and time";
    for (std::int32_t pid = 2; pid <= 9; ++pid) cache.rememberWalk(pid, tree("other"));
    EXPECT_EQ(cache.knownPath(1, "b"), std::nullopt) << "the oldest of nine is forgotten";
}

TEST(AXBodies, DecodeOnlyObjectsWhoseKeysHaveTheirTypes) {
    // Which decoders accept the body: tree, find, click, type, scroll.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "-----"},
        {"{}", "TF---"},
        {R"({"root_pid": null, "other": 3})", "TF---"},
        {R"({"root_pid": 100.0})", "-F---"},
        {R"({"root_pid": 2147483648})", "-F---"},
        {R"({"maxResults": 2.5})", "-----"},
        {R"({"role": 1})", "T----"},
        {R"({"elementId": "a", "batch_id": null, "extra": [1]})", "-FC--"},
        {R"({"elementId": "a", "batch_id": 3})", "-----"},
        {R"({"elementId": "a", "text": "héllo"})", "-FCT-"},
        {R"({"elementId": "a", "direction": "up", "amount": 0.5})", "-FC-S"},
    };
    for (const auto& [body, accepted] : rows) {
        const std::string got = {
            bool(decodeAXTreeRequest(body)) ? 'T' : '-', bool(decodeAXQuery(body)) ? 'F' : '-',
            bool(decodeAXClickRequest(body)) ? 'C' : '-', bool(decodeAXTypeRequest(body)) ? 'T' : '-',
            bool(decodeAXScrollRequest(body)) ? 'S' : '-'};
        EXPECT_EQ(got, accepted) << body;
    }
    for (const char* body : {"", "[]", R"({"batch_id": null})", R"({"batch_id": "b", "n": 1})"}) {
        EXPECT_EQ(batchIdOfBody(body), "default") << body;
    }
    EXPECT_EQ(batchIdOfBody(R"({"batch_id": "b", "x": null})"), "b");
}

json editorScene(std::optional<int> frontmost = 100) {
    const json field = element("AXTextField", "1", {{"value", "123"}, {"identifier", "login.name"}});
    const json draft = {
        {"children",
         {testing::button("Save"), testing::button("Don't Save"), testing::button("save"),
          element("AXGroup", "Save group", {{"children", {element("AXButton", "Save group item")}}}), field,
          element("AXTextField", "2", {{"value", "12a"}, {"identifier", "login.pw"}}),
          element("AXTextField", "3", {{"value", "line\n42"}}), element("AXTextField", "4", {{"value", ""}}),
          element("AXStaticText", "")}}};
    return {{"frontmost", frontmost ? json(*frontmost) : json(nullptr)},
            {"applications",
             {application(100, "Editor", {element("AXWindow", "Draft", draft)}),
              application(200, "Viewer",
                          {element("AXWindow", "Photo", {{"children", {testing::button("Close")}}})})}}};
}

class AXRoutes : public ::testing::Test {
  protected:
    AgentUnderTest agent{editorScene()};

    std::vector<std::string> labelsFound(const std::string& query) {
        const auto reply = agent.post("/ax/find", query);
        EXPECT_EQ(reply.status, 200) << reply.text;
        std::vector<std::string> labels;
        for (const auto& match : reply.body["matches"]) labels.push_back(match.value("label", match["role"]));
        return labels;
    }
};

TEST_F(AXRoutes, SearchFiltersTheFrontmostTreeInPreOrderAndAMatchCarriesItsSubtree) {
    using Labels = std::vector<std::string>;
    const std::vector<std::pair<std::string, Labels>> rows = {
        {R"({"role": "axbutton"})", {}},
        {R"({"label": "Save", "maxResults": 3})", {"Save", "Don't Save", "Save group"}},
        {R"({"label": "S.ve"})", {}},
        {R"({"label": ""})", {}},
        {R"({"label": "group"})", {"Save group", "Save group item"}},
        {R"({"identifier": "login."})", {"1", "2"}},
        {R"({"valueRegex": "^[0-9]+$"})", {"1"}},
        {R"({"valueRegex": "[0-9]+"})", {"1", "2", "3"}},
        {R"({"valueRegex": ""})", {"1", "2", "3", "4"}},
        {R"({"valueRegex": "\\p{Nd}{3}"})", {"1"}},
        {R"({"valueRegex": "["})", {}},
        {R"({"role": "AXButton", "maxResults": -5})", {"Save"}},
        {R"({"role": "AXWindow", "label": "Photo"})", {}},
    };
    for (const auto& [query, labels] : rows) EXPECT_EQ(labelsFound(query), labels) << query;
    const auto everything = agent.post("/ax/find", "{}");
    EXPECT_EQ(everything.body["matches"].size(), 10u) << "up to ten by default";
    EXPECT_EQ(everything.body["matches"][0]["children"][0], everything.body["matches"][1]);
}

TEST_F(AXRoutes, ATreeIsCachedUntilTheFrontmostApplicationChanges) {
    EXPECT_EQ(agent.post("/ax/tree", R"({"root_pid": 200})").body["tree"]["label"], "Viewer");
    EXPECT_EQ(agent.post("/ax/tree", R"({"root_pid": 200})").headers.at("X-Pavo-Cache"), "HIT");
    agent.desktop.replaceScene(parseScene(editorScene(200)));
    EXPECT_EQ(agent.post("/ax/tree", R"({"root_pid": 200})").headers.at("X-Pavo-Cache"), "MISS");
}

TEST_F(AXRoutes, ABatchPinsSearchesToTheApplicationThatWasFrontmostWhenItBegan) {
    using Labels = std::vector<std::string>;
    EXPECT_EQ(agent.post("/batch/begin", R"({"batch_id": "b"})").body,
              json({{"ok", true}, {"batch_id", "b"}}));
    agent.desktop.replaceScene(parseScene(editorScene(200)));
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Draft"});
    EXPECT_EQ(labelsFound(R"({"role": "AXWindow"})"), Labels{"Draft"}) << "stored under the frontmost pid";
    EXPECT_EQ(agent.post("/batch/end", R"({"batch_id": "b"})").body, json({{"ok", true}, {"batch_id", "b"}}));
    agent.clock.advance(2s);
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Photo"}) << "an ended batch";
    agent.post("/batch/begin", R"({"batch_id": "b"})");
    agent.desktop.replaceScene(parseScene(editorScene(100)));
    agent.clock.advance(2s);
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Photo"})
        << "moved by a new begin";
}

TEST_F(AXRoutes, NoFrontmostApplicationAndNoPermissionHaveTheirOwnReplies) {
    agent.desktop.replaceScene(parseScene(editorScene(std::nullopt)));
    const json noFront = {{"error", "could_not_get_frontmost_app"}};
    const json noPermission = {{"error", "ax_permission_missing"},
                               {"hint", "System Settings -> Privacy & Security -> Accessibility"}};
    for (bool trusted : {true, false}) {
        agent.desktop.setTrusted(trusted);
        for (const char* path : {"/ax/tree", "/ax/find", "/batch/begin"}) {
            const auto reply = agent.post(path, R"({"batch_id": null})");
            EXPECT_EQ(reply.status, trusted ? 500 : 403) << path;
            EXPECT_EQ(reply.body, trusted ? noFront : noPermission) << path;
        }
        EXPECT_EQ(agent.post("/ax/tree", R"({"root_pid": 100})").status, trusted ? 200 : 403);
    }
    EXPECT_EQ(agent.post("/batch/end", "{}").status, 200) << "ending a batch needs no permission";
}

}  // namespace
}  // namespace pavo::agent
