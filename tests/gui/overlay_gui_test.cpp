// The controller with real widgets on the offscreen platform and a manual clock: what each event shows,
// the timers (idle watchdog, timed allow), the consent dialog, the operator's choices from the tray menu,
// the activity log window, and the parts built at start-up.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>

#include <cstdlib>

#include "child_process.hpp"
#include "overlay/ui/activity_log_window.hpp"
#include "overlay/ui/consent_dialog.hpp"
#include "overlay/ui/controller.hpp"
#include "overlay/ui/menu_bar_indicator.hpp"
#include "overlay/visuals/overlay_view.hpp"

namespace pavo::overlay {
namespace {

using IS = IndicatorState;
using RS = RelayState;

enum class Effect { none, halo, ripple, pill, box, border };

class Controller : public ::testing::Test {
  protected:
    void start(ConsentMode mode = ConsentMode::off, bool menuBar = true) {
        // The desktop's animation setting comes from the (temporary) home, not from the caller's config.
        ::unsetenv("XDG_CONFIG_HOME");
        consent = std::make_unique<ConsentManager>(mode);
        const CLIConfig config{.port = 0, .token = "T", .consent = mode, .showMenuBar = menuBar};
        delegate = std::make_unique<OverlayAppDelegate>(config, *consent, clock);
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
        const std::shared_ptr<Layer> layers[] = {scene().cursorHalo(), scene().currentRipple(),
                                                 scene().currentPill(), scene().currentBBox(),
                                                 scene().destructiveBorder()};
        for (int i = 0; i < 5; ++i) {
            if (layers[i] && layers[i]->superlayer() == &scene().layer()) return Effect(i + 1);
        }
        return Effect::none;
    }

    ManualClock clock;
    std::unique_ptr<ConsentManager> consent;
    std::unique_ptr<OverlayAppDelegate> delegate;
    std::vector<std::string> asked;
    std::function<void(bool)> answer;
};

TEST_F(Controller, EveryEventHasItsVisibleEffect) {
    using namespace events;
    constexpr RS pending = RS::destructivePending;
    const Rect box{100, 200, 50, 20};
    const struct {
        const char* name;
        OverlayEvent event;
        IS indicator;
        RS relay;
        Effect effect = Effect::none;
        std::optional<OverlayEvent> before = std::nullopt;
    } rows[] = {
        {"cursor_move", CursorMove{{10, 20}}, IS::active, RS::active, Effect::halo},
        {"click", Click{{10, 20}, {}}, IS::idle, RS::idle, Effect::ripple},
        {"key", Key{"cmd+s", {}}, IS::idle, RS::idle, Effect::pill},
        {"element_focus", ElementFocus{box}, IS::idle, RS::idle, Effect::box},
        {"element_bbox", ElementBBox{box}, IS::idle, RS::idle, Effect::box},
        {"prepare", DestructivePrepare{"rm", {}}, IS::destructive, pending, Effect::border},
        {"prompt", DestructivePrompt{"p1", "rm", {}, {}}, IS::destructive, pending, Effect::border},
        {"status active", Status{"active", {}}, IS::active, RS::active},
        {"agent active", AgentStateChange{AgentState::active, {}}, IS::active, RS::active},
        {"agent destructive", AgentStateChange{AgentState::destructive, {}}, IS::destructive, pending},
        {"agent paused", AgentStateChange{AgentState::paused, {}}, IS::blocked, RS::blocked},
        {"status idle", Status{"idle", {}}, IS::idle, RS::idle, Effect::halo, CursorMove{{1, 1}}},
    };
    for (const auto& row : rows) {
        start();
        if (row.before) handle(*row.before);
        handle(row.event);
        // Nothing here changes the mode; with consent off not even a prepared action pauses.
        EXPECT_EQ(
            std::tuple(indicator(), relay(), shownEffect(), consent->operatorMode(), consent->isPaused()),
            std::tuple(row.indicator, row.relay, row.effect, OperatorMode::allow, false))
            << row.name;
        TearDown();
    }
}

TEST_F(Controller, TheDisplayRestsFiveSecondsAfterWorkAndOnlyOnceEveryClientIsIdle) {
    start();
    handle(events::CursorMove{{1, 1}});
    at(3);
    handle(events::CursorMove{{2, 2}});
    at(7.9);
    EXPECT_EQ(relay(), RS::active);
    at(8);
    EXPECT_EQ(std::pair(indicator(), relay()), std::pair(IS::idle, RS::idle));
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
    EXPECT_EQ(relay(), RS::idle);

    at(10);
    handle(events::DestructivePrompt{"p3", "scroll", std::nullopt, std::nullopt});
    answer(true);
    EXPECT_EQ(relay(), RS::approved);
    at(15.1);
    EXPECT_EQ(relay(), RS::idle);  // to rest when nothing follows the flash

    handle(events::DestructivePrompt{"p4", "click", std::nullopt, std::nullopt});
    delegate.reset();
    answer(true);  // an answer given after the controller is gone is still stored
    EXPECT_EQ(consent->resolution("p4"), (Resolution{true, std::nullopt}));
}

// Deny before Allow, as on GNOME: without a default of its own the dialog would make the first button one.
struct DenyFirst : QProxyStyle {
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        return hint == SH_DialogButtonLayout ? QDialogButtonBox::GnomeLayout
                                             : QProxyStyle::styleHint(hint, option, widget, data);
    }
};

TEST(ConsentDialog, AsksInFrontAndOnlyAllowGrants) {
    QApplication::setStyle(new DenyFirst);
    // Return presses the default button, Allow; a dialog closed any other way denies.
    for (bool pressReturn : {true, false}) {
        SCOPED_TRACE(pressReturn ? "Return" : "closed");
        std::vector<bool> answers;
        QMessageBox* box =
            openConsentDialog("delete everything", [&answers](bool granted) { answers.push_back(granted); });
        EXPECT_EQ(QApplication::activeModalWidget(), box);
        EXPECT_TRUE(QTest::qWaitForWindowActive(box));  // as on a desktop: the focus is placed
        if (pressReturn) {
            QTest::keyClick(box, Qt::Key_Return);
        } else {
            box->close();
        }
        EXPECT_EQ(answers, std::vector<bool>{pressReturn});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

// A prepared destructive action pauses until the operator chooses a mode; only blocking keeps it paused.
TEST_F(Controller, TheTrayMenuChoosesTheOperatorMode) {
    using Item = QAction* MenuBarIndicator::*;
    const std::tuple<Item, OperatorMode, IS, RS> rows[] = {
        {&MenuBarIndicator::blockItem, OperatorMode::block, IS::blocked, RS::blocked},
        {&MenuBarIndicator::allowItem, OperatorMode::allow, IS::idle, RS::idle},
        {&MenuBarIndicator::allow60Item, OperatorMode::allow, IS::idle, RS::idle},
        {&MenuBarIndicator::requireApprovalItem, OperatorMode::requireApproval, IS::idle, RS::idle},
    };
    for (const auto& [chosen, mode, indicatorState, relayState] : rows) {
        start(ConsentMode::destructive_only);
        handle(events::DestructivePrepare{"delete", {}});
        ASSERT_TRUE(consent->isPaused());
        (tray().*chosen)->trigger();
        clock.advance(0);
        EXPECT_EQ(std::tuple(consent->operatorMode(), indicator(), relay(), consent->isPaused()),
                  std::tuple(mode, indicatorState, relayState, mode == OperatorMode::block));
        for (const auto& other : rows)
            EXPECT_EQ((tray().*std::get<0>(other))->isChecked(), std::get<0>(other) == chosen);
        TearDown();
    }
}

TEST_F(Controller, ATimedAllowExpiresIntoRequireApprovalUnlessAModeIsChosenFirst) {
    start();
    EXPECT_TRUE(tray().allowItem->isChecked());  // the mode at start
    delegate->setOperatorMode(OperatorMode::block);
    at(100);
    tray().allow15Item->trigger();
    EXPECT_EQ(consent->operatorMode(), OperatorMode::allow);
    at(160);
    tray().refreshMenuCheckmarks();
    EXPECT_EQ(tray().allow15Item->text(), "Allow for 15 min  (14:00 left)");
    at(999.9);
    EXPECT_EQ(consent->operatorMode(), OperatorMode::allow);
    at(1000);
    EXPECT_EQ(consent->operatorMode(), OperatorMode::requireApproval);  // not back to block
    EXPECT_TRUE(tray().requireApprovalItem->isChecked());

    tray().allow60Item->trigger();
    at(1100);
    tray().blockItem->trigger();  // an explicit choice cancels the timed allow
    at(5000);
    EXPECT_EQ(consent->operatorMode(), OperatorMode::block);
}

TEST_F(Controller, WithoutTheTrayIconEverythingElseStillWorks) {
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
    log.searchField()->setText(" AX_ ");
    handle(events::AuditLog{"t", "ax_scroll", "h", "err", 3, {}});
    EXPECT_EQ(log.tableView()->model()->rowCount(), 3);
    for (QPushButton* push : log.window()->findChildren<QPushButton*>()) {
        if (push->text() == "Clear") push->click();
    }
    EXPECT_EQ(log.tableView()->model()->rowCount(), 0);
}

TEST_F(Controller, QuittingAsksFirst) {
    start();
    int quits = 0;
    delegate->onQuit = [&quits] { ++quits; };
    tray().quitOverlay()->close();  // as Cancel does
    EXPECT_EQ(quits, 0);
    tray().quitOverlay()->defaultButton()->click();  // Quit
    EXPECT_EQ(quits, 1);
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
