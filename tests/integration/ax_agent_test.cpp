// pavo-agent as a black box on a simulated desktop: tree snapshots and their cache, search, batches,
// and every body-validation and permission reply of those routes.

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "tcp_client.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kExampleScene = std::string(PAVO_SOURCE_DIR) + "/scenes/text_editor.json";
const json kHint = "System Settings -> Privacy & Security -> Accessibility";

struct Reply {
    int status = 0;
    json body;
    std::optional<std::string> cache;
    std::string raw;
};

json application(int pid, const std::string& name, json children) {
    return {{"pid", pid},
            {"name", name},
            {"bundleId", "org.example." + name},
            {"tree", {{"role", "AXApplication"}, {"title", name}, {"children", std::move(children)}}}};
}

json button(const std::string& title) {
    return {{"role", "AXButton"}, {"title", title}, {"actions", {"AXPress"}}};
}

json defaultScene() {
    return {{"frontmost", 100},
            {"applications",
             {application(100, "Editor",
                          {{{"role", "AXWindow"},
                            {"title", "Draft"},
                            {"children",
                             {button("Save"),
                              button("Save As…"),
                              button("Don't Save"),
                              button("Autosave"),
                              {{"role", "AXTextField"}, {"value", "12345"}, {"identifier", "count"}},
                              {{"role", "AXTextField"}, {"value", "12a"}},
                              {{"role", "AXSlider"}, {"value", 5}}}}}}),
              application(200, "Viewer",
                          {{{"role", "AXWindow"}, {"title", "Photo"}, {"children", {button("Close")}}}})}}};
}

class AgentOnSimulatedDesktop : public ::testing::Test {
  protected:
    TempDir home;
    std::string scenePath = home.path() + "/scene.json";
    std::unique_ptr<ChildProcess> agent;
    std::uint16_t port = 0;

    void SetUp() override {
        writeScene(defaultScene());
        start({{"VEXLO_PAVO_DESKTOP", "simulated"}, {"VEXLO_PAVO_DESKTOP_SCENE", scenePath}});
    }

    void start(std::map<std::string, std::string> environment) {
        environment["HOME"] = home.path();
        agent = std::make_unique<ChildProcess>(
            kAgent, std::vector<std::string>{"--port", "0", "--token", "t"}, environment);
        auto line = agent->waitForLine("Server listening on 127.0.0.1:");
        ASSERT_TRUE(line) << agent->output();
        port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    }

    // Replaces the scene file in one step, as the agent must never read half of it.
    void writeScene(const json& scene) {
        home.write("scene.next", scene.dump());
        ASSERT_EQ(std::rename((home.path() + "/scene.next").c_str(), scenePath.c_str()), 0);
    }

    Reply post(const std::string& path, const std::string& body) {
        Reply reply;
        reply.raw = request(port, "POST", path, body, "x-pavo-token: t\r\n");
        reply.status = statusOf(reply.raw);
        reply.body = json::parse(bodyOf(reply.raw), nullptr, false);
        reply.cache = headerOf(reply.raw, "X-Pavo-Cache");
        return reply;
    }

    std::vector<std::string> labelsFound(const std::string& query) {
        const Reply reply = post("/ax/find", query);
        EXPECT_EQ(reply.status, 200) << reply.raw;
        std::vector<std::string> labels;
        for (const auto& match : reply.body["matches"]) {
            labels.push_back(match.value("label", match["role"].get<std::string>()));
        }
        return labels;
    }
};

using Labels = std::vector<std::string>;

TEST_F(AgentOnSimulatedDesktop, ASecondTreeWithinASecondIsACacheHitUntilTheFrontmostApplicationChanges) {
    const Reply first = post("/ax/tree", "{}");
    ASSERT_EQ(first.status, 200) << first.raw;
    EXPECT_EQ(first.cache, "MISS");
    EXPECT_EQ(first.body["tree"]["label"], "Editor");
    EXPECT_EQ(first.body["tree"]["children"][0]["children"].size(), 7u);
    EXPECT_EQ(headerOf(first.raw, "Content-Type"), "application/json");

    const Reply second = post("/ax/tree", R"({"root_pid": null})");
    EXPECT_EQ(second.cache, "HIT");
    EXPECT_EQ(bodyOf(second.raw), bodyOf(first.raw));

    const Reply viewer = post("/ax/tree", R"({"root_pid": 200, "depth": 3})");
    EXPECT_EQ(viewer.cache, "MISS");
    EXPECT_EQ(viewer.body["tree"]["label"], "Viewer");
    EXPECT_EQ(post("/ax/tree", R"({"root_pid": 200})").cache, "HIT");

    json scene = defaultScene();
    scene["frontmost"] = 200;
    writeScene(scene);
    EXPECT_EQ(post("/ax/tree", R"({"root_pid": 200})").cache, "MISS") << "a change of frontmost app flushes";
    const Reply front = post("/ax/tree", "{}");
    EXPECT_EQ(front.body["tree"]["label"], "Viewer");

    // A renamed element is seen once the cache has been flushed, under a new id.
    scene["applications"][1]["tree"]["children"][0]["title"] = "Photo 2";
    scene["frontmost"] = 100;
    writeScene(scene);
    const Reply renamed = post("/ax/tree", R"({"root_pid": 200})");
    EXPECT_EQ(renamed.cache, "MISS");
    EXPECT_EQ(renamed.body["tree"]["children"][0]["label"], "Photo 2");
    EXPECT_NE(renamed.body["tree"]["children"][0]["id"], viewer.body["tree"]["children"][0]["id"]);
    EXPECT_EQ(renamed.body["tree"]["children"][0]["children"][0]["id"],
              viewer.body["tree"]["children"][0]["children"][0]["id"]);
}

TEST_F(AgentOnSimulatedDesktop, AProcessThatDoesNotExistIsABareRoot) {
    const Reply reply = post("/ax/tree", R"({"root_pid": -2147483648})");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body["tree"].size(), 2u) << reply.raw;
    EXPECT_EQ(reply.body["tree"]["role"], "Unknown");
    EXPECT_EQ(reply.body["tree"]["id"].get<std::string>().size(), 16u);
}

TEST_F(AgentOnSimulatedDesktop, TreeBodiesMustBeObjectsOfIntegersOrNull) {
    const json badRequest = {{"error", "bad_request"}};
    for (const char* body :
         {"", "null", "[]", "{", R"({"root_pid": "100"})", R"({"root_pid": 100.0})",
          R"({"root_pid": 100, "other": "x"})", R"({"batch_id": "b"})", R"({"root_pid": 2147483648})",
          R"({"root_pid": -2147483649})", R"({"root_pid": 18446744073709551615})"}) {
        const Reply reply = post("/ax/tree", body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body, badRequest) << body;
    }
    EXPECT_EQ(post("/ax/tree", R"({"root_pid": 2147483647, "other": null})").status, 200);
}

// The filters themselves are unit-tested; this is the route over the walked tree.
TEST_F(AgentOnSimulatedDesktop, SearchFiltersTheFrontmostTreeInPreOrder) {
    EXPECT_EQ(labelsFound(R"({"role": "AXButton", "label": "Save", "maxResults": 2})"),
              (Labels{"Save", "Save As…"}));
    EXPECT_EQ(labelsFound(R"({"valueRegex": "^[0-9]+$"})"), (Labels{"AXTextField"}));
    EXPECT_EQ(labelsFound(R"({"role": null, "maxResults": null})").size(), 9u);

    // The root matches, so the whole tree comes back inside it, followed by the other matches.
    const Reply everything = post("/ax/find", "{}");
    EXPECT_EQ(everything.body["matches"][0]["children"][0], everything.body["matches"][1]);
    EXPECT_FALSE(everything.cache) << "a search reply carries no cache header";
}

TEST_F(AgentOnSimulatedDesktop, SearchBodiesThatDoNotDecodeAnswer400WithAMessage) {
    for (const char* body : {"", "nope", "[]", R"({"maxResults": "3"})", R"({"maxResults": 2.5})",
                             R"({"role": 1})", R"({"batch_id": 7})"}) {
        const Reply reply = post("/ax/find", body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body["error"], "bad_request") << body;
        EXPECT_TRUE(reply.body["message"].is_string()) << body;
        EXPECT_EQ(reply.body.size(), 2u) << body;
    }
}

TEST_F(AgentOnSimulatedDesktop, ABatchPinsSearchesToTheApplicationThatWasFrontmostWhenItBegan) {
    EXPECT_EQ(post("/batch/begin", R"({"batch_id": "b"})").body, json({{"ok", true}, {"batch_id", "b"}}));
    json scene = defaultScene();
    scene["frontmost"] = 200;
    writeScene(scene);

    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Draft"});
    // That walk was stored under the frontmost application's pid, so it is served to the next search too.
    EXPECT_EQ(labelsFound(R"({"role": "AXWindow"})"), Labels{"Draft"});

    EXPECT_EQ(post("/batch/end", R"({"batch_id": "b"})").body, json({{"ok", true}, {"batch_id", "b"}}));
    scene["frontmost"] = 100;
    writeScene(scene);
    EXPECT_EQ(labelsFound(R"({"role": "AXWindow"})"), Labels{"Draft"});
    scene["frontmost"] = 200;
    writeScene(scene);
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Photo"})
        << "an ended batch is ignored";

    // Beginning again moves the batch to the application now in front.
    post("/batch/begin", R"({"batch_id": "b"})");
    scene["frontmost"] = 100;
    writeScene(scene);
    EXPECT_EQ(labelsFound(R"({"batch_id": "b", "role": "AXWindow"})"), Labels{"Photo"});
    EXPECT_EQ(labelsFound(R"({"batch_id": "unknown", "role": "AXWindow"})"), Labels{"Photo"})
        << "still cached";
}

TEST_F(AgentOnSimulatedDesktop, BatchBodiesOfAnyOtherShapeNameTheDefaultBatch) {
    const json defaultBatch = {{"ok", true}, {"batch_id", "default"}};
    for (const char* body :
         {"", "junk", "[]", "{}", R"({"batch_id": null})", R"({"batch_id": "b", "n": 1})"}) {
        EXPECT_EQ(post("/batch/begin", body).body, defaultBatch) << body;
        EXPECT_EQ(post("/batch/end", body).body, defaultBatch) << body;
    }
    EXPECT_EQ(post("/batch/end", R"({"batch_id": "never begun", "x": null})").body,
              json({{"ok", true}, {"batch_id", "never begun"}}));
}

TEST_F(AgentOnSimulatedDesktop, NoFrontmostApplicationAndNoPermissionHaveTheirOwnReplies) {
    json scene = defaultScene();
    scene["frontmost"] = nullptr;
    writeScene(scene);
    const json noFront = {{"error", "could_not_get_frontmost_app"}};
    for (const char* path : {"/ax/tree", "/ax/find", "/batch/begin"}) {
        const Reply reply = post(path, "{}");
        EXPECT_EQ(reply.status, 500) << path;
        EXPECT_EQ(reply.body, noFront) << path;
    }
    EXPECT_EQ(post("/ax/tree", R"({"root_pid": 100})").status, 200);

    post("/batch/begin", R"({"batch_id": "kept"})");
    scene["trusted"] = false;
    scene["frontmost"] = 100;
    writeScene(scene);
    const json denied = {{"error", "ax_permission_missing"}, {"hint", kHint}};
    for (const char* path : {"/ax/tree", "/ax/find", "/batch/begin"}) {
        const Reply reply = post(path, R"({"batch_id": null})");
        EXPECT_EQ(reply.status, 403) << path;
        EXPECT_EQ(reply.body, denied) << path;
    }
    EXPECT_EQ(post("/batch/end", "{}").status, 200) << "ending a batch needs no permission";
    EXPECT_EQ(post("/ax/tree", R"({"root_pid": 1.5})").status, 400) << "the body is checked first";
}

TEST_F(AgentOnSimulatedDesktop, TheExampleSceneShowsTheFirstThousandRows) {
    start({{"VEXLO_PAVO_DESKTOP", "simulated"}, {"VEXLO_PAVO_DESKTOP_SCENE", kExampleScene}});
    const Reply tree = post("/ax/tree", "{}");
    ASSERT_EQ(tree.status, 200);
    const json& list = tree.body["tree"]["children"][1]["children"][3]["children"][0];
    EXPECT_EQ(list["identifier"], "rows");
    EXPECT_EQ(list["children"].size(), 1000u);
    EXPECT_FALSE(tree.body["tree"]["children"][0].contains("children")) << "the menu bar's are unreadable";
    EXPECT_EQ(labelsFound(R"({"valueRegex": "^14[0-9]{2}$", "maxResults": 2})"), Labels{});
    EXPECT_EQ(labelsFound(R"({"valueRegex": "^99[0-9]$", "maxResults": 2})"), (Labels{"Row 990", "Row 991"}));
}

// With no session bus at all the real desktop has no accessibility to offer.
class AgentWithoutSimulation : public ::testing::Test {
  protected:
    TempDir home;
};

TEST_F(AgentWithoutSimulation, AnswersAsAMachineWithoutAccessibilityPermission) {
    for (const char* kind : {"", "linux"}) {
        std::map<std::string, std::string> environment{{"HOME", home.path()}};
        if (*kind) environment["VEXLO_PAVO_DESKTOP"] = kind;
        ChildProcess agent(kAgent, {"--port", "0", "--token", "t"}, environment);
        auto line = agent.waitForLine("Server listening on 127.0.0.1:");
        ASSERT_TRUE(line) << agent.output();
        const auto port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
        for (const char* path : {"/ax/tree", "/ax/find", "/batch/begin"}) {
            const auto reply = request(port, "POST", path, "{}", "x-pavo-token: t\r\n");
            EXPECT_EQ(statusOf(reply), 403) << path;
            const json body = json::parse(bodyOf(reply));
            EXPECT_EQ(body["error"], "ax_permission_missing") << path;
            // A Linux user is told what to start, not where another system keeps its settings.
            EXPECT_EQ(body["hint"].get<std::string>().rfind("Start the AT-SPI accessibility bus", 0), 0u)
                << body;
        }
        EXPECT_EQ(statusOf(request(port, "POST", "/batch/end", "", "x-pavo-token: t\r\n")), 200);
    }
}

TEST_F(AgentWithoutSimulation, AnUnusableDesktopChoiceIsAFatalError) {
    const std::string bad = home.write("bad.json", R"({"applications": [{"pid": "1"}]})");
    const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
        {{{"VEXLO_PAVO_DESKTOP", "simulated"}},
         "Fatal error: the simulated desktop needs VEXLO_PAVO_DESKTOP_SCENE"},
        {{{"VEXLO_PAVO_DESKTOP", "simulated"}, {"VEXLO_PAVO_DESKTOP_SCENE", home.path() + "/none.json"}},
         "Fatal error: cannot read the desktop scene"},
        {{{"VEXLO_PAVO_DESKTOP", "simulated"}, {"VEXLO_PAVO_DESKTOP_SCENE", bad}},
         "Fatal error: the desktop scene " + bad + " is not valid: applications[0].pid: expected an integer"},
        {{{"VEXLO_PAVO_DESKTOP", "macos"}}, "Fatal error: unknown desktop \"macos\""},
    };
    for (auto [environment, expected] : cases) {
        environment["HOME"] = home.path();
        const auto run = runToCompletion(kAgent, {"--port", "0", "--token", "t"}, environment);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output.rfind(expected, 0), 0u) << run.output;
    }
}

}  // namespace
}  // namespace pavo::testing
