// The Linux desktop port against real GTK applications: XTest delivery, the AT-SPI mapping, the read memo,
// the frontmost application and activation (typing through XTest: keystrokes_desktop_test).

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <cctype>
#include <csignal>

#include "agent/ax/ax_tree.hpp"
#include "agent/server/desktop_waits.hpp"
#include "await.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using platform::AXElement;
using platform::MouseEvent;
using platform::MouseEventType;
using std::chrono::seconds;

class LinuxPort : public ::testing::Test {
  protected:
    platform::Desktop& desktop = linuxDesktop();
    platform::Accessibility& ax = desktop.accessibility();

    AXElement elementOf(const ChildProcess& app, const std::string& role,
                        const std::optional<std::string>& title = std::nullopt) {
        auto found = findElement(ax, ax.applicationElement(app.pid()),
                                 [&](const AXElement& e) { return hasRole(ax, e, role, title); });
        EXPECT_TRUE(found) << "no " << role << " " << title.value_or("");
        return found.value_or(AXElement());
    }

    // Activation gives up after two seconds, which a loaded machine's window manager can exceed.
    bool bringToFront(pid_t pid) {
        return eventually([&] { return activate(desktop, pid); }, seconds(15)) &&
               eventually([&] { return desktop.workspace().frontmost().pid == pid; }, seconds(5));
    }
};

TEST_F(LinuxPort, ASynthesizedClickAtAFramesCentreLandsOnThatElement) {
    auto factory = startApplication("gtk3-widget-factory", {});
    ASSERT_TRUE(bringToFront(factory->pid()));
    // A text field that does not have focus yet; a click on it gives it focus.
    auto field = findElement(ax, ax.applicationElement(factory->pid()), [&](const AXElement& e) {
        return hasRole(ax, e, "AXTextField") && ax.booleanAttribute(e, "AXFocused") == false &&
               ax.booleanAttribute(e, "AXEnabled") == true && ax.position(e) && ax.size(e) &&
               ax.size(e)->width > 20;
    });
    ASSERT_TRUE(field);
    const double x = ax.position(*field)->x + ax.size(*field)->width / 2;
    const double y = ax.position(*field)->y + ax.size(*field)->height / 2;
    for (auto type : {MouseEventType::mouseMoved, MouseEventType::leftMouseDown, MouseEventType::leftMouseUp})
        ASSERT_TRUE(desktop.input().postMouseEvent(MouseEvent{type, x, y, 0}));
    EXPECT_TRUE(eventually([&] { return ax.booleanAttribute(*field, "AXFocused") == true; }))
        << "clicked " << x << "," << y;
}

TEST_F(LinuxPort, APostedMouseEventHasReachedTheServerWhenThePostReturns) {
    // Nothing else is posted afterwards that could push it out of the client's buffer.
    ASSERT_TRUE(desktop.input().postMouseEvent(MouseEvent{MouseEventType::mouseMoved, 123, 321, 0}));
    const auto where = runToCompletion("/usr/bin/xdotool", {"getmouselocation"}, desktopEnvironment());
    EXPECT_EQ(where.output.rfind("x:123 y:321 ", 0), 0u) << where.output;
}

TEST_F(LinuxPort, OnlyWhatZenityOffersIsDoneAndAnOutsideChangeShowsOnceReadsOfASecondAgoAreForgotten) {
    auto zenity = startApplication("zenity", {"--entry", "--entry-text=before"});
    const AXElement cancel = elementOf(*zenity, "AXButton", "Cancel");
    EXPECT_FALSE(ax.performAction(cancel, "AXNoSuchAction"));
    EXPECT_FALSE(ax.setAttribute(cancel, "AXValue", std::string("not editable")));
    const AXElement entry = elementOf(*zenity, "AXTextField");
    EXPECT_EQ(ax.stringAttribute(entry, "AXValue"), "before");
    // Another program changes the text; this process posts nothing that would forget its reads.
    ASSERT_TRUE(eventually([&] { return ax.booleanAttribute(entry, "AXFocused") == true; }));
    runToCompletion("/usr/bin/xdotool", {"key", "--clearmodifiers", "End", "x"}, desktopEnvironment());
    EXPECT_TRUE(eventually([&] { return ax.stringAttribute(entry, "AXValue") == "beforex"; }))
        << ax.stringAttribute(entry, "AXValue").value_or("<none>");
}

// "depth|label|children" per element in tree order, and where each window is on screen: the one place a
// frame read relative to its own window would show.
void listTree(const agent::AXElementInfo& e, int depth, std::vector<std::string>& out) {
    const auto& children = e.children.value_or(std::vector<agent::AXElementInfo>{});
    out.push_back(std::to_string(depth) + "|" + e.label.value_or("") + "|" + std::to_string(children.size()));
    if (depth == 1 && e.frame)
        out.back() += "|" + std::to_string(int(e.frame->x)) + "," + std::to_string(int(e.frame->y));
    for (const auto& child : children) listTree(child, depth + 1, out);
}

TEST_F(LinuxPort, AWidgetFactorySnapshotMapsRolesAndFramesAndMatchesPyatspi) {
    auto factory = startApplication("gtk3-widget-factory", {});
    const std::string reader = R"(
import sys, pyatspi
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == int(sys.argv[1]))
def walk(e, depth):
    at = "|%d,%d" % tuple(e.queryComponent().getExtents(pyatspi.DESKTOP_COORDS))[:2] if depth == 1 else ""
    print(f"{depth}|{e.name}|{min(e.childCount, 1000)}{at}")
    for i in range(min(e.childCount, 1000)): walk(e.getChildAtIndex(i), depth + 1)
walk(app, 0)
)";
    // The factory fills its window after first showing it, and creates some popover menus' children only
    // once something reads them: both readers read again (ours after its second of reuse) until they agree
    // on a filled window.
    agent::AXElementInfo root;
    std::vector<std::string> expected, walked;
    const bool agreed = eventually(
        [&] {
            const auto theirs = runToCompletion(
                "/usr/bin/python3", {"-c", reader, std::to_string(factory->pid())}, desktopEnvironment());
            expected.clear();
            for (const auto& line : theirs.lines)
                if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
                    expected.push_back(line);
            root = agent::buildTree(ax, ax.applicationElement(factory->pid()), "0");
            walked.clear();
            listTree(root, 0, walked);
            return theirs.status == 0 && walked.size() > 200 && walked == expected;
        },
        seconds(60));
    ASSERT_TRUE(agreed) << walked.size() << " elements against " << expected.size();

    std::map<std::string, int> roles;
    int framed = 0;
    std::function<void(const agent::AXElementInfo&)> visit = [&](const agent::AXElementInfo& e) {
        ++roles[e.role];
        if (e.frame) {
            ++framed;
            EXPECT_TRUE(e.frame->x >= 0 && e.frame->y >= 0 && e.frame->x + e.frame->width <= 1601) << e.role;
        }
        for (const auto& child : e.children.value_or(std::vector<agent::AXElementInfo>{})) visit(child);
    };
    visit(root);
    EXPECT_EQ(root.role, "AXApplication");
    EXPECT_GT(framed, 50);
    // AXPageTab: a role with no established name keeps the AT-SPI one in upper camel case.
    for (const char* role :
         {"AXWindow", "AXButton", "AXCheckBox", "AXRadioButton", "AXSlider", "AXTabGroup", "AXComboBox",
          "AXGroup", "AXProgressIndicator", "AXStaticText", "AXTextField", "AXPageTab"})
        EXPECT_GT(roles[role], 0) << role;
    EXPECT_EQ(roles.count("Unknown"), 0u);
}

TEST_F(LinuxPort, TheWorkspaceLaunchesFindsAndActivatesApplicationsByDesktopEntryId) {
    platform::Workspace& workspace = desktop.workspace();
    const auto launched = launch(desktop, "gtk3-widget-factory");
    ASSERT_TRUE(launched);
    const std::shared_ptr<void> ending(nullptr, [&](void*) { ::kill(launched->pid, SIGTERM); });
    EXPECT_TRUE(eventually([&] { return workspace.frontmost().pid == launched->pid; }, seconds(15)));
    auto zenity = startApplication("zenity", {"--info", "--text=front"});
    // The window manager lists a new window in its own time.
    const auto found = [&](const std::string& id, pid_t pid, const std::string& bundleId) {
        return eventually([&] {
            const auto app = workspace.runningApplication(id);
            return app && app->pid == pid && app->bundleId == bundleId;
        });
    };
    EXPECT_TRUE(found("gtk3-widget-factory.desktop", launched->pid, "gtk3-widget-factory"));
    EXPECT_TRUE(found("zenity", zenity->pid(), "zenity"));
    EXPECT_FALSE(workspace.runningApplication("no-such-application"));
    EXPECT_TRUE(workspace.isInstalled("gtk3-widget-factory"));
    EXPECT_FALSE(workspace.isInstalled("no-such-application"));
    EXPECT_FALSE(launch(desktop, "no-such-application"));

    EXPECT_TRUE(bringToFront(launched->pid));
    const auto named = workspace.applicationNamed("zenity");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->pid, zenity->pid());
    EXPECT_TRUE(bringToFront(named->pid));
    EXPECT_FALSE(activate(desktop, 999999));
}

TEST_F(LinuxPort, WaitingForAnActivationHoldsNoThreadThatOtherRequestsNeed) {
    namespace asio = boost::asio;
    auto zenity = startApplication("zenity", {"--entry", "--text=Name?"});
    // A process without a window: activating it waits its whole deadline for a window that never comes.
    ChildProcess windowless("/bin/sleep", {"30"}, desktopEnvironment());
    asio::io_context& io = testContext();  // the desktop thread may hold it after the last request ends
    std::vector<std::string> finished;
    const auto spawn = [&](std::string name, auto work) {
        asio::co_spawn(
            io,
            [&, name, work]() -> asio::awaitable<void> {
                co_await work();
                finished.push_back(name);
            },
            asio::detached);
    };
    spawn("activation", [&]() -> asio::awaitable<void> {
        EXPECT_FALSE(co_await agent::activateApplication(desktop, windowless.pid()));
    });
    spawn("frontmost", [&]() -> asio::awaitable<void> {
        co_await agent::pause(std::chrono::milliseconds(200));  // well inside the activation's wait
        EXPECT_EQ(co_await agent::frontmostApplication(desktop), zenity->pid());
    });
    io.restart();
    io.run();
    EXPECT_EQ(finished, (std::vector<std::string>{"frontmost", "activation"}));
}

}  // namespace
}  // namespace pavo::testing
