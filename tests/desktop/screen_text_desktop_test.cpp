// pavo-agent reading a real screenshot of the widget factory: what it reads lies where the accessibility
// tree says those widgets are, which only a real screen and a real tree can show.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kToken = "screen-text-token";

// Whether an element labelled with the text read, here or below, holds the middle of its box.
bool shownBy(const json& element, const json& read) {
    const auto within = [&](const char* at, const char* size) {
        const json &box = read["boundingBox"], &frame = element["frame"];
        const double middle = box[at].get<double>() + box[size].get<double>() / 2;
        return middle >= frame[at].get<double>() &&
               middle <= frame[at].get<double>() + frame[size].get<double>();
    };
    if (element.value("label", "") == read["text"] && element.contains("frame") && within("x", "width") &&
        within("y", "height"))
        return true;
    const json children = element.value("children", json::array());
    return std::any_of(children.begin(), children.end(),
                       [&](const json& child) { return shownBy(child, read); });
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
    const auto port = waitForPort(agent, kAgentListening);
    ASSERT_NE(port, 0) << agent.output();
    const std::string response = request(port, "POST", "/ax/tree_and_ocr", json{{"imagePath", shot}}.dump(),
                                         "x-pavo-token: " + kToken + "\r\n");
    ASSERT_EQ(statusOf(response), 200) << response;
    const json both = json::parse(bodyOf(response));
    ASSERT_EQ(both["tree"]["label"], "gtk3-widget-factory");
    for (const char* label : {"Page 2", "togglebutton", "checkbutton", "radiobutton"}) {
        EXPECT_TRUE(std::any_of(
            both["ocr"].begin(), both["ocr"].end(),
            [&](const json& read) { return read["text"] == label && shownBy(both["tree"], read); }))
            << label << " in " << both["ocr"].dump();
    }
}

}  // namespace
}  // namespace pavo::testing
