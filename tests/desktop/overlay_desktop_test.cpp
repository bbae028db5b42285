// pavo-overlay on a real X desktop with a compositor and a tray host: screenshots show the effects and
// the perimeter's colour, real clicks go through the overlay to the window below, and the tray menu
// blocks agents (pavo-agent then refuses gated actions at once).

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cmath>
#include <nlohmann/json.hpp>
#include <thread>

#include "tcp_client.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using nlohmann::json;

const std::string kOverlay = PAVO_OVERLAY_BINARY;
const std::string kAgent = PAVO_AGENT_BINARY;
const std::string kAuth = "x-overlay-token: T\r\n";

int difference(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

class OverlayOnDesktop : public ::testing::Test {
  protected:
    void SetUp() override {
        environment["HOME"] = home.path();
        environment["QT_QPA_PLATFORM"] = "xcb";
        compositor =
            std::make_unique<ChildProcess>("/usr/bin/xcompmgr", std::vector<std::string>{}, environment);
        tray = std::make_unique<ChildProcess>(
            "/usr/bin/trayer",
            std::vector<std::string>{"--edge", "top", "--align", "right", "--widthtype", "request",
                                     "--height", "24", "--SetDockType", "true", "--expand", "false"},
            environment);
        ASSERT_TRUE(eventually([&] { return !xdotool({"search", "--classname", "^panel$"}).empty(); }));

        overlay = std::make_unique<ChildProcess>(
            kOverlay, std::vector<std::string>{"--token", "T", "--port", "0"}, environment);
        const auto line = overlay->waitForLine("[EventServer] Listening on 127.0.0.1:");
        ASSERT_TRUE(line) << overlay->output();
        port = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
        // The tray icon is docked once trayer has grown around it.
        ASSERT_TRUE(eventually([&] { return trayWindowGeometry().width() >= 16; }, std::chrono::seconds(10)));
    }

    std::vector<std::string> xdotool(const std::vector<std::string>& arguments) {
        return runToCompletion("/usr/bin/xdotool", arguments, environment).lines;
    }
    QRect trayWindowGeometry() {
        const auto windows = xdotool({"search", "--onlyvisible", "--classname", "^panel$"});
        return windows.empty() ? QRect() : windowGeometry(windows.front());
    }
    QRect windowGeometry(const std::string& window) {
        // "X=..", "Y=..", "WIDTH=..", "HEIGHT=.." lines
        std::map<std::string, int> values;
        for (const auto& line : xdotool({"getwindowgeometry", "--shell", window})) {
            const auto equals = line.find('=');
            if (equals != std::string::npos)
                values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
        }
        return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
    }
    QImage screenshot() {
        const std::string file = home.path() + "/shot.png";
        runToCompletion("/usr/bin/import", {"-window", "root", file}, environment);
        return QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_RGB32);
    }
    int post(const json& event) { return statusOf(request(port, "POST", "/event", event.dump(), kAuth)); }
    void click(double x, double y) {
        xdotool({"mousemove", std::to_string(std::lround(x)), std::to_string(std::lround(y)), "click", "1"});
    }

    TempDir home;
    std::map<std::string, std::string> environment = desktopEnvironment();
    std::unique_ptr<ChildProcess> compositor, tray, overlay;
    std::uint16_t port = 0;
};

TEST_F(OverlayOnDesktop, ScreenshotsShowTheEffectsAndClicksGoThrough) {
    auto zenity = startApplication("zenity", {"--info", "--text=Below the overlay"});
    platform::Accessibility& ax = linuxDesktop().accessibility();
    const auto ok = findElement(ax, ax.applicationElement(zenity->pid()), [&](const platform::AXElement& e) {
        return hasRole(ax, e, "AXButton", "OK");
    });
    ASSERT_TRUE(ok);
    const auto okAt = ax.position(*ok);
    const auto okSize = ax.size(*ok);
    ASSERT_TRUE(okAt && okSize);

    const QImage before = screenshot();
    const int w = before.width(), h = before.height();

    // The perimeter glows in the cool palette while the agent works.
    ASSERT_EQ(post({{"type", "agent_state"}, {"state", "active"}}), 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const QRgb edge = screenshot().pixel(w / 2, 1);
    EXPECT_GT(difference(edge, before.pixel(w / 2, 1)), 40);
    EXPECT_GT(qBlue(edge), qRed(edge) + 30) << QColor(edge).name().toStdString();

    // A ring around the click point, over zenity's window (opened after the overlay): the ripple is a disc
    // up to 35 points across for half a second.
    const QPoint target(std::lround(okAt->x) - 60, std::lround(okAt->y) - 30);
    bool ringSeen = false;
    for (int attempt = 0; attempt < 5 && !ringSeen; ++attempt) {
        ASSERT_EQ(post({{"type", "click"}, {"x", target.x()}, {"y", target.y()}}), 200);
        std::this_thread::sleep_for(std::chrono::milliseconds(90));
        const QImage shot = screenshot();
        ringSeen = true;
        for (QPoint offset : {QPoint(14, 0), QPoint(-14, 0), QPoint(0, 14), QPoint(0, -14)}) {
            const QRgb inside = shot.pixel(target + offset);
            ringSeen = ringSeen && difference(inside, before.pixel(target + offset)) > 40 &&
                       qBlue(inside) > qRed(inside);
        }
        const QPoint outside = target + QPoint(90, 0);
        ringSeen = ringSeen && difference(shot.pixel(outside), before.pixel(outside)) < 10;
    }
    EXPECT_TRUE(ringSeen);

    // A chord pill near the bottom centre and a box round an element, both shown for about a second.
    ASSERT_EQ(post({{"type", "key"}, {"chord", "ctrl+shift+k"}}), 200);
    ASSERT_EQ(
        post({{"type", "element_bbox"}, {"rect", {{"x", 200}, {"y", 150}, {"width", 300}, {"height", 80}}}}),
        200);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QImage shown = screenshot();
    const QPoint pill(w / 2, h - 67);  // inside the pill, below the text
    EXPECT_LT(qGray(shown.pixel(pill)), qGray(before.pixel(pill)) - 30);
    const QPoint boxEdge(350, 150);  // on the box's top edge
    EXPECT_GT(difference(shown.pixel(boxEdge), before.pixel(boxEdge)), 40);

    // A real click on zenity's OK, through the full-screen overlay on top of it.
    click(okAt->x + okSize->width / 2, okAt->y + okSize->height / 2);
    EXPECT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << "the click did not reach the window below";
}

TEST_F(OverlayOnDesktop, TheTrayMenuBlocksAgents) {
    auto agent = std::make_unique<ChildProcess>(
        kAgent, std::vector<std::string>{"--port", "0", "--token", "t"}, environment);
    const auto listening = agent->waitForLine("Server listening on 127.0.0.1:");
    ASSERT_TRUE(listening) << agent->output();
    ASSERT_TRUE(agent->waitForLine("Consent gate: overlay at 127.0.0.1:")) << agent->output();
    const auto agentPort =
        static_cast<std::uint16_t>(std::stoi(listening->substr(listening->rfind(':') + 1)));

    // A click on the icon opens its menu; "Block Agents" is its second row (under the "Pavo Safety" header,
    // of eight rows and a separator), clicked like a person would.
    const QRect icon = trayWindowGeometry();
    click(icon.center().x(), icon.center().y());
    QRect menu;
    ASSERT_TRUE(eventually([&] {
        for (const auto& window :
             xdotool({"search", "--onlyvisible", "--pid", std::to_string(overlay->pid())})) {
            const QRect geometry = windowGeometry(window);
            if (geometry.height() > 100 && geometry.width() < 600) menu = geometry;
        }
        return menu.isValid();
    })) << "the tray menu did not open";
    click(menu.x() + menu.width() / 3.0, menu.y() + menu.height() * 1.5 / 8.25);

    std::string state;
    EXPECT_TRUE(eventually([&] {
        state = bodyOf(request(port, "GET", "/state", "", kAuth));
        return json::parse(state) == json({{"operator_mode", "block"}, {"mutations_blocked", true}});
    })) << state;

    // The perimeter turns a still grey, and the agent's gated actions are refused without waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const QImage shot = screenshot();
    const QRgb edge = shot.pixel(shot.width() / 2, shot.height() - 2);
    EXPECT_LT(std::abs(qRed(edge) - qGreen(edge)), 30) << QColor(edge).name().toStdString();
    EXPECT_GE(qBlue(edge), qGreen(edge)) << QColor(edge).name().toStdString();
    auto rejections = [&] {
        return json::parse(bodyOf(request(port, "GET", "/stats", "", kAuth)))["rejections"].get<int>();
    };
    const auto rejectedBefore = rejections();
    const std::string refused =
        request(agentPort, "POST", "/ax/click", R"({"elementId":"0123456789abcdef"})", "x-pavo-token: t\r\n");
    EXPECT_EQ(statusOf(refused), 403) << refused;
    EXPECT_EQ(json::parse(bodyOf(refused)), json({{"error", "consent_denied"}}));
    EXPECT_EQ(rejections(), rejectedBefore + 1) << "the prompt was not refused by the open breaker";
}

}  // namespace
}  // namespace pavo::testing
