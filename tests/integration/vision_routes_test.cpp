// The screen-text routes in process, through the dispatcher and the real recogniser, on images drawn for
// the test: what they read, every failure reply, the Base64 fallback, the caches and their headers.

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_future.hpp>

#include <nlohmann/json.hpp>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/consent/consent_gate.hpp"
#include "agent/server/dispatcher.hpp"
#include "agent/server/routes.hpp"
#include "agent/vision/ocr_cache.hpp"
#include "agent/keys/keystrokes.hpp"
#include "agent/scripts/script_tools.hpp"
#include "agent/vision/vision_context.hpp"
#include "common/base64.hpp"
#include "platform/linux/tesseract_recognition.hpp"
#include "platform/simulated/simulated_desktop.hpp"
#include "test_images.hpp"

namespace pavo::testing {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using agent::OCRCache;
using nlohmann::json;

const json kHint = "System Settings -> Privacy & Security -> Accessibility";
const std::string kPayload = "https://example.test/pair?code=42&x=Grüße";

// Drawn once for every test: text with a white-on-blue button, the same as JPEG, a QR code under a caption,
// a blank image, and a PNG cut short.
struct Images {
    TempDir dir;
    std::string text, jpeg, qr, blank, corrupt, tall;

    Images() {
        std::vector<std::string> page = {"-size", "800x400", "xc:white"};
        for (const auto& part :
             {textAt(40, 60, 24, "Quarterly report for the board"),
              textAt(40, 120, 24, "Revenue grew 12 percent"),
              std::vector<std::string>{"-fill", "#1e5bd6", "-draw", "rectangle 40,200 180,245"},
              textAt(70, 230, 20, "Cancel", "white"), textAt(40, 330, 20, "Ready")}) {
            page.insert(page.end(), part.begin(), part.end());
        }
        text = drawImage(dir, "text.png", page);
        jpeg = drawImage(dir, "text.jpg", {text, "-quality", "92"});
        const std::string code = drawQRCode(dir, "code.png", kPayload, 6);
        std::vector<std::string> poster = {"-size", "800x500", "xc:white"};
        for (const auto& part : {textAt(40, 60, 24, "Scan to pair"),
                                 std::vector<std::string>{code, "-geometry", "+400+150", "-composite"}}) {
            poster.insert(poster.end(), part.begin(), part.end());
        }
        qr = drawImage(dir, "qr.png", poster);
        blank = drawImage(dir, "blank.png", {"-size", "320x200", "xc:white"});
        corrupt = dir.write("corrupt.png", fileBytes(text).substr(0, 200));
        std::vector<std::string> rows = {"-size", "700x900", "xc:white"};
        for (int i = 0; i < 20; ++i) {
            const auto line =
                textAt(30 + 7 * i, 40 + 43 * i, 18, "Line " + std::to_string(i) + " of the long list");
            rows.insert(rows.end(), line.begin(), line.end());
        }
        tall = drawImage(dir, "tall.png", rows);
    }
};

const Images& images() {
    static const Images drawn;
    return drawn;
}

// Engines must go before the library's own statics do (its dictionaries are shared through one): never
// keep one in a static of the test's.
using RecognitionPtr = std::unique_ptr<platform::Recognition>;

// A recogniser that fails every image, by answering so or by throwing.
class BrokenRecognition final : public platform::Recognition {
  public:
    explicit BrokenRecognition(bool throws) : throws_(throws) {}
    asio::any_io_executor executor() override { return pool_.get_executor(); }
    asio::awaitable<platform::RecognitionOutcome> recognize(std::shared_ptr<const std::string>,
                                                            platform::RecognitionRequest) override {
        if (throws_) throw std::runtime_error("the engine broke");
        co_return platform::RecognitionFailure::failed;
    }

  private:
    bool throws_;
    asio::thread_pool pool_{1};
};

struct Reply {
    int status = 0;
    json body;
    std::map<std::string, std::string> headers;
    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? "(none)" : it->second;
    }
    std::vector<std::string> texts(const char* key = "results") const {
        std::vector<std::string> found;
        for (const auto& result : body[key]) found.push_back(result["text"]);
        return found;
    }
};

json scene() {
    return {
        {"frontmost", 100},
        {"applications",
         {{{"pid", 100}, {"name", "Editor"}, {"tree", {{"role", "AXApplication"}, {"title", "Editor"}}}},
          {{"pid", 200}, {"name", "Viewer"}, {"tree", {{"role", "AXApplication"}, {"title", "Viewer"}}}}}}};
}

class VisionRoutes : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { recognition = platform::linux_recognition::makeTesseractRecognition(); }
    static void TearDownTestSuite() { recognition.reset(); }
    static RecognitionPtr recognition;

    platform::simulated::SimulatedDesktop desktop{platform::simulated::parseScene(scene())};
    agent::AXTreeCache::TimePoint treeNow{};
    agent::AXTreeCache treeCache{[this] { return treeNow; }};
    agent::BatchManager batches;
    agent::AXContext ax{desktop, treeCache, batches};
    std::chrono::system_clock::time_point now{1'700'000'000'000ms};
    OCRCache ocrCache{OCRCache::kDefaultCapacity, [this] { return now; }};
    const agent::ConsentGate gate{nullptr};

    Reply post(const std::string& path, const std::string& body, platform::Recognition* other = nullptr) {
        agent::VisionContext vision{desktop, other ? *other : *recognition, ocrCache};
        agent::ScriptTools scripts;
        agent::KeysContext keys{desktop, scripts};
        agent::Dispatcher dispatcher("t");
        agent::registerRoutes(dispatcher, agent::Features{ax, gate, keys, scripts, vision});
        http::HTTPRequest request;
        request.method = "POST";
        request.path = path;
        request.headers["x-pavo-token"] = "t";
        request.body = body;
        asio::io_context io;
        auto future = asio::co_spawn(io, dispatcher.dispatch(std::move(request)), asio::use_future);
        io.run();
        const http::HTTPResponse response = future.get();
        return Reply{response.status, json::parse(response.body), response.headers};
    }
    Reply post(const std::string& path, const json& body) { return post(path, body.dump()); }
};

RecognitionPtr VisionRoutes::recognition;

json failure(const std::string& code, const std::string& message) {
    return {{"error", code}, {"message", message}};
}

TEST_F(VisionRoutes, OCRReadsEveryLineOfGeneratedImagesWithBoxesInPixels) {
    const std::vector<std::string> lines = {"Quarterly report for the board", "Revenue grew 12 percent",
                                            "Cancel", "Ready"};
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {images().text, lines}, {images().jpeg, lines}, {images().blank, {}}};
    for (const auto& [path, expected] : rows) {
        const Reply reply = post("/ocr", json{{"imagePath", path}});
        ASSERT_EQ(reply.status, 200) << path << reply.body;
        EXPECT_EQ(reply.texts(), expected) << path;
    }
    // The white-on-blue button's label, where it was drawn: baseline 230, 20 points, from x 70.
    const json cancel = post("/ocr", json{{"imagePath", images().text}}).body["results"][2];
    EXPECT_NEAR(cancel["boundingBox"]["x"].get<double>(), 71, 3);
    EXPECT_NEAR(cancel["boundingBox"]["y"].get<double>() + cancel["boundingBox"]["height"].get<double>(), 230,
                3);
    EXPECT_GT(cancel["confidence"].get<double>(), 0.8);
    EXPECT_LE(cancel["confidence"].get<double>(), 1.0);
}

TEST_F(VisionRoutes, OCRAnswersEveryFailureWithItsReplyAndNoCacheHeader) {
    const json invalid = failure("bad_request", "Invalid JSON body");
    const json noImage = failure("bad_request", "No valid image provided or could not decode image");
    const std::pair<std::string, json> rows[] = {
        {"", invalid},
        {R"({"windowId":-1})", invalid},
        {R"({"pid":"1"})", invalid},
        {"{}", noImage},
        {json{{"imageBase64", common::base64Encode("not an image")}}.dump(), noImage},
        {json{{"imagePath", images().dir.path() + "/missing.png"}}.dump(), noImage},
        {json{{"imagePath", images().corrupt}}.dump(), noImage},
        {json{{"imagePath", images().dir.path()}}.dump(), noImage},
    };
    for (const auto& [body, expected] : rows) {
        const Reply reply = post("/ocr", body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body, expected) << body;
        EXPECT_EQ(reply.header("X-Pavo-Cache"), "(none)");
    }
}

TEST_F(VisionRoutes, UndecodableBase64FallsBackToThePathAndDecodableBase64WinsOverIt) {
    const std::string inline64 = common::base64Encode(fileBytes(images().blank));
    const std::tuple<std::string, std::string, int, std::size_t> rows[] = {
        {"%%%", images().text, 200, 4},
        {"QUJD\n", images().text, 200, 4},
        {inline64, images().text, 200, 0},  // the blank image inline, not the file
        {inline64, images().dir.path() + "/missing.png", 200, 0},
    };
    for (const auto& [base64, path, status, lines] : rows) {
        const Reply reply = post("/ocr", json{{"imageBase64", base64}, {"imagePath", path}});
        EXPECT_EQ(reply.status, status) << base64.substr(0, 8);
        EXPECT_EQ(reply.body["results"].size(), lines) << base64.substr(0, 8);
    }
}

TEST_F(VisionRoutes, OCRHitsItsCacheOnlyForTheSameImageAndWindowWithinOneBucket) {
    const json text = {{"imagePath", images().text}, {"pid", 7}, {"windowId", 9}};
    struct Step {
        const char* what;
        json body;
        std::chrono::milliseconds later;
        std::optional<std::int32_t> frontmost;
        const char* cache;
    } steps[] = {
        {"first", text, 0ms, 100, "MISS"},
        {"again at once", text, 0ms, 100, "HIT"},
        {"99 ms later, same bucket", text, 99ms, 100, "HIT"},
        {"another window", {{"imagePath", images().text}, {"pid", 7}, {"windowId", 10}}, 0ms, 100, "MISS"},
        {"the same bytes inline",
         {{"imageBase64", common::base64Encode(fileBytes(images().text))}, {"pid", 7}, {"windowId", 9}},
         0ms,
         100,
         "HIT"},
        {"next bucket", text, 1ms, 100, "MISS"},
        {"another application in front", text, 0ms, 200, "MISS"},
    };
    for (const Step& step : steps) {
        now += step.later;
        desktop.setFrontmost(step.frontmost);
        const Reply reply = post("/ocr", step.body);
        EXPECT_EQ(reply.header("X-Pavo-Cache"), step.cache) << step.what;
        EXPECT_EQ(reply.texts().size(), 4u) << step.what;
    }
}

TEST_F(VisionRoutes, VisualFindScoresLinesAndTheQRCodeAndInterleavesThem) {
    using Found = std::vector<std::tuple<std::string, std::string, float>>;
    const float pairInCaption = 0.5f + 0.4f * 4 / 12;
    const std::pair<std::string, Found> rows[] = {
        {"scan to pair", {{"text", "Scan to pair", 1.0}}},
        {"HTTPS://Example.test/PAIR?code=42&x=Grüße", {{"icon", kPayload, 1.0}}},
        {"https://example.test/pair", {{"icon", kPayload, 0.8}}},
        {"icon", {{"icon", kPayload, 0.5}}},
        {"pair", {{"icon", kPayload, 0.8}, {"text", "Scan to pair", pairInCaption}}},
        {"nowhere", {}},
    };
    for (const auto& [query, expected] : rows) {
        const Reply reply = post("/visual/find", json{{"imagePath", images().qr}, {"query", query}});
        ASSERT_EQ(reply.status, 200) << query;
        Found found;
        for (const auto& r : reply.body["results"])
            found.emplace_back(r["type"], r["text"], r["matchScore"].get<float>());
        EXPECT_EQ(found, expected) << query;
    }
    // The symbol drawn at +400+150 with six-pixel modules and a four-module margin.
    const json code =
        post("/visual/find", json{{"imagePath", images().qr}, {"query", "icon"}}).body["results"][0];
    EXPECT_NEAR(code["boundingBox"]["x"].get<double>(), 424, 1e-9);
    EXPECT_NEAR(code["boundingBox"]["y"].get<double>(), 174, 1e-9);
    EXPECT_NEAR(code["boundingBox"]["width"].get<double>(), 174, 1e-9) << "29 modules";
    EXPECT_EQ(code["confidence"], 1.0);
}

TEST_F(VisionRoutes, VisualFindAnswersEveryFailureWithItsReply) {
    const json invalid = failure("bad_request", "Invalid JSON body");
    const json noImage = failure("bad_request", "No valid image provided");
    const std::pair<json, json> rows[] = {
        {json::object(), invalid},
        {{{"query", 1}, {"imagePath", images().qr}}, invalid},
        {{{"query", "pair"}}, noImage},
        {{{"query", "pair"}, {"imagePath", images().corrupt}}, noImage},
        {{{"query", "pair"}, {"imageBase64", "%%%"}}, noImage},
    };
    for (const auto& [body, expected] : rows) {
        const Reply reply = post("/visual/find", body);
        EXPECT_EQ(reply.status, 400) << body;
        EXPECT_EQ(reply.body, expected) << body;
    }
}

TEST_F(VisionRoutes, TreeAndOCRReportsEachCacheInItsOwnHeader) {
    const json body = {{"imagePath", images().text}};
    struct Step {
        const char* what;
        std::chrono::milliseconds later;
        const char *both, *tree, *ocr;
    } steps[] = {
        {"first", 0ms, "MISS", "MISS", "MISS"},
        {"same bucket", 0ms, "HIT", "HIT", "HIT"},
        {"150 ms later", 150ms, "MISS", "HIT", "MISS"},
        {"1.2 s later", 1050ms, "MISS", "MISS", "MISS"},
    };
    for (const Step& step : steps) {
        now += step.later;
        treeNow += step.later;
        const Reply reply = post("/ax/tree_and_ocr", body);
        ASSERT_EQ(reply.status, 200) << step.what << reply.body;
        EXPECT_EQ(reply.body["tree"]["label"], "Editor");
        EXPECT_EQ(reply.texts("ocr").size(), 4u);
        EXPECT_EQ(reply.header("X-Pavo-Cache"), step.both) << step.what;
        EXPECT_EQ(reply.header("X-Pavo-AX-Cache"), step.tree) << step.what;
        EXPECT_EQ(reply.header("X-Pavo-OCR-Cache"), step.ocr) << step.what;
    }
    EXPECT_EQ(
        post("/ax/tree_and_ocr", json{{"root_pid", 200}, {"imagePath", images().text}}).body["tree"]["label"],
        "Viewer");
}

TEST_F(VisionRoutes, TreeAndOCRAnswersEveryFailureOfEitherPartWithItsOwnTable) {
    const json permission = {{"error", "ax_permission_missing"}, {"hint", kHint}};
    struct Row {
        const char* what;
        json body;
        bool trusted;
        std::optional<std::int32_t> frontmost;
        int status;
        json reply;
    } rows[] = {
        {"no image", json::object(), true, 100, 500, failure("internal_error", "badRequest")},
        {"not an image",
         {{"imagePath", images().corrupt}},
         true,
         100,
         500,
         failure("internal_error", "badRequest")},
        {"no permission", {{"imagePath", images().text}}, false, 100, 403, permission},
        {"no permission, no image", json::object(), false, 100, 403, permission},
        {"nothing in front",
         {{"imagePath", images().text}},
         true,
         std::nullopt,
         500,
         failure("internal_error", "invalidRequest")},
        {"nothing in front, no image", json::object(), true, std::nullopt, 500,
         failure("internal_error", "invalidRequest")},
        {"a bad key",
         {{"root_pid", "100"}},
         true,
         100,
         400,
         failure("bad_request", "root_pid: expected a 32-bit integer")},
    };
    for (const Row& row : rows) {
        desktop.setTrusted(row.trusted);
        desktop.setFrontmost(row.frontmost);
        const Reply reply = post("/ax/tree_and_ocr", row.body);
        EXPECT_EQ(reply.status, row.status) << row.what;
        EXPECT_EQ(reply.body, row.reply) << row.what;
    }
    desktop.setTrusted(true);
    desktop.setFrontmost(100);
    treeCache.bump();
    EXPECT_EQ(post("/ax/tree_and_ocr", json::object()).status, 500);
    EXPECT_EQ(treeCache.size(), 1u) << "the tree was built and cached all the same";
}

TEST_F(VisionRoutes, ARecogniserThatFailsIsAServerErrorOnEachRoute) {
    BrokenRecognition answers(false), throws(true);
    const json image = {{"imagePath", images().text}, {"query", "x"}};
    const std::tuple<std::string, platform::Recognition*, json> rows[] = {
        {"/ocr", &answers, failure("ocr_failed", "invalidRequest")},
        {"/visual/find", &answers, failure("visual_find_failed", "invalidRequest")},
        {"/ax/tree_and_ocr", &answers, failure("internal_error", "invalidRequest")},
        {"/ocr", &throws, failure("ocr_failed", "the engine broke")},
        {"/visual/find", &throws, failure("visual_find_failed", "the engine broke")},
        {"/ax/tree_and_ocr", &throws, failure("internal_error", "the engine broke")},
    };
    for (const auto& [path, broken, expected] : rows) {
        const Reply reply = post(path, image.dump(), broken);
        EXPECT_EQ(reply.status, 500) << path;
        EXPECT_EQ(reply.body, expected) << path;
    }
}

std::vector<platform::TextObservation> linesOf(platform::Recognition& recognition, const std::string& path) {
    asio::io_context io;
    auto future =
        asio::co_spawn(io, recognition.recognize(std::make_shared<const std::string>(fileBytes(path)), {}),
                       asio::use_future);
    io.run();
    const auto outcome = future.get();
    EXPECT_TRUE(std::holds_alternative<platform::Recognized>(outcome)) << path;
    return std::holds_alternative<platform::Recognized>(outcome)
               ? std::get<platform::Recognized>(outcome).text
               : std::vector<platform::TextObservation>{};
}

TEST(TesseractRecognition, ReadingInBandsFindsTheTextReadingWholeDoesAndWorkersChangeNothing) {
    using platform::linux_recognition::makeTesseractRecognition;
    const auto whole = makeTesseractRecognition({.workers = 1, .cutIntoBands = false});
    const auto oneWorker = makeTesseractRecognition({.workers = 1});
    const auto twoWorkers = makeTesseractRecognition();
    for (const std::string& path : {images().tall, images().text}) {
        const auto read = linesOf(*whole, path);
        EXPECT_EQ(read.size(), path == images().tall ? 20u : 4u) << path;
        EXPECT_EQ(linesOf(*twoWorkers, path), read) << path;
    }
    // Away from text (the inside of a QR code) an engine reads differently with more or less around it,
    // but never differently for having more workers.
    EXPECT_EQ(linesOf(*twoWorkers, images().qr), linesOf(*oneWorker, images().qr));
}

}  // namespace
}  // namespace pavo::testing
