#pragma once
// The overlay's tray icon: its look tells the operator what the agent does; its menu is where the
// operator chooses the operator mode, opens the activity log and quits. It changes nothing itself:
// choices leave through the callbacks, and the controller reports back the state and mode to show.

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

#include "overlay/service/consent_manager.hpp"
#include "overlay/ui/indicator_animator.hpp"
#include "overlay/ui/mode_menu.hpp"

class QAction;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;

namespace pavo::overlay {

class ActivityLogWindowController;

class MenuBarIndicator : public QObject {
  public:
    using State = IndicatorState;

    explicit MenuBarIndicator(Clock& clock, QObject* parent = nullptr);
    ~MenuBarIndicator() override;

    void setState(State state);
    State currentState() const { return currentState_; }
    // Recomputes the mode items' checkmarks and titles from the two fields below.
    void refreshMenuCheckmarks();

    OperatorMode currentOperatorMode = OperatorMode::requireApproval;
    std::optional<double> allowExpiryDate;  // a time of the indicator's clock

    std::function<void(OperatorMode)> onSetOperatorMode;
    std::function<void(double seconds)> onSetAllowWithExpiry;
    std::function<void()> onQuitAction;
    QPointer<ActivityLogWindowController> activityLogWindowController;

    QSystemTrayIcon& statusItem() const { return *statusItem_; }
    QMenu& menu() const { return *menu_; }
    QAction* blockItem = nullptr;
    QAction* allowItem = nullptr;
    QAction* allow15Item = nullptr;
    QAction* allow60Item = nullptr;
    QAction* requireApprovalItem = nullptr;
    QAction* openLogItem = nullptr;
    QAction* quitItem = nullptr;

    const IndicatorAnimator& animator() const { return animator_; }
    // Asks before quitting; only "Quit" calls onQuitAction.
    QMessageBox* quitOverlay();

  private:
    void buildMenu();
    QAction* addModeItem(const char* title, Qt::Key key, const char* toolTip, std::function<void()> action);
    void redrawIcon();

    Clock& clock_;
    State currentState_ = State::idle;
    IndicatorAnimator animator_;
    QSystemTrayIcon* statusItem_ = nullptr;
    QMenu* menu_ = nullptr;
    QTimer frameTimer_;
    int shownAlpha_ = -1;
};

}  // namespace pavo::overlay
