// pavo-overlay on a real X desktop with a compositor and a tray host: screenshots show the perimeter and a
// click's ripple over another application's window, real clicks go through the overlay to that window, and
// the tray icon's menu chooses the operator mode.

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
            PAVO_OVERLAY_BINARY, std::vector<std::string>{"--token", "T", "--port", "0"}, environment);
        port = waitForPort(*overlay, kOverlayListening);
        ASSERT_NE(port, 0) << overlay->output();
        // The tray icon is docked once trayer has grown around it.
        ASSERT_TRUE(eventually([&] { return trayGeometry().width() >= 16; }, std::chrono::seconds(10)));
    }

    std::vector<std::string> xdotool(const std::vector<std::string>& arguments) {
        return runToCompletion("/usr/bin/xdotool", arguments, environment).lines;
    }
    QRect trayGeometry() {
        const auto windows = xdotool({"search", "--onlyvisible", "--classname", "^panel$"});
        return windows.empty() ? QRect() : geometry(windows.front());
    }
    QRect geometry(const std::string& window) {  // from "X=..", "Y=..", "WIDTH=..", "HEIGHT=.." lines
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

    // The perimeter glows in the cool palette while the agent works.
    ASSERT_EQ(post({{"type", "agent_state"}, {"state", "active"}}), 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const QRgb edge = screenshot().pixel(before.width() / 2, 1);
    EXPECT_GT(difference(edge, before.pixel(before.width() / 2, 1)), 40);
    EXPECT_GT(qBlue(edge), qRed(edge) + 30) << QColor(edge).name().toStdString();

    // A ring around the click point, over zenity's window (opened after the overlay): the ripple is a disc
    // up to 35 points across for half a second.
    const QPoint target(std::lround(okAt->x) - 60, std::lround(okAt->y) - 30);
    bool ringSeen = false;
    for (int attempt = 0; attempt < 5 && !ringSeen; ++attempt) {
        ASSERT_EQ(post({{"type", "click"}, {"x", target.x()}, {"y", target.y()}}), 200);
        std::this_thread::sleep_for(std::chrono::milliseconds(90));
        const QImage shot = screenshot();
        ringSeen = difference(shot.pixel(target + QPoint(90, 0)), before.pixel(target + QPoint(90, 0))) < 10;
        for (QPoint offset : {QPoint(14, 0), QPoint(-14, 0), QPoint(0, 14), QPoint(0, -14)}) {
            const QRgb inside = shot.pixel(target + offset);
            ringSeen = ringSeen && difference(inside, before.pixel(target + offset)) > 40 &&
                       qBlue(inside) > qRed(inside);
        }
    }
    EXPECT_TRUE(ringSeen);

    // A real click on zenity's OK, through the full-screen overlay on top of it.
    click(okAt->x + okSize->width / 2, okAt->y + okSize->height / 2);
    EXPECT_EQ(zenity->waitForExit(std::chrono::seconds(5)), 0) << "the click did not reach the window below";
}

TEST_F(OverlayOnDesktop, TheTrayMenuBlocksAgents) {
    // A click on the icon opens its menu; "Block Agents" is its second row (under the "Pavo Safety" header,
    // of eight rows and a separator), clicked like a person would.
    const QRect icon = trayGeometry();
    click(icon.center().x(), icon.center().y());
    QRect menu;
    ASSERT_TRUE(eventually([&] {
        for (const auto& window :
             xdotool({"search", "--onlyvisible", "--pid", std::to_string(overlay->pid())})) {
            const QRect shown = geometry(window);
            if (shown.height() > 100 && shown.width() < 600) menu = shown;
        }
        return menu.isValid();
    })) << "the tray menu did not open";
    click(menu.x() + menu.width() / 3.0, menu.y() + menu.height() * 1.5 / 8.25);
    std::string state;
    EXPECT_TRUE(eventually([&] {
        state = bodyOf(request(port, "GET", "/state", "", kAuth));
        return json::parse(state) == json({{"operator_mode", "block"}, {"mutations_blocked", true}});
    })) << state;
}

}  // namespace
}  // namespace pavo::testing
