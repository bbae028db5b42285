// The screen-text routes in process with the real recogniser, on images drawn for the test: what they read
// and where, every failure reply, and the caches behind the headers.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>

#include "agent/server/routes.hpp"
#include "agent_under_test.hpp"
#include "await.hpp"
#include "child_process.hpp"
#include "common/base64.hpp"
#include "platform/linux/tesseract_recognition.hpp"

namespace pavo::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kPayload = "https://example.test/pair?code=42&x=Grüße";

// Draws with ImageMagick's convert (DejaVu fonts) or qrencode, given arguments separated by '|', never
// copying an image in; a tool that fails throws.
std::string draw(const TempDir& dir, const std::string& name, const char* program,
                 const std::string& arguments) {
    std::vector<std::string> split;
    std::istringstream in(arguments + "|" + dir.path() + "/" + name);
    for (std::string argument; std::getline(in, argument, '|');) split.push_back(argument);
    const Completed done = runToCompletion(program, split, {{"HOME", dir.path()}});
    if (done.status != 0) throw std::runtime_error(std::string(program) + " failed: " + done.output);
    return split.back();
}

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Drawn once for every test, eight bits per channel: text with a white-on-blue button, a QR code under a
// caption (six-pixel modules, a four-module margin), a PNG cut short.
struct Images {
    TempDir dir;
    std::string text =
        draw(dir, "text.png", "/usr/bin/convert",
             "-size|800x400|xc:white|-font|DejaVu-Sans|-pointsize|24|"
             "-annotate|+40+60|Quarterly report for the board|-annotate|+40+120|Revenue grew 12 percent|"
             "-fill|#1e5bd6|-draw|rectangle 40,200 180,245|-pointsize|20|-fill|white|-annotate|+70+230|"
             "Cancel|-fill|black|-annotate|+40+330|Ready|-depth|8");
    std::string code = draw(dir, "code.png", "/usr/bin/qrencode", "-s|6|-m|4|" + kPayload + "|-o");
    std::string qr =
        draw(dir, "qr.png", "/usr/bin/convert",
             "-size|800x500|xc:white|-font|DejaVu-Sans|-pointsize|24|-annotate|+40+60|Scan to pair|" + code +
                 "|-geometry|+400+150|-composite|-depth|8");
    std::string corrupt = dir.write("corrupt.png", fileBytes(text).substr(0, 200));
};

const Images& images() {
    static const Images drawn;
    return drawn;
}

json failure(const std::string& code, const std::string& message) {
    return {{"error", code}, {"message", message}};
}

const json kScene = {{"frontmost", 100},
                     {"applications",
                      {{{"pid", 100}, {"tree", {{"role", "AXApplication"}, {"title", "Editor"}}}},
                       {{"pid", 200}, {"tree", {{"role", "AXApplication"}, {"title", "Viewer"}}}}}}};

class VisionRoutes : public ::testing::Test {
  protected:
    // Engines must go before the library's own statics do: never keep one in a static of the test's.
    static void SetUpTestSuite() { recognition = platform::linux_recognition::makeTesseractRecognition(); }
    static void TearDownTestSuite() { recognition.reset(); }
    static std::unique_ptr<platform::Recognition> recognition;

    // The agent with an OCR cache on virtual time (its own follows the wall clock).
    AgentUnderTest agent{kScene, recognition.get()};
    std::chrono::system_clock::time_point now{1'700'000'000'000ms};
    agent::OCRCache ocrCache{agent::OCRCache::kDefaultCapacity, [this] { return now; }};
    agent::VisionContext vision{agent.desktop, *recognition, ocrCache};
    VisionRoutes() {
        agent.dispatcher.emplace("t");
        agent::registerRoutes(*agent.dispatcher,
                              agent::Features{agent.context, *agent.gate, agent.keys, agent.scripts, vision});
    }
    // On the tests' lasting io_context: a recogniser's thread may still be letting go of the context a
    // moment after the request it answered has ended, so that context must not go with the test (as the
    // agent's own does): every request the recogniser may see goes through here.
    Reply post(const std::string& path, const json& body) {
        http::HTTPRequest request{
            .method = "POST", .path = path, .headers = {{"x-pavo-token", "t"}}, .body = body.dump()};
        return replyOf(await(agent.dispatcher->dispatch(std::move(request))));
    }
};

std::unique_ptr<platform::Recognition> VisionRoutes::recognition;

TEST_F(VisionRoutes, OCRReadsEveryLineWithItsBoxInPixels) {
    const Reply reply = post("/ocr", {{"imagePath", images().text}});
    ASSERT_EQ(reply.status, 200) << reply.text;
    std::vector<std::string> texts;
    for (const auto& result : reply.body["results"]) texts.push_back(result["text"]);
    EXPECT_EQ(texts, (std::vector<std::string>{"Quarterly report for the board", "Revenue grew 12 percent",
                                               "Cancel", "Ready"}));
    // The white-on-blue label where it was drawn: baseline 230, 20 points, from x 70.
    const json &cancel = reply.body["results"][2], &box = cancel["boundingBox"];
    EXPECT_NEAR(box["x"].get<double>(), 71, 3);
    EXPECT_NEAR(box["y"].get<double>() + box["height"].get<double>(), 230, 3);
    EXPECT_TRUE(cancel["confidence"] > 0.8 && cancel["confidence"] <= 1.0) << cancel;
}

TEST_F(VisionRoutes, VisualFindScoresTheCaptionAndTheQRCodeWithItsBox) {
    const Reply reply = post("/visual/find", {{"imagePath", images().qr}, {"query", "Pair"}});
    ASSERT_EQ(reply.status, 200) << reply.text;
    std::vector<std::tuple<std::string, std::string, float>> found;
    for (const auto& r : reply.body["results"]) {
        found.emplace_back(r["type"], r["text"], r["matchScore"].get<float>());
        // 32-bit floats written as their shortest decimals: nine digits at most, not a double's seventeen.
        EXPECT_LE(r["matchScore"].dump().size(), 11u);
    }
    EXPECT_EQ(found,
              (decltype(found){{"icon", kPayload, 0.8f}, {"text", "Scan to pair", 0.5f + 0.4f * 4 / 12}}));
    // The symbol drawn at +400+150 with six-pixel modules and a four-module margin: 29 modules.
    for (const auto& [key, pixels] : {std::pair{"x", 424}, {"y", 174}, {"width", 174}, {"height", 174}})
        EXPECT_NEAR(reply.body["results"][0]["boundingBox"][key].get<double>(), pixels, 1e-9) << key;
}

TEST_F(VisionRoutes, EveryFailureHasItsReplyAndNoCacheHeader) {
    const json noImage = failure("bad_request", "No valid image provided or could not decode image");
    const json noFindImage = failure("bad_request", "No valid image provided");
    const json permission = {{"error", "ax_permission_missing"},
                             {"hint", "System Settings -> Privacy & Security -> Accessibility"}};
    const std::string corrupt = json{{"imagePath", images().corrupt}, {"query", "pair"}}.dump();
    struct Row {
        const char* what;
        const char* path;
        std::string body;
        int status;
        json reply;
        bool trusted = true;
        std::optional<std::int32_t> frontmost = 100;
    } rows[] = {
        {"ocr, no image", "/ocr", "{}", 400, noImage},
        {"ocr, not an image", "/ocr", corrupt, 400, noImage},
        {"find, no image", "/visual/find", R"({"query":"pair"})", 400, noFindImage},
        {"find, not an image", "/visual/find", corrupt, 400, noFindImage},
        {"both, a bad key", "/ax/tree_and_ocr", R"({"root_pid":"100"})", 400,
         failure("bad_request", "root_pid: expected a 32-bit integer")},
        {"both, no permission and no image", "/ax/tree_and_ocr", "{}", 403, permission, false},
        {"both, nothing in front", "/ax/tree_and_ocr", corrupt, 500,
         failure("internal_error", "invalidRequest"), true, std::nullopt},
        {"both, no image", "/ax/tree_and_ocr", "{}", 500, failure("internal_error", "badRequest")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        agent.desktop.setTrusted(row.trusted);
        agent.desktop.setFrontmost(row.frontmost);
        const Reply reply = post(row.path, json::parse(row.body));
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(reply.body, row.reply);
        EXPECT_FALSE(reply.headers.contains("X-Pavo-Cache"));
    }
}

TEST(ABrokenRecogniser, IsAServerErrorOnEachRoute) {
    BrokenRecognition throws(true);
    AgentUnderTest answers(kScene), throwing(kScene, &throws);
    const std::pair<AgentUnderTest*, const char*> recognisers[] = {{&answers, "invalidRequest"},
                                                                   {&throwing, "the engine broke"}};
    const std::pair<const char*, const char*> routes[] = {{"/ocr", "ocr_failed"},
                                                          {"/visual/find", "visual_find_failed"},
                                                          {"/ax/tree_and_ocr", "internal_error"}};
    for (const auto& [path, code] : routes) {
        for (const auto& [target, message] : recognisers) {
            const Reply reply = target->postJson(path, {{"imagePath", images().text}, {"query", "x"}});
            EXPECT_EQ(reply.status, 500) << path;
            EXPECT_EQ(reply.body, failure(code, message)) << path;
        }
    }
    throws.join();  // the agents' io_contexts go first
}

TEST_F(VisionRoutes, OCRIsCachedPerImageAndBucketAndTheCombinedRouteTellsEachCacheApart) {
    const json text = {{"imagePath", images().text}, {"pid", 7}, {"windowId", 9}};
    json inlined = text, otherRoot = text;
    inlined["imageBase64"] = common::base64Encode(fileBytes(images().text));
    otherRoot["root_pid"] = 200;
    // The cache headers present, in the order X-Pavo-Cache, X-Pavo-AX-Cache, X-Pavo-OCR-Cache.
    const std::tuple<const char*, const char*, json, std::chrono::milliseconds, int, const char*> steps[] = {
        {"first", "/ocr", text, 0ms, 100, "MISS"},
        {"the same bytes inline, 99 ms later", "/ocr", inlined, 99ms, 100, "HIT"},
        {"both, the image read already", "/ax/tree_and_ocr", text, 0ms, 100, "MISS MISS HIT"},
        {"both again", "/ax/tree_and_ocr", text, 0ms, 100, "HIT HIT HIT"},
        {"both, another root", "/ax/tree_and_ocr", otherRoot, 0ms, 100, "MISS MISS HIT"},
        {"both, next bucket", "/ax/tree_and_ocr", text, 1ms, 100, "MISS HIT MISS"},
        {"another application in front", "/ocr", text, 0ms, 200, "MISS"},
    };
    for (const auto& [what, path, body, later, frontmost, headers] : steps) {
        SCOPED_TRACE(what);
        now += later;
        agent.clock.advance(later);
        agent.desktop.setFrontmost(frontmost);
        const Reply reply = post(path, body);
        ASSERT_EQ(reply.status, 200) << reply.text;
        std::string seen;
        for (const char* name : {"X-Pavo-Cache", "X-Pavo-AX-Cache", "X-Pavo-OCR-Cache"})
            if (reply.headers.contains(name)) seen += (seen.empty() ? "" : " ") + reply.headers.at(name);
        EXPECT_EQ(seen, headers);
        EXPECT_EQ(reply.body[reply.body.contains("tree") ? "ocr" : "results"].size(), 4u);
    }
}

}  // namespace
}  // namespace pavo::testing
