// Clicking, typing and scrolling elements through the routes, with and without the operator's consent.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

#include "agent/ax/ax_actions.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent_under_test.hpp"
#include "common/text.hpp"
#include "scene.hpp"
#include "stand_in_overlay.hpp"

namespace pavo::agent {
namespace {

using nlohmann::json;
using platform::simulated::parseScene;
using testing::element;
using testing::frame;

json scene() {
    json pressable = element("AXButton", "OK", {{"actions", {"AXPress"}}});
    json flat = element("AXButton", "Flat", frame(100, 200, 40, 20));
    json bare = element("AXButton", "Bare");
    json field = element("AXTextField", "Name", {{"value", "old"}, {"settable", {"AXValue", "AXFocused"}}});
    json terminal = element("AXTextArea", "Terminal", {{"settable", {"AXFocused"}}});
    json list = element("AXScrollArea", "List", {{"actions", {"AXScrollUp", "AXScrollDown"}}});
    json window = element("AXWindow", "Main", {{"children", {pressable, flat, bare, field, terminal, list}}});
    json other =
        element("AXWindow", "Other", {{"children", {element("AXButton", "OK", {{"actions", {"AXPress"}}})}}});
    return {{"frontmost", 10},
            {"applications",
             {testing::application(10, "One", {window}), testing::application(20, "Two", {other})}}};
}

// Ids as a snapshot reports them: application "0", its window "0/0", the window's children "0/0/i".
std::string idIn(std::int32_t pid, const std::string& role, const std::string& title,
                 const std::string& path) {
    return elementId(pid, role, "", title, path);
}
const std::string kOK = idIn(10, "AXButton", "OK", "0/0/0");
const std::string kFlat = idIn(10, "AXButton", "Flat", "0/0/1");
const std::string kBare = idIn(10, "AXButton", "Bare", "0/0/2");
const std::string kField = idIn(10, "AXTextField", "Name", "0/0/3");
const std::string kTerminal = idIn(10, "AXTextArea", "Terminal", "0/0/4");
const std::string kList = idIn(10, "AXScrollArea", "List", "0/0/5");
const std::string kOtherOK = idIn(20, "AXButton", "OK", "0/0/0");

using testing::Reply;

class ElementActions : public ::testing::Test {
  protected:
    testing::AgentUnderTest agent{scene()};
    AXTreeCache& cache = agent.cache;
    BatchManager& batches = agent.batches;

    Reply click(const std::string& id, std::optional<std::string> batch = std::nullopt) {
        json body = {{"elementId", id}};
        if (batch) body["batch_id"] = *batch;
        return agent.postJson("/ax/click", body);
    }
    Reply type(const std::string& id, const std::string& text) {
        return agent.postJson("/ax/type", json{{"elementId", id}, {"text", text}});
    }
    Reply scroll(const std::string& id, const std::string& direction,
                 std::optional<double> amount = std::nullopt) {
        json body = {{"elementId", id}, {"direction", direction}};
        if (amount) body["amount"] = *amount;
        return agent.postJson("/ax/scroll", body);
    }

    // Puts a snapshot in the cache, so a test can tell whether the action flushed it.
    void fillCache() {
        cache.store(10, std::make_shared<const AXSnapshot>(AXElementInfo{"x", "AXApplication"}),
                    cache.generation());
        ASSERT_EQ(cache.size(), 1u);
    }
    std::vector<json> recorded(const std::string& kind) { return agent.recorded(kind); }
};

TEST_F(ElementActions, AButtonThatAcceptsPressIsPressedAndNothingElseIsPosted) {
    fillCache();
    const Reply reply = click(kOK);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, json({{"ok", true}, {"method", "ax_press"}}));
    const auto actions = recorded("action");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0]["element"], "0/0/0");
    EXPECT_EQ(actions[0]["action"], "AXPress");
    EXPECT_TRUE(recorded("mouse").empty());
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ElementActions, ARefusedPressBecomesThreeMouseEventsAtTheFrameCentre) {
    fillCache();
    const Reply reply = click(kFlat);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, json({{"ok", true}, {"method", "synthesized_click"}, {"x", 120.0}, {"y", 210.0}}));
    const auto mouse = recorded("mouse");
    ASSERT_EQ(mouse.size(), 3u);
    const char* order[] = {"mouseMoved", "leftMouseDown", "leftMouseUp"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(mouse[i]["type"], order[i]);
        EXPECT_EQ(mouse[i]["x"], 120.0);
        EXPECT_EQ(mouse[i]["y"], 210.0);
        EXPECT_EQ(mouse[i]["button"], 0);
    }
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ElementActions, FailuresLeaveTheCacheAndThePointerAlone) {
    fillCache();
    const Reply noFrame = click(kBare);
    EXPECT_EQ(noFrame.status, 500);
    EXPECT_EQ(noFrame.body, json({{"error", "action_failed"}, {"hint", "no frame for synthesized click"}}));

    const Reply missing = click("0123456789abcdef");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, json({{"error", "element_not_found"}}));
    EXPECT_EQ(type("0123456789abcdef", "x").status, 404);
    // The direction is judged only once the element is known.
    EXPECT_EQ(scroll("0123456789abcdef", "north").status, 404);

    EXPECT_TRUE(recorded("mouse").empty());
    EXPECT_EQ(cache.size(), 1u);

    agent.desktop.setTrusted(false);
    const Reply untrusted = click(kOK);
    EXPECT_EQ(untrusted.status, 403);
    EXPECT_EQ(untrusted.body["error"], "ax_permission_missing");
    EXPECT_EQ(untrusted.body["hint"], "System Settings -> Privacy & Security -> Accessibility");
    EXPECT_EQ(type(kField, "x").status, 403);
    EXPECT_EQ(scroll(kList, "up").status, 403);

    agent.desktop.setTrusted(true);
    agent.desktop.setFrontmost(std::nullopt);
    batches.begin("b", 10);
    // A batch cannot stand in for a missing frontmost application.
    const Reply noFront = click(kOK, "b");
    EXPECT_EQ(noFront.status, 500);
    EXPECT_EQ(noFront.body, json({{"error", "could_not_get_frontmost_app"}}));
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(recorded("action").size(), 1u) << "only the refused press of the frameless button";
}

TEST_F(ElementActions, AnIdFromAnEarlierSnapshotNeverActsOnWhateverNowStandsAtItsPlace) {
    platform::Accessibility& ax = agent.desktop.accessibility();
    cache.rememberWalk(10, std::make_shared<const AXSnapshot>(buildTree(ax, ax.applicationElement(10), "0")));
    EXPECT_EQ(click(kOK).status, 200);
    ASSERT_EQ(recorded("action").size(), 1u);

    // OK and Flat change places: the remembered path of OK now leads to Flat.
    json swapped = scene();
    auto& children = swapped["applications"][0]["tree"]["children"][0]["children"];
    std::swap(children[0], children[1]);
    agent.desktop.replaceScene(parseScene(swapped));
    const Reply stale = click(kOK);
    EXPECT_EQ(stale.status, 404);
    EXPECT_EQ(stale.body["error"], "element_not_found");
    EXPECT_EQ(recorded("action").size(), 1u);
    EXPECT_TRUE(recorded("mouse").empty());
    EXPECT_EQ(click(idIn(10, "AXButton", "OK", "0/0/1")).status, 200);
}

TEST_F(ElementActions, ABatchPinsTheTargetProcessAnUnknownBatchFallsBackToTheFrontmostOne) {
    EXPECT_EQ(click(kOtherOK).status, 404) << "ids of a background application are not found";
    batches.begin("b", 20);
    EXPECT_EQ(click(kOtherOK, "b").status, 200);
    EXPECT_EQ(click(kOK, "b").status, 404);
    EXPECT_EQ(click(kOK, "nobody").status, 200);
    const auto actions = recorded("action");
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0]["pid"], 20);
    EXPECT_EQ(actions[1]["pid"], 10);
}

TEST_F(ElementActions, TypingIntoAFieldThatTakesAValueReplacesItWithoutKeystrokes) {
    fillCache();
    const Reply reply = type(kField, "Zoë");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, json({{"ok", true}, {"method", "ax_value"}}));
    const auto sets = recorded("set");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]["attribute"], "AXValue");
    EXPECT_EQ(sets[0]["value"], "Zoë");
    EXPECT_TRUE(recorded("key").empty());
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ElementActions, TypingWithoutValueFocusesThenPostsOneKeyPairPerCharacterAtLeastTenMillisecondsApart) {
    fillCache();
    const Reply reply = type(kTerminal, "aB é👍🏽\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, json({{"ok", true}, {"method", "cg_event"}}));

    const auto sets = recorded("set");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0]["attribute"], "AXValue");
    EXPECT_FALSE(sets[0]["ok"].get<bool>());
    EXPECT_EQ(sets[1]["attribute"], "AXFocused");
    EXPECT_EQ(sets[1]["value"], true);

    struct Expected {
        int keyCode;
        std::uint64_t flags;
        std::optional<std::string> text;
    };
    // a, shifted B, space, é and a skin-toned emoji (one character of four UTF-16 units) by their text,
    // and Return.
    const std::vector<Expected> expected = {{0, 0, std::nullopt},  {11, 0x20000, std::nullopt},
                                            {49, 0, std::nullopt}, {0, 0, "é"},
                                            {0, 0, "👍🏽"},    {36, 0, std::nullopt}};
    std::vector<std::chrono::steady_clock::time_point> downs;
    std::vector<json> keys;
    for (const auto& r : agent.desktop.records()) {
        if (r.entry["kind"] != "key") continue;
        if (r.entry["down"].get<bool>()) downs.push_back(r.time);
        keys.push_back(r.entry);
    }
    ASSERT_EQ(keys.size(), 2 * expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        for (std::size_t half = 0; half < 2; ++half) {
            const json& key = keys[2 * i + half];
            EXPECT_EQ(key["down"], half == 0) << i;
            EXPECT_EQ(key["keyCode"], expected[i].keyCode) << i;
            EXPECT_EQ(key["flags"], expected[i].flags) << i;
            if (expected[i].text) {
                EXPECT_EQ(key.value("text", ""), *expected[i].text) << i;
            } else {
                EXPECT_FALSE(key.contains("text")) << i;
            }
        }
    }
    for (std::size_t i = 1; i < downs.size(); ++i) {
        EXPECT_GE(downs[i] - downs[i - 1], kKeystrokePause) << "between characters " << i - 1 << " and " << i;
    }
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ElementActions, EmptyTextIsTriedAsAValueAndOtherwiseTypesNothing) {
    EXPECT_EQ(type(kField, "").body["method"], "ax_value");
    EXPECT_EQ(type(kTerminal, "").body["method"], "cg_event");
    EXPECT_TRUE(recorded("key").empty());
}

TEST_F(ElementActions, ScrollingPerformsTheDirectionsActionAsManyTimesAsTheAmountAsks) {
    struct Case {
        std::string direction;
        std::optional<double> amount;
        std::size_t actions;
    };
    const std::vector<Case> cases = {
        {"down", std::nullopt, 2}, {"UP", 500, 10},   {"Down", 10, 1}, {"down", 149, 2},
        {"down", 150, 3},          {"down", -1e9, 1}, {"down", 0, 1},  {"up", 10000, 200}};
    for (const auto& c : cases) {
        fillCache();
        const std::size_t before = recorded("action").size();
        const Reply reply = scroll(kList, c.direction, c.amount);
        EXPECT_EQ(reply.status, 200) << c.direction;
        EXPECT_EQ(reply.body, json({{"ok", true}, {"method", "ax_scroll"}}));
        const auto actions = recorded("action");
        ASSERT_EQ(actions.size() - before, c.actions) << c.direction << " " << c.amount.value_or(-1);
        const std::string name = common::toLower(c.direction) == "up" ? "AXScrollUp" : "AXScrollDown";
        EXPECT_EQ(actions.back()["action"], name);
        EXPECT_EQ(cache.size(), 0u);
    }
}

TEST_F(ElementActions, ARefusedScrollStopsAtOnceAndStillReportsSuccess) {
    fillCache();
    const Reply reply = scroll(kList, "left", 5000);
    EXPECT_EQ(reply.body, json({{"ok", true}, {"method", "ax_scroll"}}));
    const auto actions = recorded("action");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0]["action"], "AXScrollLeft");
    EXPECT_FALSE(actions[0]["ok"].get<bool>());
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(ElementActions, ABadDirectionOrAnAmountBeyondSixtyFourBitsIsInvalidInputAndDoesNothing) {
    fillCache();
    const Reply north = scroll(kList, "north");
    EXPECT_EQ(north.status, 400);
    EXPECT_EQ(north.body,
              json({{"error", "invalid_input"}, {"hint", "direction must be up, down, left, or right"}}));
    for (double amount : {1e21, -1e21}) {
        const Reply huge = scroll(kList, "down", amount);
        EXPECT_EQ(huge.status, 400) << amount;
        EXPECT_EQ(huge.body["error"], "invalid_input");
        EXPECT_TRUE(huge.body.contains("hint"));
    }
    EXPECT_TRUE(recorded("action").empty());
    EXPECT_EQ(cache.size(), 1u);
}

TEST(ScrollActionCount, TruncatesFiftyUnitStepsAndRejectsCountsBeyondSixtyFourBits) {
    EXPECT_EQ(scrollActionCount(std::nullopt), 2);
    EXPECT_EQ(scrollActionCount(99.9), 1);
    EXPECT_EQ(scrollActionCount(-149), 1);
    EXPECT_EQ(scrollActionCount(4.6e20), 9200000000000000000);
    EXPECT_EQ(scrollActionCount(4.62e20), std::nullopt);
    EXPECT_EQ(scrollActionCount(-4.62e20), std::nullopt);
    EXPECT_EQ(scrollActionCount(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(scrollActionCount(std::nan("")), std::nullopt);
}

class GatedActions : public ElementActions {
  protected:
    GatedActions() {
        auto clock = std::make_shared<testing::FakeClock>();
        agent.gateWith(std::make_shared<const OverlayClient>(overlay.port(), "overlay-secret",
                                                             ConsentTiming{.clock = clock}));
    }
    testing::StandInOverlay overlay{agent.io};
};

TEST_F(GatedActions, AnUndecodableBodyIsABadRequestAndTheOperatorIsNeverAsked) {
    for (const auto& [path, body] :
         std::vector<std::pair<std::string, std::string>>{{"/ax/click", ""},
                                                          {"/ax/type", R"({"elementId": "a"})"},
                                                          {"/ax/scroll", R"({"elementId": "a"})"}}) {
        const Reply reply = agent.post(path, body);
        EXPECT_EQ(reply.status, 400) << path;
        EXPECT_EQ(reply.body, json({{"error", "bad_request"}})) << path;
    }
    EXPECT_TRUE(overlay.seen.empty());
}

TEST_F(GatedActions, EachActionAsksAboutItsElementAndRunsOnlyWhenGranted) {
    overlay.consent = [](const std::string&, int) { return testing::consentGranted(); };
    EXPECT_EQ(click(kOK).status, 200);
    EXPECT_EQ(scroll(kList, "Down", 150).status, 200);
    const auto events = overlay.events();
    ASSERT_EQ(events.size(), 2u);
    const json prompt = json::parse(events[0].body);
    EXPECT_EQ(prompt["action"], "click");
    EXPECT_EQ(prompt["target"], kOK);
    EXPECT_EQ(overlay.consentPolls().at(0).path, "/consent/" + prompt["id"].get<std::string>());
    EXPECT_EQ(json::parse(events[1].body)["action"], "scroll");
    EXPECT_EQ(recorded("action").size(), 4u) << "one press and three scroll steps";

    overlay.consent = [](const std::string&, int) {
        return testing::overlayReply(404, {{"error", "not_found"}});
    };
    const Reply refused = type(kTerminal, "rm -rf");
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, json({{"error", "consent_denied"}}));
    EXPECT_EQ(json::parse(overlay.events().at(2).body)["action"], "type");
    EXPECT_TRUE(recorded("key").empty());
    EXPECT_TRUE(recorded("set").empty());
}

}  // namespace
}  // namespace pavo::agent
