// The controller's consent duties with a real Qt application (offscreen): prompts posted over HTTP open
// the dialog, and the operator's answer is what "/consent/<id>" reports.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "overlay/ui/consent_dialog.hpp"
#include "overlay/ui/controller.hpp"
#include "tcp_client.hpp"

namespace pavo::overlay {
namespace {

using nlohmann::json;
using pavo::testing::bodyOf;
using pavo::testing::statusOf;

const std::string kAuth = "x-overlay-token: T\r\n";

class ConsentFlow : public ::testing::Test {
  protected:
    void start(ConsentMode mode) {
        consent = std::make_unique<ConsentManager>(mode);
        CLIConfig config;
        config.port = 0;
        config.token = "T";
        config.consent = mode;
        delegate = std::make_unique<OverlayAppDelegate>(config, *consent);
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(delegate->serverPort());
        port = *delegate->serverPort();
    }
    void TearDown() override {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(widget)) widget->close();
        }
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string prompt(const std::string& id, const std::string& action) {
        return post({{"type", "destructive_prompt"}, {"id", id}, {"action", action}, {"target", "e1"}});
    }
    std::string post(const json& event) {
        return pavo::testing::request(port, "POST", "/event", event.dump(), kAuth);
    }
    std::string consentFor(const std::string& id) {
        return pavo::testing::request(port, "GET", "/consent/" + id, "", kAuth);
    }

    static QMessageBox* openDialog() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }
    static QMessageBox* waitForDialog() {
        (void)QTest::qWaitFor([] { return openDialog() != nullptr; }, 5000);
        return openDialog();
    }
    static QPushButton* button(QMessageBox* box, const QString& text) {
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == text) return qobject_cast<QPushButton*>(b);
        }
        return nullptr;
    }
    bool waitForAnswer(const std::string& id) {
        return QTest::qWaitFor([&] { return consent->resolution(id).has_value(); }, 5000);
    }

    std::unique_ptr<ConsentManager> consent;
    std::unique_ptr<OverlayAppDelegate> delegate;
    std::uint16_t port = 0;
};

TEST_F(ConsentFlow, AllowIsReportedAsGranted) {
    start(ConsentMode::off);
    EXPECT_EQ(statusOf(prompt("p-allow", "click")), 200);
    QMessageBox* box = waitForDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Destructive Action");
    EXPECT_EQ(box->informativeText(), "The agent wants to perform: click\n\nAllow this action?");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->buttons().size(), 2);
    QPushButton* allow = button(box, "Allow");
    ASSERT_NE(allow, nullptr);
    ASSERT_NE(button(box, "Deny"), nullptr);
    EXPECT_EQ(box->defaultButton(), allow);

    EXPECT_EQ(bodyOf(consentFor("p-allow")), R"({"blocked":true,"reason":"consent_pending"})");
    QTest::mouseClick(allow, Qt::LeftButton);
    ASSERT_TRUE(waitForAnswer("p-allow"));
    auto reply = consentFor("p-allow");
    EXPECT_EQ(statusOf(reply), 200);
    EXPECT_EQ(json::parse(bodyOf(reply)), (json{{"consent", "granted"}}));
}

TEST_F(ConsentFlow, DenyAndDismissalAreReportedAsConsentDenied) {
    start(ConsentMode::destructive_only);
    prompt("p-deny", "delete everything");
    QMessageBox* box = waitForDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->informativeText(), "The agent wants to perform: delete everything\n\nAllow this action?");
    QTest::mouseClick(button(box, "Deny"), Qt::LeftButton);
    ASSERT_TRUE(waitForAnswer("p-deny"));
    auto reply = consentFor("p-deny");
    EXPECT_EQ(statusOf(reply), 423);
    EXPECT_EQ(json::parse(bodyOf(reply)), (json{{"blocked", true}, {"reason", "consent_denied"}}));

    prompt("p-escape", "type");
    box = waitForDialog();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Escape);
    ASSERT_TRUE(waitForAnswer("p-escape"));
    EXPECT_EQ(consent->resolution("p-escape"), (Resolution{false, "consent_denied"}));
}

TEST_F(ConsentFlow, ReturnPressesTheDefaultAllow) {
    start(ConsentMode::off);
    prompt("p-return", "scroll");
    QMessageBox* box = waitForDialog();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_TRUE(waitForAnswer("p-return"));
    EXPECT_EQ(statusOf(consentFor("p-return")), 200);
}

TEST_F(ConsentFlow, AnAnswerGivenAfterTheControllerIsGoneIsStillStored) {
    start(ConsentMode::off);
    prompt("p-late", "click");
    QMessageBox* box = waitForDialog();
    ASSERT_NE(box, nullptr);
    delegate.reset();
    QTest::mouseClick(button(box, "Allow"), Qt::LeftButton);
    ASSERT_TRUE(waitForAnswer("p-late"));
    EXPECT_EQ(consent->resolution("p-late"), (Resolution{true, std::nullopt}));
}

TEST_F(ConsentFlow, NoDialogWhileBlocked) {
    start(ConsentMode::off);
    consent->setOperatorMode(OperatorMode::block);
    EXPECT_EQ(statusOf(prompt("p-blocked", "click")), 423);
    // The event was queued before the reply; let the controller handle it while still blocked.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(openDialog(), nullptr);
    consent->setOperatorMode(OperatorMode::allow);
    // A later prompt opens a dialog; it is the only one, and it is for the later prompt.
    prompt("p-later", "second");
    QMessageBox* box = waitForDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->informativeText(), "The agent wants to perform: second\n\nAllow this action?");
    box->close();
    ASSERT_TRUE(waitForAnswer("p-later"));
    EXPECT_EQ(openDialog(), nullptr);
    EXPECT_EQ(json::parse(bodyOf(consentFor("p-blocked")))["reason"], "circuit_breaker_open");
}

TEST_F(ConsentFlow, APreparedDestructiveActionPausesUntilTheOperatorChooses) {
    start(ConsentMode::destructive_only);
    EXPECT_EQ(statusOf(post({{"type", "destructive_prepare"}, {"action", "click"}})), 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return consent->isPaused(); }, 5000));
    auto refused = post({{"type", "cursor_move"}, {"x", 1}, {"y", 2}});
    EXPECT_EQ(json::parse(bodyOf(refused)), (json{{"blocked", true}, {"reason", "agent_paused"}}));

    consent->setOperatorMode(OperatorMode::requireApproval);  // what the menu will do
    EXPECT_EQ(statusOf(post({{"type", "cursor_move"}, {"x", 1}, {"y", 2}})), 200);
}

TEST_F(ConsentFlow, WithConsentOffAPreparedActionDoesNotPause) {
    start(ConsentMode::off);
    post({{"type", "destructive_prepare"}, {"action", "click"}});
    post({{"type", "agent_state"}, {"state", "active"}, {"client_id", "marker"}});
    // Events are handled in order, so once the marker is registered the prepare was handled too.
    ASSERT_TRUE(QTest::qWaitFor([&] { return consent->activeClientCount() == 1; }, 5000));
    EXPECT_FALSE(consent->isPaused());
    post({{"type", "agent_state"}, {"state", "idle"}, {"client_id", "marker"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return consent->activeClientCount() == 0; }, 5000));
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
