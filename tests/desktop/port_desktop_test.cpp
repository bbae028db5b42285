// The Linux desktop port against real GTK applications: values, actions, typed text, clicks, the
// frontmost application and activation.

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <cctype>
#include <csignal>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/ax_tree_data.hpp"
#include "agent/ax/batch_manager.hpp"
#include "agent/server/desktop_waits.hpp"
#include "virtual_desktop.hpp"

namespace pavo::testing {
namespace {

using platform::AXElement;
using platform::KeyEvent;
using platform::MouseEvent;
using platform::MouseEventType;

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

    void typeKey(std::uint16_t keyCode, std::uint64_t flags = 0) {
        ASSERT_TRUE(postKey(desktop, KeyEvent{keyCode, true, flags, {}}));
        ASSERT_TRUE(postKey(desktop, KeyEvent{keyCode, false, flags, {}}));
    }

    void typeText(const std::u16string& text) {
        ASSERT_TRUE(postKey(desktop, KeyEvent{0, true, 0, text}));
        ASSERT_TRUE(postKey(desktop, KeyEvent{0, false, 0, text}));
    }
};

TEST_F(LinuxPort, SettingTheEntryAndPressingOkMakesZenityPrintExactlyThatText) {
    auto zenity = startApplication("zenity", {"--entry", "--text=Name?"});
    const std::string text = "héllo wörld ✓ 日本語 — ok";
    const AXElement entry = elementOf(*zenity, "AXTextField");
    ASSERT_TRUE(ax.setAttribute(entry, "AXValue", text));
    EXPECT_EQ(ax.stringAttribute(entry, "AXValue"), text);

    ASSERT_TRUE(ax.performAction(elementOf(*zenity, "AXButton", "OK"), "AXPress"));
    ASSERT_EQ(zenity->waitForExit(), 0);
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{text});
}

TEST_F(LinuxPort, PressingCancelEndsZenityWithoutOutputAndUnknownActionsAreRefused) {
    auto zenity = startApplication("zenity", {"--entry"});
    const AXElement cancel = elementOf(*zenity, "AXButton", "Cancel");
    EXPECT_FALSE(ax.performAction(cancel, "AXNoSuchAction"));
    EXPECT_FALSE(ax.setAttribute(cancel, "AXValue", std::string("not editable")));
    ASSERT_TRUE(ax.performAction(cancel, "AXPress"));
    EXPECT_EQ(zenity->waitForExit(), 1);
    EXPECT_TRUE(programLines(*zenity).empty());
}

TEST_F(LinuxPort, KeyEventsThroughXTestTypeTextExactlyIncludingCharactersOffTheKeymap) {
    auto zenity = startApplication("zenity", {"--entry"});
    const AXElement entry = elementOf(*zenity, "AXTextField");
    ASSERT_TRUE(eventually([&] { return desktop.workspace().frontmost().pid == zenity->pid(); }));
    ASSERT_TRUE(eventually([&] { return ax.booleanAttribute(entry, "AXFocused") == true; }));

    typeKey(4, platform::modifier::shift);  // H
    typeKey(34);                            // i
    typeText(u" wörld ✓€ 日本 ~!é✓");
    const std::string expected = "Hi wörld ✓€ 日本 ~!é✓";
    EXPECT_TRUE(eventually([&] { return ax.stringAttribute(entry, "AXValue") == expected; }))
        << ax.stringAttribute(entry, "AXValue").value_or("<none>");

    typeKey(36);  // Return accepts the dialog
    ASSERT_EQ(zenity->waitForExit(), 0);
    EXPECT_EQ(programLines(*zenity), std::vector<std::string>{expected});
}

TEST_F(LinuxPort, ASynthesizedClickAtAFramesCentreLandsOnThatElement) {
    auto factory = startApplication("gtk3-widget-factory", {});
    ASSERT_TRUE(activate(desktop, factory->pid()));
    // A text field that does not have focus yet; a click on it gives it focus.
    auto field = findElement(ax, ax.applicationElement(factory->pid()), [&](const AXElement& e) {
        return hasRole(ax, e, "AXTextField") && ax.booleanAttribute(e, "AXFocused") == false &&
               ax.booleanAttribute(e, "AXEnabled") == true && ax.position(e) && ax.size(e) &&
               ax.size(e)->width > 20;
    });
    ASSERT_TRUE(field);
    const auto at = *ax.position(*field);
    const auto size = *ax.size(*field);
    const double x = at.x + size.width / 2, y = at.y + size.height / 2;
    ASSERT_TRUE(desktop.input().postMouseEvent(MouseEvent{MouseEventType::mouseMoved, x, y, 0}));
    ASSERT_TRUE(desktop.input().postMouseEvent(MouseEvent{MouseEventType::leftMouseDown, x, y, 0}));
    ASSERT_TRUE(desktop.input().postMouseEvent(MouseEvent{MouseEventType::leftMouseUp, x, y, 0}));
    EXPECT_TRUE(eventually([&] { return ax.booleanAttribute(*field, "AXFocused") == true; }))
        << "clicked " << x << "," << y << " frontmost " << desktop.workspace().frontmost().pid.value_or(0)
        << " app " << factory->pid() << " value " << ax.stringAttribute(*field, "AXValue").value_or("-");
}

TEST_F(LinuxPort, APostedMouseEventHasReachedTheServerWhenThePostReturns) {
    // Nothing else is posted afterwards that could push it out of the client's buffer.
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{123, 321}, {640, 480}}) {
        ASSERT_TRUE(
            desktop.input().postMouseEvent(MouseEvent{MouseEventType::mouseMoved, double(x), double(y), 0}));
        const auto where = runToCompletion("/usr/bin/xdotool", {"getmouselocation"}, desktopEnvironment());
        EXPECT_EQ(where.output.rfind("x:" + std::to_string(x) + " y:" + std::to_string(y) + " ", 0), 0u)
            << where.output;
    }
}

TEST_F(LinuxPort, AnOutsideChangeShowsOnceTheReadsOfASecondAgoAreForgotten) {
    auto zenity = startApplication("zenity", {"--entry", "--entry-text=before"});
    const AXElement entry = elementOf(*zenity, "AXTextField");
    EXPECT_EQ(ax.stringAttribute(entry, "AXValue"), "before");
    // Another program changes the text; this process posts nothing that would forget its reads.
    ASSERT_TRUE(eventually([&] { return ax.booleanAttribute(entry, "AXFocused") == true; }));
    runToCompletion("/usr/bin/xdotool", {"key", "--clearmodifiers", "End", "x"}, desktopEnvironment());
    EXPECT_TRUE(eventually([&] { return ax.stringAttribute(entry, "AXValue") == "beforex"; }))
        << ax.stringAttribute(entry, "AXValue").value_or("<none>");
}

TEST_F(LinuxPort, AWidgetFactorySnapshotHasHundredsOfElementsWithMappedRolesAndOnScreenFrames) {
    auto factory = startApplication("gtk3-widget-factory", {});
    agent::AXElementInfo root;
    std::function<int(const agent::AXElementInfo&)> count = [&](const agent::AXElementInfo& e) {
        int n = 1;
        for (const auto& child : e.children.value_or(std::vector<agent::AXElementInfo>{})) n += count(child);
        return n;
    };
    // The factory fills its window after first showing it.
    eventually([&] {
        root = agent::buildTree(ax, ax.applicationElement(factory->pid()), "0");
        return count(root) > 200;
    });
    std::map<std::string, int> roles;
    int total = 0, framed = 0;
    std::function<void(const agent::AXElementInfo&)> visit = [&](const agent::AXElementInfo& e) {
        ++total;
        ++roles[e.role];
        if (e.frame) {
            ++framed;
            EXPECT_GE(e.frame->x, 0);
            EXPECT_GE(e.frame->y, 0);
            EXPECT_LE(e.frame->x + e.frame->width, 1600 + 1) << e.role;
        }
        for (const auto& child : e.children.value_or(std::vector<agent::AXElementInfo>{})) visit(child);
    };
    visit(root);
    EXPECT_EQ(root.role, "AXApplication");
    EXPECT_GT(total, 200);
    EXPECT_GT(framed, 50);
    for (const char* role : {"AXWindow", "AXButton", "AXCheckBox", "AXRadioButton", "AXSlider", "AXTabGroup",
                             "AXComboBox", "AXGroup", "AXProgressIndicator", "AXStaticText", "AXTextField"}) {
        EXPECT_GT(roles[role], 0) << role;
    }
    EXPECT_EQ(roles.count("Unknown"), 0u);
    // Roles with no established name keep the AT-SPI one in upper camel case.
    EXPECT_GT(roles["AXPageTab"], 0);

    // The same elements in the same order as an independent reader sees them, asking child by child.
    const std::string reader = R"(
import sys, pyatspi
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == int(sys.argv[1]))
def walk(e, depth):
    print(f"{depth}|{e.name}|{min(e.childCount, 1000)}")
    for i in range(min(e.childCount, 1000)): walk(e.getChildAtIndex(i), depth + 1)
walk(app, 0)
)";
    std::vector<std::string> expected;
    for (const auto& line :
         runToCompletion("/usr/bin/python3", {"-c", reader, std::to_string(factory->pid())},
                         desktopEnvironment())
             .lines) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) expected.push_back(line);
    }
    std::vector<std::string> walked;
    std::function<void(const agent::AXElementInfo&, int)> list = [&](const agent::AXElementInfo& e,
                                                                     int depth) {
        const auto& children = e.children.value_or(std::vector<agent::AXElementInfo>{});
        walked.push_back(std::to_string(depth) + "|" + e.label.value_or("") + "|" +
                         std::to_string(children.size()));
        for (const auto& child : children) list(child, depth + 1);
    };
    // The factory creates some popover menus' children only once something reads them, so both readers
    // must have seen the settled application: ours reads again (after its second of reuse) until they agree.
    eventually([&] {
        walked.clear();
        list(agent::buildTree(ax, ax.applicationElement(factory->pid()), "0"), 0);
        return walked == expected;
    });
    EXPECT_EQ(walked, expected);
}

TEST_F(LinuxPort, TheWorkspaceFindsActivatesAndReportsApplicationsByDesktopEntryId) {
    auto factory = startApplication("gtk3-widget-factory", {});
    auto zenity = startApplication("zenity", {"--info", "--text=front"});
    platform::Workspace& workspace = desktop.workspace();

    const auto found = workspace.runningApplication("gtk3-widget-factory.desktop");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pid, factory->pid());
    EXPECT_EQ(found->bundleId, "gtk3-widget-factory");
    EXPECT_EQ(workspace.runningApplication("zenity").value_or(platform::RunningApplication{}).pid,
              zenity->pid());
    EXPECT_FALSE(workspace.runningApplication("no-such-application"));
    EXPECT_TRUE(workspace.isInstalled("gtk3-widget-factory"));
    EXPECT_FALSE(workspace.isInstalled("no-such-application"));

    ASSERT_TRUE(activate(desktop, factory->pid()));
    EXPECT_EQ(workspace.frontmost().pid, factory->pid());
    const auto named = workspace.applicationNamed("zenity");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->pid, zenity->pid());
    ASSERT_TRUE(activate(desktop, named->pid));
    EXPECT_EQ(workspace.frontmost().pid, zenity->pid());
    EXPECT_FALSE(activate(desktop, 999999));
}

TEST_F(LinuxPort, LaunchingFromADesktopEntryBringsTheNewApplicationToTheFront) {
    platform::Workspace& workspace = desktop.workspace();
    const auto launched = launch(desktop, "gtk3-widget-factory");
    ASSERT_TRUE(launched);
    EXPECT_GT(launched->pid, 0);
    EXPECT_TRUE(eventually([&] { return workspace.frontmost().pid == launched->pid; }));
    EXPECT_EQ(
        workspace.runningApplication("gtk3-widget-factory").value_or(platform::RunningApplication{}).pid,
        launched->pid);
    ::kill(launched->pid, SIGTERM);
    EXPECT_FALSE(launch(desktop, "no-such-application"));
}

TEST_F(LinuxPort, WaitingForAnActivationHoldsNoThreadThatOtherRequestsNeed) {
    namespace asio = boost::asio;
    auto zenity = startApplication("zenity", {"--entry", "--text=Name?"});
    // A process without a window: activating it waits its whole deadline for a window that never comes.
    ChildProcess windowless("/bin/sleep", {"30"}, desktopEnvironment());
    agent::AXTreeCache cache;
    agent::BatchManager batches;
    agent::AXContext context{desktop, cache, batches};

    asio::io_context io;
    std::vector<std::string> finished;
    std::chrono::steady_clock::duration treeTime{};
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            EXPECT_FALSE(co_await agent::activateApplication(desktop, windowless.pid()));
            finished.push_back("activation");
        },
        asio::detached);
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
            // Well inside the activation's wait.
            asio::steady_timer settle(io, std::chrono::milliseconds(200));
            co_await settle.async_wait(asio::use_awaitable);
            const auto start = std::chrono::steady_clock::now();
            const auto tree = co_await agent::axTreeData(context, zenity->pid(), std::nullopt);
            treeTime = std::chrono::steady_clock::now() - start;
            EXPECT_TRUE(tree);
            finished.push_back("tree");
        },
        asio::detached);
    io.run();
    EXPECT_EQ(finished, (std::vector<std::string>{"tree", "activation"}));
    std::cout << "zenity's tree while an activation waited: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(treeTime).count() << " ms\n";
}

}  // namespace
}  // namespace pavo::testing
