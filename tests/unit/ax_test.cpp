// Accessibility snapshots: element records and ids, the tree walk, the cache, search, and the tree, find and
// batch routes over a simulated desktop.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "agent/ax/ax_find.hpp"
#include "agent/ax/ax_requests.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent/server/on_desktop.hpp"
#include "agent_under_test.hpp"
#include "await.hpp"
#include "scene.hpp"

namespace pavo::agent {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using platform::simulated::parseScene;
using platform::simulated::SimulatedDesktop;
using platform::simulated::SimulatedElement;
using testing::AgentUnderTest;
using testing::application;
using testing::button;
using testing::element;
using testing::frame;

TEST(ElementId, MatchesTheReferenceVectorAndPutsIdentifierBeforeTitle) {
    // sha256("812|AXApplication||Mail|0"), first 8 bytes.
    EXPECT_EQ(elementId(812, "AXApplication", "", "Mail", "0"), "e011360f9c897770");
    EXPECT_NE(elementId(812, "AXApplication", "Mail", "", "0"), "e011360f9c897770");
    EXPECT_EQ(sha256Hash("abc"), "ba7816bf8f01cfea");
}

TEST(ElementInfo, AbsentFieldsAreOmittedAndTheDirectWriterAgreesWithTheJsonLibrary) {
    AXElementInfo bare{.id = "0123456789abcdef", .role = "Unknown"};
    EXPECT_EQ(json(bare), json({{"id", "0123456789abcdef"}, {"role", "Unknown"}}));
    AXElementInfo leaf = bare;
    leaf.children.emplace();
    EXPECT_EQ(json(leaf)["children"], json::array());

    AXElementInfo tricky{.id = "a",
                         .role = "AXText\"Area\\",
                         .label = std::string("tab\t nl\n nul\0 bell\x07", 18),
                         .value = "caf\xC3\xA9 \xF0\x9F\x98\x80 bad\xFF",
                         .identifier = "",
                         .frame = AXFrame{-0.5, 1e21, 1.0 / 3.0, 120},
                         .focused = false};
    tricky.children = std::vector<AXElementInfo>{leaf, tricky};
    std::string written;
    appendJson(written, tricky);
    EXPECT_EQ(json::parse(written),
              json::parse(json(tricky).dump(-1, ' ', false, json::error_handler_t::replace)));
    EXPECT_NE(written.find("\"height\":120.0"), std::string::npos) << "whole numbers stay floating point";
    EXPECT_EQ(written.find("enabled"), std::string::npos);

    written.clear();
    appendJson(written, AXElementInfo{.id = "c", .role = "r", .frame = AXFrame{INFINITY, 0, 0, 0}});
    EXPECT_TRUE(json::parse(written)["frame"]["x"].is_null());
    EXPECT_EQ(json(tricky).get<AXElementInfo>(), tricky) << "decoding gives back what was encoded";
    EXPECT_THROW(json({{"id", "a"}}).get<AXElementInfo>(), json::exception) << "a role is required";
}

json mailWindow(json children) {
    return element("AXWindow", "Doc", [&] {
        json extra = frame(10, 20, 300, 200);
        extra["children"] = std::move(children);
        return extra;
    }());
}

SimulatedDesktop mail(json windowChildren) {
    return SimulatedDesktop(parseScene(
        {{"frontmost", 812}, {"applications", {application(812, "Mail", {mailWindow(windowChildren)})}}}));
}

AXElementInfo snapshot(SimulatedDesktop& desktop, std::int32_t pid = 812) {
    return buildTree(desktop.accessibility(), desktop.applicationElement(pid), "0");
}

TEST(BuildTree, RecordsOnlyWhatReadsWithTheRightType) {
    auto desktop = mail({
        element("AXTextField", "",
                {{"value", "hello"}, {"identifier", "name"}, {"enabled", true}, {"focused", false}}),
        element("AXSlider", "", {{"value", 42}}),
        {{"title", "no role"}, {"position", {{"x", 1}, {"y", 1}}}},
        element("AXGroup", ""),
        element("AXMenuBar", "", {{"childrenUnreadable", true}}),
    });
    const AXElementInfo root = snapshot(desktop);
    EXPECT_EQ(root.id, elementId(812, "AXApplication", "", "Mail", "0"));
    EXPECT_FALSE(root.frame);
    const AXElementInfo& window = root.children->at(0);
    EXPECT_EQ(window.frame, (AXFrame{10, 20, 300, 200}));
    const auto& items = *window.children;
    EXPECT_EQ(items[0].value, "hello");
    EXPECT_EQ(items[0].identifier, "name");
    EXPECT_EQ(items[0].enabled, true);
    EXPECT_EQ(items[0].focused, false);
    EXPECT_FALSE(items[1].value) << "a numeric value is not text";
    EXPECT_EQ(items[2].id, elementId(812, "Unknown", "", "no role", "0/0/2"));
    EXPECT_FALSE(items[2].frame) << "a position without a size is no frame";
    EXPECT_EQ(items[3].children, std::vector<AXElementInfo>{}) << "no children: an empty array";
    EXPECT_FALSE(items[4].children) << "unreadable children: absent";
    EXPECT_EQ(json(snapshot(desktop, 999)),
              json({{"id", elementId(999, "Unknown", "", "", "0")}, {"role", "Unknown"}}))
        << "an application that is not running is a bare root";
}

TEST(BuildTree, ShowsAtMostOneThousandChildren) {
    auto desktop = mail({{{"repeat", 1005}, {"role", "AXRow"}, {"title", "Row {n}"}}});
    const auto rows = *snapshot(desktop).children->at(0).children;
    ASSERT_EQ(rows.size(), 1000u);
    EXPECT_EQ(rows.back().label, "Row 1000");
}

TEST(BuildTree, IdsFollowPositionTitleAndIdentifierButNothingElse) {
    auto desktop =
        mail({element("AXButton", "OK", {{"value", "a"}}), element("AXButton", "OK", {{"value", "a"}}),
              element("AXGroup", "", {{"children", {element("AXButton", "Inner")}}})});
    const auto before = snapshot(desktop);
    const auto& buttons = *before.children->at(0).children;
    EXPECT_NE(buttons[0].id, buttons[1].id) << "identical siblings differ by their ordinal paths";

    desktop.modifyElement(812, "0/0/0", [](SimulatedElement& e) { e.value = std::string("b"); });
    desktop.modifyElement(812, "0/0", [](SimulatedElement& e) { e.title = "Doc 2"; });
    const auto after = snapshot(desktop);
    EXPECT_NE(after.children->at(0).id, before.children->at(0).id) << "a new title is a new id";
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(after.children->at(0).children->at(i).id, buttons[i].id) << "but not for its descendants";
    }
    desktop.modifyElement(812, "0/0/1", [](SimulatedElement& e) { e.identifier = "ok"; });
    EXPECT_NE(snapshot(desktop).children->at(0).children->at(1).id, buttons[1].id);
}

class TreeCache : public ::testing::Test {
  protected:
    AXTreeCache::TimePoint now{};
    AXTreeCache cache{[this] { return now; }};

    static std::shared_ptr<const AXSnapshot> tree(const std::string& role) {
        return std::make_shared<const AXSnapshot>(AXElementInfo{.id = "0000000000000000", .role = role});
    }
    void store(std::int32_t key, std::shared_ptr<const AXSnapshot> s) {
        cache.store(key, s, cache.generation());
    }
};

TEST_F(TreeCache, AnEntryIsFreshUpToExactlyOneSecondAndALaterStoreRestartsIt) {
    auto old = tree("old");
    store(7, old);
    now += 1s;
    EXPECT_EQ(cache.get(7, 7), old) << "an age of exactly one second is still fresh";
    now += 1ns;
    EXPECT_FALSE(cache.get(7, 7));
    EXPECT_EQ(cache.size(), 0u) << "a stale lookup removes the entry";

    store(7, tree("old"));
    now += 900ms;
    auto fresh = tree("new");
    store(7, fresh);
    now += 900ms;
    EXPECT_EQ(cache.get(7, 7), fresh);
}

TEST_F(TreeCache, KeysAndFlushes) {
    store(9, tree("stored before any lookup"));
    EXPECT_TRUE(cache.get(9, 3)) << "the first lookup never flushes";
    store(3, tree("front"));
    EXPECT_EQ(cache.get(std::nullopt, 3), cache.get(3, 3)) << "the key is the root pid, else the frontmost";
    EXPECT_FALSE(cache.get(9, 8)) << "a change of frontmost application flushes even an explicit root";
    EXPECT_EQ(cache.size(), 0u);
    store(0, tree("none"));
    EXPECT_FALSE(cache.get(std::nullopt, std::nullopt)) << "no application in front is a change too";
    store(0, tree("none"));
    EXPECT_TRUE(cache.get(std::nullopt, std::nullopt)) << "still none in front: no flush";

    const auto generation = cache.generation();
    cache.bump();
    EXPECT_EQ(cache.size(), 0u);
    cache.store(0, tree("walked before the action"), generation);
    EXPECT_FALSE(cache.get(std::nullopt, std::nullopt)) << "a walk begun before a bump is never served";
}

TEST_F(TreeCache, WalksAreRememberedPastActionsAndTimeForTheLastEightApplications) {
    AXElementInfo root{.id = "root", .role = "AXApplication"};
    AXElementInfo window{.id = "window", .role = "AXWindow"};
    window.children = std::vector<AXElementInfo>{AXElementInfo{.id = "a"}, AXElementInfo{.id = "b"}};
    root.children = std::vector<AXElementInfo>{window};
    cache.rememberWalk(1, std::make_shared<const AXSnapshot>(root));
    cache.bump();
    now += 1h;
    EXPECT_EQ(cache.knownPath(1, "b"), "0/0/1");
    EXPECT_EQ(cache.knownPath(1, "c"), std::nullopt);
    EXPECT_EQ(cache.knownPath(2, "b"), std::nullopt);
    for (std::int32_t pid = 2; pid <= 9; ++pid) cache.rememberWalk(pid, tree("other"));
    EXPECT_EQ(cache.knownPath(1, "b"), std::nullopt) << "the oldest of nine is forgotten";
    EXPECT_EQ(cache.knownPath(2, "0000000000000000"), "0");

    const AXSnapshot mailSnapshot(
        AXElementInfo{.id = "0123456789abcdef", .role = "AXApplication", .label = "Mail"});
    EXPECT_EQ(mailSnapshot.treeResponseBody(),
              R"({"tree":{"id":"0123456789abcdef","role":"AXApplication","label":"Mail"}})");
}

AXElementInfo node(std::string role, std::optional<std::string> label = std::nullopt,
                   std::vector<AXElementInfo> children = {}, std::optional<std::string> value = std::nullopt,
                   std::optional<std::string> identifier = std::nullopt) {
    AXElementInfo e{.id = role + label.value_or(""), .role = std::move(role), .label = std::move(label)};
    e.value = std::move(value);
    e.identifier = std::move(identifier);
    e.children = std::move(children);
    return e;
}

using Ids = std::vector<std::string>;

Ids find(const AXElementInfo& root, const AXQuery& query) {
    std::vector<const AXElementInfo*> matches;
    collectMatches(root, CompiledQuery(query), query.maxResults.value_or(kDefaultMaxResults), matches);
    Ids ids;
    for (const auto* m : matches) ids.push_back(m->id);
    return ids;
}

TEST(Find, FiltersAndOrder) {
    const AXElementInfo dialog =
        node("AXWindow", "Save changes?",
             {node("AXButton", "Save"), node("AXButton", "Don't Save"), node("AXButton", "save"),
              node("AXGroup", "Save group", {node("AXButton", "Save group item")}),
              node("AXTextField", "1", {}, "123", "login.name"),
              node("AXTextField", "2", {}, "12a", "login.pw"), node("AXTextField", "3", {}, "line\n42"),
              node("AXTextField", "4", {}, ""), node("AXStaticText"), node("AXStaticText")});
    struct Row {
        AXQuery query;
        Ids expected;
    };
    const std::vector<Row> rows = {
        {{.role = "AXButton", .maxResults = 2}, {"AXButtonSave", "AXButtonDon't Save"}},
        {{.role = "axbutton"}, {}},
        {{.label = "Save", .maxResults = 3}, {"AXWindowSave changes?", "AXButtonSave", "AXButtonDon't Save"}},
        {{.label = ""}, {}},
        {{.label = "S.ve"}, {}},
        {{.label = "group"}, {"AXGroupSave group", "AXButtonSave group item"}},
        {{.identifier = "login."}, {"AXTextField1", "AXTextField2"}},
        {{.identifier = "LOGIN"}, {}},
        {{.valueRegex = "^[0-9]+$"}, {"AXTextField1"}},
        {{.valueRegex = "[0-9]+"}, {"AXTextField1", "AXTextField2", "AXTextField3"}},
        {{.valueRegex = "^42"}, {}},
        {{.valueRegex = "line.42"}, {}},
        {{.valueRegex = ""}, {"AXTextField1", "AXTextField2", "AXTextField3", "AXTextField4"}},
        {{.valueRegex = "\\p{Nd}{3}"}, {"AXTextField1"}},
        {{.valueRegex = "["}, {}},
        {{.role = "AXButton", .maxResults = 0}, {"AXButtonSave"}},
        {{.role = "AXButton", .maxResults = -5}, {"AXButtonSave"}},
        {{.role = "AXSlider", .maxResults = 0}, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(find(dialog, row.query), row.expected)
            << row.query.role.value_or("") << "|" << row.query.label.value_or("") << "|"
            << row.query.identifier.value_or("") << "|" << row.query.valueRegex.value_or("");
    }
    EXPECT_EQ(find(dialog, {}).size(), 10u) << "every element, in pre-order, up to the default of ten";
}

TEST(AXBodies, DecodeOnlyObjectsWhoseKeysHaveTheirTypes) {
    struct Row {
        std::string body;
        bool tree, find, click, type, scroll;
    };
    const std::vector<Row> rows = {
        {"", false, false, false, false, false},
        {"[]", false, false, false, false, false},
        {"{", false, false, false, false, false},
        {"{}", true, true, false, false, false},
        {R"({"root_pid": null, "other": 3})", true, true, false, false, false},
        {R"({"root_pid": 100.0})", false, true, false, false, false},
        {R"({"root_pid": 2147483648})", false, true, false, false, false},
        {R"({"root_pid": -2147483648})", true, true, false, false, false},
        {R"({"root_pid": 1, "x": "s"})", false, true, false, false, false},
        {R"({"maxResults": 2.5})", false, false, false, false, false},
        {R"({"role": 1})", true, false, false, false, false},
        {R"({"elementId": "a", "batch_id": null, "extra": [1]})", false, true, true, false, false},
        {R"({"elementId": "a", "batch_id": 3})", false, false, false, false, false},
        {R"({"elementId": 7})", true, true, false, false, false},
        {R"({"elementId": "a", "text": "héllo"})", false, true, true, true, false},
        {R"({"elementId": "a", "text": null})", false, true, true, false, false},
        {R"({"elementId": "a", "direction": "up", "amount": 0.5})", false, true, true, false, true},
        {R"({"elementId": "a", "direction": "up", "amount": "150"})", false, true, true, false, false},
        {R"({"elementId": "a", "direction": 1})", false, true, true, false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bool(decodeAXTreeRequest(row.body)), row.tree) << row.body;
        EXPECT_EQ(bool(decodeAXQuery(row.body)), row.find) << row.body;
        EXPECT_EQ(bool(decodeAXClickRequest(row.body)), row.click) << row.body;
        EXPECT_EQ(bool(decodeAXTypeRequest(row.body)), row.type) << row.body;
        EXPECT_EQ(bool(decodeAXScrollRequest(row.body)), row.scroll) << row.body;
        if (!row.find) {
            EXPECT_NE(decodeAXQuery(row.body).error().message, "") << "a search says why: " << row.body;
        }
    }
    EXPECT_EQ(decodeAXQuery(R"({"maxResults": 3, "batch_id": "b"})")->batchId, "b");
    for (const char* body : {"", "junk", "[]", R"({"batch_id": null})", R"({"batch_id": "b", "n": 1})"}) {
        EXPECT_EQ(batchIdOfBody(body), "default") << body;
    }
    EXPECT_EQ(batchIdOfBody(R"({"batch_id": "b", "x": null})"), "b");
}

json editorScene(std::optional<int> frontmost = 100) {
    return {
        {"frontmost", frontmost ? json(*frontmost) : json(nullptr)},
        {"applications",
         {application(
              100, "Editor",
              {element("AXWindow", "Draft",
                       {{"children",
                         {button("Save"), button("Save As…"),
                          element("AXTextField", "", {{"value", "12345"}, {"identifier", "count"}})}}})}),
          application(200, "Viewer", {element("AXWindow", "Photo", {{"children", {button("Close")}}})})}}};
}

class AXRoutes : public ::testing::Test {
  protected:
    AgentUnderTest agent{editorScene()};

    void setScene(const json& scene) { agent.desktop.replaceScene(parseScene(scene)); }
    std::vector<std::string> labelsFound(const std::string& query) {
        const auto reply = agent.post("/ax/find", query);
        EXPECT_EQ(reply.status, 200) << reply.text;
        std::vector<std::string> labels;
        for (const auto& match : reply.body["matches"]) labels.push_back(match.value("label", match["role"]));
        return labels;
    }
};

TEST_F(AXRoutes, ATreeIsCachedForOneSecondUntilTheFrontmostApplicationOrAnElementChanges) {
    const auto first = agent.post("/ax/tree", "{}");
    ASSERT_EQ(first.status, 200) << first.text;
    EXPECT_EQ(first.headers.at("X-Pavo-Cache"), "MISS");
    EXPECT_EQ(first.body["tree"]["label"], "Editor");
    const auto second = agent.post("/ax/tree", R"({"root_pid": null})");
    EXPECT_EQ(second.headers.at("X-Pavo-Cache"), "HIT");
    EXPECT_EQ(second.text, first.text);
    agent.clock.advance(1001ms);
    EXPECT_EQ(agent.post("/ax/tree", "{}").headers.at("X-Pavo-Cache"), "MISS") << "after a second";

    const auto viewer = agent.post("/ax/tree", R"({"root_pid": 200})");
    EXPECT_EQ(viewer.body["tree"]["label"], "Viewer");
    EXPECT_EQ(agent.post("/ax/tree", R"({"root_pid": 200})").headers.at("X-Pavo-Cache"), "HIT");
    json scene = editorScene(200);
    scene["applications"][1]["tree"]["children"][0]["title"] = "Photo 2";
    setScene(scene);
    const auto renamed = agent.post("/ax/tree", R"({"root_pid": 200})");
    EXPECT_EQ(renamed.headers.at("X-Pavo-Cache"), "MISS") << "a change of frontmost application flushes";
    EXPECT_NE(renamed.body["tree"]["children"][0]["id"], viewer.body["tree"]["children"][0]["id"]);
    EXPECT_EQ(agent.post("/ax/tree", "{}").body["tree"]["label"], "Viewer");
    EXPECT_EQ(agent.post("/ax/tree", R"({"root_pid": 1.5})").status, 400);
}

TEST_F(AXRoutes, SearchFiltersTheFrontmostTreeAndAMatchCarriesItsSubtree) {
    EXPECT_EQ(labelsFound(R"({"role": "AXButton", "label": "Save", "maxResults": 2})"),
              (std::vector<std::string>{"Save", "Save As…"}));
    const auto everything = agent.post("/ax/find", "{}");
    EXPECT_EQ(everything.body["matches"][0]["children"][0], everything.body["matches"][1]);
    EXPECT_FALSE(everything.headers.contains("X-Pavo-Cache"));
    const auto bad = agent.post("/ax/find", R"({"maxResults": "3"})");
    EXPECT_EQ(bad.status, 400);
    EXPECT_EQ(bad.body, json({{"error", "bad_request"}, {"message", "maxResults: expected an integer"}}));
}

TEST_F(AXRoutes, ABatchPinsSearchesToTheApplicationThatWasFrontmostWhenItBegan) {
    using Labels = std::vector<std::string>;
    EXPECT_EQ(agent.post("/batch/begin", R"({"batch_id": "b"})").body,
              json({{"ok", true}, {"batch_id", "b"}}));
    setScene(editorScene(200));
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Draft"});
    EXPECT_EQ(labelsFound(R"({"role": "AXWindow"})"), Labels{"Draft"}) << "stored under the frontmost pid";
    EXPECT_EQ(agent.post("/batch/end", R"({"batch_id": "b"})").body, json({{"ok", true}, {"batch_id", "b"}}));
    agent.clock.advance(2s);
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Photo"}) << "an ended batch";
    agent.post("/batch/begin", R"({"batch_id": "b"})");
    setScene(editorScene(100));
    agent.clock.advance(2s);
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Photo"})
        << "moved by a new begin";
    agent.clock.advance(2s);
    EXPECT_EQ(labelsFound(R"({"batch_id": "unknown", "role": "AXWindow"})"), Labels{"Draft"});
}

TEST_F(AXRoutes, NoFrontmostApplicationAndNoPermissionHaveTheirOwnReplies) {
    setScene(editorScene(std::nullopt));
    for (const char* path : {"/ax/tree", "/ax/find", "/batch/begin"}) {
        const auto reply = agent.post(path, "{}");
        EXPECT_EQ(reply.status, 500) << path;
        EXPECT_EQ(reply.body, json({{"error", "could_not_get_frontmost_app"}})) << path;
    }
    EXPECT_EQ(agent.post("/ax/tree", R"({"root_pid": 100})").status, 200) << "a root pid needs no frontmost";
    agent.desktop.setTrusted(false);
    for (const char* path : {"/ax/tree", "/ax/find", "/batch/begin"}) {
        const auto reply = agent.post(path, R"({"batch_id": null})");
        EXPECT_EQ(reply.status, 403) << path;
        EXPECT_EQ(reply.body, json({{"error", "ax_permission_missing"},
                                    {"hint", "System Settings -> Privacy & Security -> Accessibility"}}));
    }
    EXPECT_EQ(agent.post("/batch/end", "{}").status, 200) << "ending a batch needs no permission";
}

TEST(ExampleScene, ShowsTheFirstThousandRowsAndKeepsTheMenuBarsChildrenUnreadable) {
    std::ifstream file(std::string(PAVO_SOURCE_DIR) + "/scenes/text_editor.json");
    std::stringstream text;
    text << file.rdbuf();
    AgentUnderTest agent(json::parse(text.str()));
    const auto tree = agent.post("/ax/tree", "{}");
    ASSERT_EQ(tree.status, 200);
    const json& list = tree.body["tree"]["children"][1]["children"][3]["children"][0];
    EXPECT_EQ(list["identifier"], "rows");
    EXPECT_EQ(list["children"].size(), 1000u);
    EXPECT_FALSE(tree.body["tree"]["children"][0].contains("children"));
    const auto found = agent.post("/ax/find", R"({"valueRegex": "^99[0-9]$", "maxResults": 2})");
    EXPECT_EQ(found.body["matches"].size(), 2u);
}

TEST(OnDesktop, RunsOffTheCallersThreadAndResumesOnItWithExceptions) {
    SimulatedDesktop desktop(parseScene(json::object()));
    std::thread::id workThread, resumedOn;
    std::string failure;
    testing::await([&]() -> boost::asio::awaitable<void> {
        workThread = co_await onDesktop(desktop, [] { return std::this_thread::get_id(); });
        resumedOn = std::this_thread::get_id();
        try {
            co_await onDesktop(desktop, []() -> int { throw std::runtime_error("desktop failed"); });
        } catch (const std::runtime_error& error) {
            failure = error.what();
        }
        co_return;
    }());
    EXPECT_NE(workThread, std::this_thread::get_id());
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
    EXPECT_EQ(failure, "desktop failed");
}

}  // namespace
}  // namespace pavo::agent
