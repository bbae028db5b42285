// Clicking, typing and scrolling elements through the routes, with and without the operator's consent.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <limits>

#include "agent/ax/ax_actions.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent_under_test.hpp"
#include "scene.hpp"
#include "stand_in_overlay.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
using testing::element;
using testing::Reply;

json scene() {
    json window =
        element("AXWindow", "Main",
                {{"children",
                  {testing::button("OK"), element("AXButton", "Flat", testing::frame(100, 200, 40, 20)),
                   element("AXButton", "Bare"),
                   element("AXTextField", "Name", {{"value", "old"}, {"settable", {"AXValue"}}}),
                   element("AXTextArea", "Terminal", {{"settable", {"AXFocused"}}}),
                   element("AXScrollArea", "List", {{"actions", {"AXScrollUp", "AXScrollDown"}}})}}});
    json other = element("AXWindow", "Other", {{"children", {testing::button("OK")}}});
    return {{"frontmost", 10},
            {"applications",
             {testing::application(10, "One", {window}), testing::application(20, "Two", {other})}}};
}

// Ids as a snapshot reports them: application "0", its window "0/0", the window's children "0/0/i".
const std::string kOK = elementId(10, "AXButton", "", "OK", "0/0/0");
const std::string kFlat = elementId(10, "AXButton", "", "Flat", "0/0/1");
const std::string kBare = elementId(10, "AXButton", "", "Bare", "0/0/2");
const std::string kField = elementId(10, "AXTextField", "", "Name", "0/0/3");
const std::string kTerminal = elementId(10, "AXTextArea", "", "Terminal", "0/0/4");
const std::string kList = elementId(10, "AXScrollArea", "", "List", "0/0/5");
const std::string kOtherOK = elementId(20, "AXButton", "", "OK", "0/0/0");

class ElementActions : public ::testing::Test {
  protected:
    testing::AgentUnderTest agent{scene()};
    AXTreeCache& cache = agent.cache;

    Reply act(const std::string& action, const std::string& id, json body = json::object()) {
        body["elementId"] = id;
        return agent.postJson("/ax/" + action, body);
    }
    // Puts a snapshot in the cache, so a test can tell whether the action flushed it.
    void fillCache() {
        cache.store(10, std::make_shared<const AXSnapshot>(AXElementInfo{"x", "AXApplication"}),
                    cache.generation());
    }
};

TEST_F(ElementActions, AClickPressesElseSynthesizesAtTheFrameCentreAndFlushesTheCache) {
    fillCache();
    EXPECT_EQ(act("click", kOK).body, json({{"ok", true}, {"method", "ax_press"}}));
    EXPECT_EQ(agent.recorded("action").at(0)["element"], "0/0/0");
    EXPECT_TRUE(agent.recorded("mouse").empty());
    EXPECT_EQ(cache.size(), 0u);

    fillCache();
    EXPECT_EQ(act("click", kFlat).body,
              json({{"ok", true}, {"method", "synthesized_click"}, {"x", 120.0}, {"y", 210.0}}));
    std::vector<json> mouse;
    for (const char* type : {"mouseMoved", "leftMouseDown", "leftMouseUp"}) {
        mouse.push_back({{"kind", "mouse"}, {"type", type}, {"x", 120.0}, {"y", 210.0}, {"button", 0}});
    }
    EXPECT_EQ(agent.recorded("mouse"), mouse);
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ElementActions, FailuresLeaveTheCacheThePointerAndTheElementsAlone) {
    fillCache();
    // Action, element, body, status and error. The direction is judged only once the element is known.
    const std::vector<std::tuple<std::string, std::string, json, int, std::string>> rows = {
        {"click", kBare, {}, 500, "action_failed"},
        {"scroll", "0123456789abcdef", {{"direction", "north"}}, 404, "element_not_found"},
        {"scroll", kList, {{"direction", "north"}}, 400, "invalid_input"},
        {"scroll", kList, {{"direction", "down"}, {"amount", 1e21}}, 400, "invalid_input"}};
    for (const auto& [action, id, body, status, error] : rows) {
        const Reply reply = act(action, id, body);
        EXPECT_EQ(std::make_pair(reply.status, reply.body.value("error", "")), std::make_pair(status, error))
            << body.dump();
    }
    agent.desktop.setFrontmost(std::nullopt);
    agent.batches.begin("b", 10);
    // A batch cannot stand in for a missing frontmost application.
    EXPECT_EQ(act("click", kOK, {{"batch_id", "b"}}).body, json({{"error", "could_not_get_frontmost_app"}}));
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_TRUE(agent.recorded("mouse").empty());
    EXPECT_EQ(agent.recorded("action").size(), 1u) << "only the refused press of the frameless button";
}

TEST_F(ElementActions, AnIdFromAnEarlierSnapshotNeverActsOnWhateverNowStandsAtItsPlace) {
    platform::Accessibility& ax = agent.desktop.accessibility();
    cache.rememberWalk(10, std::make_shared<const AXSnapshot>(buildTree(ax, ax.applicationElement(10), "0")));
    // OK and Flat change places: the remembered path of OK now leads to Flat.
    json swapped = scene();
    auto& children = swapped["applications"][0]["tree"]["children"][0]["children"];
    std::swap(children[0], children[1]);
    agent.desktop.replaceScene(platform::simulated::parseScene(swapped));
    EXPECT_EQ(act("click", kOK).status, 404);
    EXPECT_TRUE(agent.recorded("action").empty());
    EXPECT_EQ(act("click", elementId(10, "AXButton", "", "OK", "0/0/1")).status, 200);
}

TEST_F(ElementActions, ABatchPinsTheTargetProcessAnUnknownBatchFallsBackToTheFrontmostOne) {
    EXPECT_EQ(act("click", kOtherOK).status, 404) << "ids of a background application are not found";
    agent.batches.begin("b", 20);
    EXPECT_EQ(act("click", kOtherOK, {{"batch_id", "b"}}).status, 200);
    EXPECT_EQ(act("click", kOK, {{"batch_id", "b"}}).status, 404);
    EXPECT_EQ(act("click", kOK, {{"batch_id", "nobody"}}).status, 200);
}

TEST_F(ElementActions, TypingSetsTheValueElseFocusesAndPostsOneKeyPairPerCharacterWithPauses) {
    fillCache();
    EXPECT_EQ(act("type", kField, {{"text", "Zoë"}}).body, json({{"ok", true}, {"method", "ax_value"}}));
    EXPECT_EQ(agent.recorded("set").at(0)["value"], "Zoë");
    EXPECT_TRUE(agent.recorded("key").empty());
    EXPECT_EQ(cache.size(), 0u);

    fillCache();
    EXPECT_EQ(act("type", kTerminal, {{"text", "aé👍🏽"}}).body,
              json({{"ok", true}, {"method", "cg_event"}}));
    const auto sets = agent.recorded("set");
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[2]["attribute"], "AXFocused");
    // One pair per character, each down at least a pause after the last: a by its key, é and a skin-toned
    // emoji (one character of four UTF-16 units) by their text.
    std::vector<std::string> keys;
    std::optional<std::chrono::steady_clock::time_point> lastDown;
    for (const auto& r : agent.desktop.records()) {
        if (r.entry["kind"] != "key") continue;
        const bool down = r.entry["down"].get<bool>();
        keys.push_back((down ? "+" : "-") + r.entry.value("text", ""));
        if (!down) continue;
        EXPECT_GE(r.time - lastDown.value_or(r.time - kKeystrokePause), kKeystrokePause);
        lastDown = r.time;
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"+", "-", "+é", "-é", "+👍🏽", "-👍🏽"}));
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ElementActions, ScrollingPerformsTheDirectionsActionAsManyTimesAsTheAmountAsks) {
    // Left is refused: it stops at once and is still done.
    const std::vector<std::tuple<json, std::size_t, std::string>> rows = {
        {{{"direction", "down"}}, 2, "AXScrollDown"},
        {{{"direction", "UP"}, {"amount", 500}}, 10, "AXScrollUp"},
        {{{"direction", "left"}, {"amount", 5000}}, 1, "AXScrollLeft"}};
    for (const auto& [body, count, action] : rows) {
        SCOPED_TRACE(body.dump());
        fillCache();
        const std::size_t before = agent.recorded("action").size();
        EXPECT_EQ(act("scroll", kList, body).body, json({{"ok", true}, {"method", "ax_scroll"}}));
        const auto actions = agent.recorded("action");
        ASSERT_EQ(actions.size() - before, count);
        EXPECT_EQ(actions.back()["action"], action);
        EXPECT_EQ(cache.size(), 0u);
    }
}

TEST(ScrollActionCount, TruncatesFiftyUnitStepsToAtLeastOneAndRejectsCountsBeyondSixtyFourBits) {
    const std::vector<std::pair<std::optional<double>, std::optional<std::int64_t>>> rows = {
        {99.9, 1},
        {149, 2},
        {-1e9, 1},
        {4.6e20, 9200000000000000000},
        {4.62e20, std::nullopt},
        {-1e21, std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt}};
    for (const auto& [amount, count] : rows) EXPECT_EQ(scrollActionCount(amount), count) << *amount;
}

TEST_F(ElementActions, WhenGatedEachActionAsksAboutItsElementAndRunsOnlyWhenGranted) {
    testing::StandInOverlay overlay{agent.io};
    agent.gateWith(std::make_shared<const OverlayClient>(
        overlay.port(), "overlay-secret", ConsentTiming{.clock = std::make_shared<testing::FakeClock>()}));
    for (const char* path : {"/ax/click", "/ax/type", "/ax/scroll"}) {
        EXPECT_EQ(agent.post(path, R"({"elementId": 1})").body, json({{"error", "bad_request"}})) << path;
    }
    EXPECT_TRUE(overlay.seen.empty()) << "an undecodable body never asks the operator";

    overlay.consent = [](const std::string&, int) { return testing::consentGranted(); };
    EXPECT_EQ(act("click", kOK).status, 200);
    EXPECT_EQ(act("scroll", kList, {{"direction", "Down"}, {"amount", 150}}).status, 200);
    EXPECT_EQ(agent.recorded("action").size(), 4u) << "one press and three scroll steps";

    overlay.consent = [](const std::string&, int) {
        return testing::overlayReply(404, {{"error", "not_found"}});
    };
    const Reply denied = act("type", kTerminal, {{"text", "rm -rf"}});
    EXPECT_EQ(std::tie(denied.status, denied.body),
              std::make_tuple(403, json({{"error", "consent_denied"}})));
    EXPECT_TRUE(agent.recorded("set").empty());
    std::vector<std::string> asked;
    for (const auto& event : overlay.events()) asked.push_back(json::parse(event.body)["action"]);
    EXPECT_EQ(asked, (std::vector<std::string>{"click", "scroll", "type"}));
    EXPECT_EQ(json::parse(overlay.events()[0].body)["target"], kOK);
}

}  // namespace
}  // namespace pavo::agent
