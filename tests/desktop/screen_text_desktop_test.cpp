// pavo-agent reading a real screenshot of the widget factory: what it reads lies where the accessibility
// tree says those widgets are.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kToken = "screen-text-token";

bool inside(const json& box, const json& frame) {
    const double x = box["x"].get<double>() + box["width"].get<double>() / 2;
    const double y = box["y"].get<double>() + box["height"].get<double>() / 2;
    return x >= frame["x"].get<double>() && x <= frame["x"].get<double>() + frame["width"].get<double>() &&
           y >= frame["y"].get<double>() && y <= frame["y"].get<double>() + frame["height"].get<double>();
}

// Frames of the elements with this label, anywhere in the tree.
std::vector<json> framesLabelled(const json& element, const std::string& label) {
    std::vector<json> frames;
    if (element.value("label", "") == label && element.contains("frame")) frames.push_back(element["frame"]);
    for (const json& child : element.value("children", json::array())) {
        for (json& frame : framesLabelled(child, label)) frames.push_back(std::move(frame));
    }
    return frames;
}

TEST(ScreenTextOnDesktop, TextReadFromAScreenshotLiesInsideTheWidgetsThatShowIt) {
    auto factory = startApplication("gtk3-widget-factory", {});
    ASSERT_TRUE(activate(linuxDesktop(), factory->pid()));
    TempDir dir;
    const std::string shot = dir.path() + "/screen.png";
    ASSERT_EQ(
        runToCompletion("/usr/bin/import", {"-window", "root", "-depth", "8", shot}, desktopEnvironment())
            .status,
        0);

    ChildProcess agent(PAVO_AGENT_BINARY, {"--port", "0", "--token", kToken}, desktopEnvironment());
    const auto line = agent.waitForLine("Server listening on 127.0.0.1:");
    ASSERT_TRUE(line) << agent.output();
    const auto port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    const auto post = [&](const std::string& path, const json& body) {
        const std::string response =
            request(port, "POST", path, body.dump(), "x-pavo-token: " + kToken + "\r\n");
        EXPECT_EQ(statusOf(response), 200) << response;
        return json::parse(bodyOf(response));
    };

    const json both = post("/ax/tree_and_ocr", {{"imagePath", shot}});
    ASSERT_EQ(both["tree"]["label"], "gtk3-widget-factory");
    for (const char* label : {"Page 2", "togglebutton", "checkbutton", "radiobutton"}) {
        const auto frames = framesLabelled(both["tree"], label);
        ASSERT_FALSE(frames.empty()) << label;
        const bool seen = std::any_of(both["ocr"].begin(), both["ocr"].end(), [&](const json& read) {
            return read["text"] == label && std::any_of(frames.begin(), frames.end(), [&](const json& frame) {
                       return inside(read["boundingBox"], frame);
                   });
        });
        EXPECT_TRUE(seen) << label << " in " << both["ocr"].dump();
    }

    // The page tab at the top and the small notebooks' tabs below ("page 2") all match in full.
    auto tabs = framesLabelled(both["tree"], "Page 2");
    for (json& frame : framesLabelled(both["tree"], "page 2")) tabs.push_back(std::move(frame));
    const json found = post("/visual/find", {{"imagePath", shot}, {"query", "Page 2"}});
    ASSERT_FALSE(found["results"].empty());
    for (const json& result : found["results"]) {
        if (result["matchScore"] != 1.0) continue;
        EXPECT_TRUE(std::any_of(tabs.begin(), tabs.end(), [&](const json& tab) {
            return inside(result["boundingBox"], tab);
        })) << result.dump();
    }
}

}  // namespace
}  // namespace pavo::testing
