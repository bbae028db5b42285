#include "overlay/ui/menu_bar_indicator.hpp"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QSystemTrayIcon>

#include <cmath>

#include "overlay/ui/activity_log_window.hpp"
#include "overlay/visuals/desktop_appearance.hpp"

namespace pavo::overlay {

namespace {

constexpr int kIconSize = 64;
constexpr int kAlphaSteps = 20;  // the icon changes only when its opacity moves by a visible step

QPixmap drawIcon(IndicatorSymbol symbol, const QColor& color, double opacity) {
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const QRectF disc(kIconSize * 0.1, kIconSize * 0.1, kIconSize * 0.8, kIconSize * 0.8);
    painter.drawEllipse(disc);
    if (symbol == IndicatorSymbol::pauseCircleFill) {
        // Two bars cut out of the disc.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        const double barWidth = kIconSize * 0.1;
        const double barHeight = kIconSize * 0.36;
        const double top = (kIconSize - barHeight) / 2;
        painter.drawRect(QRectF(kIconSize * 0.5 - barWidth * 1.5, top, barWidth, barHeight));
        painter.drawRect(QRectF(kIconSize * 0.5 + barWidth * 0.5, top, barWidth, barHeight));
    }
    return pixmap;
}

}  // namespace

MenuBarIndicator::MenuBarIndicator(Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), animator_(clock) {
    statusItem_ = new QSystemTrayIcon(this);
    frameTimer_.setInterval(50);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { redrawIcon(); });
    animator_.onTween = [this] {
        redrawIcon();
        if (!frameTimer_.isActive()) frameTimer_.start();
    };
    setState(State::idle);
    buildMenu();
    // A click opens the menu, as a status item does; the context menu comes up by itself.
    connect(statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
    });
    statusItem_->show();
}

MenuBarIndicator::~MenuBarIndicator() {
    delete menu_;
}

void MenuBarIndicator::setState(State state) {
    currentState_ = state;
    shownAlpha_ = -1;
    animator_.show(indicatorLook(state));
    redrawIcon();
}

void MenuBarIndicator::redrawIcon() {
    const double now = clock_.now();
    if (!animator_.tweening(now)) frameTimer_.stop();
    const int alpha = static_cast<int>(std::lround(animator_.opacity(now) * kAlphaSteps));
    if (alpha == shownAlpha_) return;
    shownAlpha_ = alpha;
    const IndicatorLook look = indicatorLook(currentState_);
    const QColor color = look.tinted ? systemRed() : QGuiApplication::palette().color(QPalette::WindowText);
    statusItem_->setIcon(QIcon(drawIcon(look.symbol, color, double(alpha) / kAlphaSteps)));
    statusItem_->setToolTip(
        QString::fromUtf8(look.description.data(), static_cast<qsizetype>(look.description.size())));
}

QAction* MenuBarIndicator::addModeItem(const char* title, Qt::Key key, const char* toolTip,
                                       std::function<void()> action) {
    QAction* item = menu_->addAction(QString::fromUtf8(title));
    item->setCheckable(true);
    // Command-letter on a menu bar; Control-letter here, live while the menu is open.
    item->setShortcut(QKeySequence(Qt::CTRL | key));
    item->setShortcutVisibleInContextMenu(true);
    item->setToolTip(QString::fromUtf8(toolTip));
    // Checkmarks follow the controller's report, never the click itself.
    connect(item, &QAction::triggered, this, [this, action = std::move(action)] {
        refreshMenuCheckmarks();
        action();
    });
    return item;
}

void MenuBarIndicator::buildMenu() {
    menu_ = new QMenu();
    menu_->setToolTipsVisible(true);
    menu_->addAction(QStringLiteral("Pavo Safety"))->setEnabled(false);
    blockItem = addModeItem("Block Agents", Qt::Key_B,
                            "Stop all agent-initiated mouse, keyboard, AppleScript, and Shortcuts actions. "
                            "Read-only observation continues.",
                            [this] {
                                if (onSetOperatorMode) onSetOperatorMode(OperatorMode::block);
                            });
    allowItem = addModeItem(
        "Allow Agents", Qt::Key_A,
        "Pass mutations through without consent. Use only when you trust the active agent fully.", [this] {
            if (onSetOperatorMode) onSetOperatorMode(OperatorMode::allow);
        });
    allow15Item = addModeItem(kAllow15Title, Qt::Key_1,
                              "Allow agent mutations for 15 minutes, then auto-revert to Require Approval. "
                              "Activity Log still records everything.",
                              [this] {
                                  if (onSetAllowWithExpiry) onSetAllowWithExpiry(900);
                              });
    allow60Item = addModeItem(kAllow60Title, Qt::Key_6,
                              "Allow agent mutations for 60 minutes, then auto-revert to Require Approval. "
                              "Activity Log still records everything.",
                              [this] {
                                  if (onSetAllowWithExpiry) onSetAllowWithExpiry(3600);
                              });
    requireApprovalItem =
        addModeItem("Require Approval", Qt::Key_R,
                    "Default safe mode: every destructive action shows the consent UI.", [this] {
                        if (onSetOperatorMode) onSetOperatorMode(OperatorMode::requireApproval);
                    });
    menu_->addSeparator();
    openLogItem = menu_->addAction(QStringLiteral("Open Activity Log"));
    connect(openLogItem, &QAction::triggered, this, [this] {
        if (activityLogWindowController) activityLogWindowController->showWindow();
    });
    quitItem = menu_->addAction(QStringLiteral("Quit Overlay\u2026"));
    quitItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitItem->setShortcutVisibleInContextMenu(true);
    connect(quitItem, &QAction::triggered, this, [this] { quitOverlay(); });
    statusItem_->setContextMenu(menu_);
    refreshMenuCheckmarks();
}

void MenuBarIndicator::refreshMenuCheckmarks() {
    const ModeMenuState state = modeMenuState(currentOperatorMode, allowExpiryDate, clock_.now());
    blockItem->setChecked(state.blockOn);
    allowItem->setChecked(state.allowOn);
    requireApprovalItem->setChecked(state.requireApprovalOn);
    allow15Item->setChecked(state.allow15On);
    allow15Item->setText(QString::fromStdString(state.allow15Title));
    allow60Item->setChecked(state.allow60On);
    allow60Item->setText(QString::fromStdString(state.allow60Title));
}

QMessageBox* MenuBarIndicator::quitOverlay() {
    auto* box = new QMessageBox();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("pavo-overlay"));
    box->setText(QStringLiteral("Quit Pavo Overlay?"));
    box->setInformativeText(QStringLiteral(
        "Quitting stops the visual consent UI. Mutation-capable agent tools will fail closed for any client "
        "until the overlay is restarted."));
    QPushButton* quit = box->addButton(QStringLiteral("Quit"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(quit);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    QPointer<MenuBarIndicator> self(this);
    connect(box, &QMessageBox::finished, box, [self, box, quit](int) {
        if (self && box->clickedButton() == quit && self->onQuitAction) self->onQuitAction();
    });
    box->open();
    box->raise();
    box->activateWindow();
    return box;
}

}  // namespace pavo::overlay
