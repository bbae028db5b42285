// The controller with real widgets on the offscreen platform and a manual clock: what each event shows,
// the timers (idle watchdog, timed allow), the consent dialog, the operator's choices from the tray menu,
// the activity log window, and the parts built at start-up.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>
#include <QWindow>

#include <cstdlib>

#include "child_process.hpp"
#include "overlay/ui/activity_log_window.hpp"
#include "overlay/ui/consent_dialog.hpp"
#include "overlay/ui/controller.hpp"
#include "overlay/ui/menu_bar_indicator.hpp"
#include "overlay/visuals/overlay_view.hpp"
#include "overlay/visuals/overlay_window.hpp"
#include "tcp_client.hpp"

namespace pavo::overlay {
namespace {

using IS = IndicatorState;
using RS = RelayState;

enum class Effect { none, halo, ripple, pill, box, border };

QPushButton* button(QMessageBox& box, const QString& text) {
    for (QAbstractButton* b : box.buttons()) {
        if (b->text() == text) return qobject_cast<QPushButton*>(b);
    }
    return nullptr;
}

class Controller : public ::testing::Test {
  protected:
    void start(ConsentMode mode = ConsentMode::off, bool menuBar = true, bool dialog = false) {
        // The desktop's animation setting comes from the (temporary) home, not from the caller's config.
        ::unsetenv("XDG_CONFIG_HOME");
        consent = std::make_unique<ConsentManager>(mode);
        CLIConfig config;
        config.port = 0;
        config.token = "T";
        config.consent = mode;
        config.showMenuBar = menuBar;
        delegate = std::make_unique<OverlayAppDelegate>(config, *consent, clock);
        if (!dialog)
            delegate->setConsentAsker([this](const std::string& action, std::function<void(bool)> answered) {
                asked.push_back(action);
                answer = std::move(answered);
            });
        delegate->applicationDidFinishLaunching();
    }
    void TearDown() override {
        delegate.reset();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(widget)) widget->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Handles the event, then the transitions it scheduled.
    void handle(const OverlayEvent& event) {
        delegate->handleEvent(event);
        clock.advance(0);
    }
    void at(double time) { clock.advanceTo(time); }
    IS indicator() const { return delegate->menuBarIndicator()->currentState(); }
    RS relay() const { return delegate->overlayView()->glassRelay().currentState(); }
    OverlayScene& scene() const { return delegate->overlayView()->scene(); }
    MenuBarIndicator& tray() const { return *delegate->menuBarIndicator(); }
    Effect shownEffect() const {
        const Layer* root = &scene().layer();
        auto attached = [root](const auto& layer) { return layer && layer->superlayer() == root; };
        if (attached(scene().cursorHalo())) return Effect::halo;
        if (attached(scene().currentRipple())) return Effect::ripple;
        if (attached(scene().currentPill())) return Effect::pill;
        if (attached(scene().currentBBox())) return Effect::box;
        if (attached(scene().destructiveBorder())) return Effect::border;
        return Effect::none;
    }

    ManualClock clock;
    std::unique_ptr<ConsentManager> consent;
    std::unique_ptr<OverlayAppDelegate> delegate;
    std::vector<std::string> asked;
    std::function<void(bool)> answer;
};

TEST_F(Controller, EveryEventHasItsVisibleEffect) {
    const Rect box{100, 200, 50, 20};
    const struct {
        const char* name;
        OverlayEvent event;
        IS indicator;
        RS relay;
        Effect effect;
        std::optional<OverlayEvent> before = std::nullopt;
    } rows[] = {
        {"cursor_move", events::CursorMove{{10, 20}}, IS::active, RS::active, Effect::halo},
        {"cursor_halo", events::CursorHalo{{10, 20}}, IS::active, RS::active, Effect::halo},
        {"click", events::Click{{10, 20}, {}}, IS::idle, RS::idle, Effect::ripple},
        {"click_ripple", events::ClickRipple{{10, 20}}, IS::idle, RS::idle, Effect::ripple},
        {"key", events::Key{"cmd+s", {}}, IS::idle, RS::idle, Effect::pill},
        {"key_chord_pill", events::KeyChordPill{"cmd+s"}, IS::idle, RS::idle, Effect::pill},
        {"element_focus", events::ElementFocus{box}, IS::idle, RS::idle, Effect::box},
        {"element_bbox", events::ElementBBox{box}, IS::idle, RS::idle, Effect::box},
        {"destructive_prepare", events::DestructivePrepare{"delete", {}}, IS::destructive,
         RS::destructivePending, Effect::border},
        {"destructive_prompt", events::DestructivePrompt{"p1", "delete", {}, {}}, IS::destructive,
         RS::destructivePending, Effect::border},
        {"status active", events::Status{"active", {}}, IS::active, RS::active, Effect::none},
        {"agent_state active", events::AgentStateChange{AgentState::active, {}}, IS::active, RS::active,
         Effect::none},
        {"agent_state destructive", events::AgentStateChange{AgentState::destructive, {}}, IS::destructive,
         RS::destructivePending, Effect::none},
        {"agent_state paused", events::AgentStateChange{AgentState::paused, {}}, IS::blocked, RS::blocked,
         Effect::none},
        {"ack", events::Ack{"p1"}, IS::idle, RS::idle, Effect::none},
        // any status but "active" is idle
        {"status idle", events::Status{"idle", {}}, IS::idle, RS::idle, Effect::halo,
         events::CursorMove{{1, 1}}},
        {"status other", events::Status{"x", {}}, IS::idle, RS::idle, Effect::halo,
         events::CursorMove{{1, 1}}},
    };
    for (const auto& row : rows) {
        start();
        if (row.before) handle(*row.before);
        handle(row.event);
        EXPECT_EQ(indicator(), row.indicator) << row.name;
        EXPECT_EQ(relay(), row.relay) << row.name;
        EXPECT_EQ(shownEffect(), row.effect) << row.name;
        EXPECT_EQ(consent->operatorMode(), OperatorMode::allow) << row.name;  // nothing here changes the mode
        EXPECT_FALSE(consent->isPaused()) << row.name;  // with consent off not even a prepared action pauses
        TearDown();
    }
    start();
    handle(events::AuditLog{"t1", "ax_click", "h", "ok", 12, std::nullopt});
    ASSERT_EQ(delegate->activityLogModel().entries().size(), 1u);
    EXPECT_EQ(delegate->activityLogModel().entries().front().tool, "ax_click");
}

TEST_F(Controller, TheDisplayReturnsToIdleFiveSecondsAfterTheLastActiveEvent) {
    start();
    handle(events::CursorMove{{1, 1}});
    at(3);
    handle(events::CursorMove{{2, 2}});
    at(7.9);
    EXPECT_EQ(relay(), RS::active);
    at(8);
    EXPECT_EQ(relay(), RS::idle);
    EXPECT_EQ(indicator(), IS::idle);
}

TEST_F(Controller, IdleWaitsForEveryClient) {
    start();
    handle(events::AgentStateChange{AgentState::active, "a"});
    handle(events::AgentStateChange{AgentState::active, "b"});
    handle(events::AgentStateChange{AgentState::idle, "a"});
    EXPECT_EQ(relay(), RS::active);
    handle(events::AgentStateChange{AgentState::active, std::nullopt});  // counts as "default"
    handle(events::AgentStateChange{AgentState::idle, "b"});
    EXPECT_EQ(relay(), RS::active);
    handle(events::AgentStateChange{AgentState::idle, "default"});
    EXPECT_EQ(relay(), RS::idle);
}

TEST_F(Controller, PromptsAskTheOperatorUnlessAgentsAreBlocked) {
    start();
    delegate->setOperatorMode(OperatorMode::block);
    handle(events::DestructivePrompt{"p1", "click", "e1", 30});
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(relay(), RS::blocked);

    delegate->setOperatorMode(OperatorMode::allow);
    handle(events::DestructivePrompt{"p2", "type", std::nullopt, std::nullopt});
    EXPECT_EQ(asked, std::vector<std::string>{"type"});
    answer(false);
    clock.advance(0);
    EXPECT_EQ(consent->resolution("p2"), (Resolution{false, "consent_denied"}));
    EXPECT_EQ(relay(), RS::idle);

    at(10);
    handle(events::DestructivePrompt{"p3", "scroll", std::nullopt, std::nullopt});
    answer(true);
    EXPECT_EQ(consent->resolution("p3"), (Resolution{true, std::nullopt}));
    EXPECT_EQ(relay(), RS::approved);
    EXPECT_EQ(indicator(), IS::active);
    at(10.9);
    EXPECT_EQ(relay(), RS::active);  // back to work after the flash
    at(15.1);
    EXPECT_EQ(relay(), RS::idle);  // and to rest when nothing follows

    handle(events::DestructivePrompt{"p4", "click", std::nullopt, std::nullopt});
    delegate.reset();
    answer(true);  // an answer given after the controller is gone is still stored
    EXPECT_EQ(consent->resolution("p4"), (Resolution{true, std::nullopt}));
}

TEST(ConsentDialog, AsksInFrontAndOnlyAllowGrants) {
    const struct {
        const char* name;
        std::function<void(QMessageBox&)> answer;
        bool granted;
    } rows[] = {
        {"Allow", [](QMessageBox& box) { QTest::mouseClick(button(box, "Allow"), Qt::LeftButton); }, true},
        {"Return presses the default", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, true},
        {"Deny", [](QMessageBox& box) { QTest::mouseClick(button(box, "Deny"), Qt::LeftButton); }, false},
        {"Escape", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, false},
        {"closed", [](QMessageBox& box) { box.close(); }, false},
    };
    for (const auto& row : rows) {
        std::vector<bool> answers;
        QMessageBox* box =
            openConsentDialog("delete everything", [&answers](bool granted) { answers.push_back(granted); });
        EXPECT_EQ(QApplication::activeModalWidget(), box) << row.name;
        EXPECT_EQ(box->text(), "Destructive Action");
        EXPECT_EQ(box->informativeText(),
                  "The agent wants to perform: delete everything\n\nAllow this action?");
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->buttons().size(), 2);
        EXPECT_EQ(box->defaultButton(), button(*box, "Allow"));
        row.answer(*box);
        EXPECT_EQ(answers, std::vector<bool>{row.granted}) << row.name;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << row.name;
    }
}

TEST_F(Controller, APromptPostedOverHttpOpensTheDialogAndTheAnswerIsServed) {
    start(ConsentMode::off, true, true);
    const std::uint16_t port = delegate->serverPort().value();
    const std::string auth = "x-overlay-token: T\r\n";
    const std::string prompt = R"({"type":"destructive_prompt","id":"p1","action":"click"})";
    EXPECT_EQ(pavo::testing::statusOf(pavo::testing::request(port, "POST", "/event", prompt, auth)), 200);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000));
    QTest::mouseClick(button(*qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), "Allow"),
                      Qt::LeftButton);
    EXPECT_EQ(pavo::testing::bodyOf(pavo::testing::request(port, "GET", "/consent/p1", "", auth)),
              R"({"consent":"granted"})");
}

TEST_F(Controller, APreparedDestructiveActionPausesUntilAModeIsChosen) {
    start(ConsentMode::destructive_only);
    handle(events::DestructivePrepare{"delete", {}});
    EXPECT_TRUE(consent->isPaused());
    tray().requireApprovalItem->trigger();
    EXPECT_FALSE(consent->isPaused());
    EXPECT_EQ(relay(), RS::idle);
}

TEST_F(Controller, TheTrayMenuChoosesTheOperatorMode) {
    using Item = QAction* MenuBarIndicator::*;
    const Item items[] = {&MenuBarIndicator::blockItem, &MenuBarIndicator::allowItem,
                          &MenuBarIndicator::allow15Item, &MenuBarIndicator::allow60Item,
                          &MenuBarIndicator::requireApprovalItem};
    const std::tuple<Item, OperatorMode, IS, RS> rows[] = {
        {&MenuBarIndicator::blockItem, OperatorMode::block, IS::blocked, RS::blocked},
        {&MenuBarIndicator::allowItem, OperatorMode::allow, IS::idle, RS::idle},
        {&MenuBarIndicator::allow15Item, OperatorMode::allow, IS::idle, RS::idle},
        {&MenuBarIndicator::allow60Item, OperatorMode::allow, IS::idle, RS::idle},
        {&MenuBarIndicator::requireApprovalItem, OperatorMode::requireApproval, IS::idle, RS::idle},
    };
    for (const auto& [chosen, mode, indicatorState, relayState] : rows) {
        start(ConsentMode::destructive_only);
        handle(events::CursorMove{{1, 1}});
        (tray().*chosen)->trigger();
        clock.advance(0);
        const std::string name = (tray().*chosen)->text().toStdString();
        EXPECT_EQ(consent->operatorMode(), mode) << name;
        EXPECT_EQ(indicator(), indicatorState) << name;
        EXPECT_EQ(relay(), relayState) << name;
        for (Item item : items) EXPECT_EQ((tray().*item)->isChecked(), item == chosen) << name;
        TearDown();
    }
}

TEST_F(Controller, ATimedAllowExpiresIntoRequireApprovalUnlessAModeIsChosenFirst) {
    start();
    delegate->setOperatorMode(OperatorMode::block);
    at(100);
    tray().allow15Item->trigger();
    EXPECT_EQ(consent->operatorMode(), OperatorMode::allow);
    EXPECT_EQ(tray().allow15Item->text(), "Allow for 15 min  (15:00 left)");
    at(160);
    tray().refreshMenuCheckmarks();
    EXPECT_EQ(tray().allow15Item->text(), "Allow for 15 min  (14:00 left)");
    at(999.9);
    EXPECT_EQ(consent->operatorMode(), OperatorMode::allow);
    at(1000);
    EXPECT_EQ(consent->operatorMode(), OperatorMode::requireApproval);  // not back to block
    EXPECT_TRUE(tray().requireApprovalItem->isChecked());
    EXPECT_EQ(tray().allow15Item->text(), "Allow for 15 min");

    tray().allow60Item->trigger();
    at(1100);
    tray().blockItem->trigger();  // an explicit choice cancels the timed allow
    at(5000);
    EXPECT_EQ(consent->operatorMode(), OperatorMode::block);
    EXPECT_EQ(tray().allow60Item->text(), "Allow for 60 min");
}

TEST_F(Controller, StartUpBuildsEveryPartAndShowsTheCurrentMode) {
    start(ConsentMode::manual);
    ASSERT_NE(delegate->overlayWindow(), nullptr);
    ASSERT_NE(delegate->overlayView(), nullptr);
    ASSERT_NE(delegate->menuBarIndicator(), nullptr);
    EXPECT_TRUE(delegate->serverPort().has_value());
    EXPECT_TRUE(tray().requireApprovalItem->isChecked());
    EXPECT_TRUE(tray().statusItem().isVisible());

    OverlayWindow& window = *delegate->overlayWindow();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_EQ(delegate->overlayView()->geometry(), window.rect());
    const Qt::WindowFlags flags = window.windowHandle()->flags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(window.isActiveWindow());
    TearDown();

    start(ConsentMode::off, false);
    EXPECT_EQ(delegate->menuBarIndicator(), nullptr);
    handle(events::AgentStateChange{AgentState::active, {}});  // everything else still works
    EXPECT_EQ(relay(), RS::active);
}

TEST_F(Controller, TheActivityLogWindowShowsFiltersAndClears) {
    start();
    for (const char* tool : {"ax_click", "ax_type", "ocr"})
        handle(events::AuditLog{"t", tool, "h", "ok", 3, {}});
    tray().openLogItem->trigger();
    ActivityLogWindowController& log = *delegate->activityLogWindowController();
    ASSERT_NE(log.window(), nullptr);
    EXPECT_EQ(log.window()->windowTitle(), "Pavo Activity Log");
    EXPECT_EQ(log.tableView()->model()->rowCount(), 3);
    log.searchField()->setText(" AX_ ");
    EXPECT_EQ(log.tableView()->model()->rowCount(), 2);
    handle(events::AuditLog{"t", "ax_scroll", "h", "err", 3, {}});
    EXPECT_EQ(log.tableView()->model()->rowCount(), 3);

    log.window()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(log.window(), nullptr);
    log.showWindow();
    EXPECT_TRUE(log.searchField()->text().isEmpty());
    EXPECT_EQ(log.tableView()->model()->rowCount(), 3);  // still filtered by the earlier filter
    for (QWidget* widget : log.window()->findChildren<QPushButton*>()) {
        if (static_cast<QPushButton*>(widget)->text() == "Clear") static_cast<QPushButton*>(widget)->click();
    }
    EXPECT_EQ(log.tableView()->model()->rowCount(), 0);
    EXPECT_EQ(delegate->activityLogModel().filterText(), "ax_");
}

TEST_F(Controller, QuittingAsksFirst) {
    start();
    int quits = 0;
    delegate->onQuit = [&quits] { ++quits; };
    for (const char* text : {"Cancel", "Quit"}) {
        QMessageBox* box = tray().quitOverlay();
        EXPECT_EQ(box->text(), "Quit Pavo Overlay?");
        button(*box, text)->click();
    }
    EXPECT_EQ(quits, 1);
}

TEST(MenuBarIndicator, ItemsDoNothingBeforeTheControllerListens) {
    ManualClock clock;
    MenuBarIndicator indicator(clock);
    for (QAction* item : {indicator.blockItem, indicator.allowItem, indicator.allow15Item,
                          indicator.allow60Item, indicator.requireApprovalItem, indicator.openLogItem}) {
        item->trigger();
    }
    EXPECT_TRUE(indicator.requireApprovalItem->isChecked());  // the click itself checks nothing
    EXPECT_FALSE(indicator.blockItem->isChecked());
    EXPECT_EQ(indicator.currentState(), IndicatorState::idle);
}

}  // namespace
}  // namespace pavo::overlay

int main(int argc, char** argv) {
    // Starting on port 0 publishes overlay.sock; keep it out of the real home.
    pavo::testing::TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    // Never a real display, also when the tests are only being listed.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("XDG_RUNTIME_DIR", home.path().c_str(), 0);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
