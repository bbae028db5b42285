#include "overlay/ui/activity_log_window.hpp"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QVBoxLayout>
#include <QWidget>

#include "overlay/ui/activity_log_model.hpp"
#include "overlay/ui/activity_log_table.hpp"

namespace pavo::overlay {

ActivityLogWindowController::ActivityLogWindowController(ActivityLogModel& model, QObject* parent)
    : QObject(parent), model_(model) {
    QPointer<ActivityLogWindowController> self(this);
    model_.onChange = [self] {
        if (self) self->reload();
    };
}

ActivityLogWindowController::~ActivityLogWindowController() {
    model_.onChange = nullptr;
    delete window_;
}

QWidget* ActivityLogWindowController::window() const {
    return window_;
}

QTableView* ActivityLogWindowController::tableView() const {
    return tableView_;
}

QLineEdit* ActivityLogWindowController::searchField() const {
    return searchField_;
}

void ActivityLogWindowController::reload() {
    if (!table_ || !tableView_) return;
    table_->reload();
    if (table_->rowCount() > 0) tableView_->scrollTo(table_->index(table_->rowCount() - 1, 0));
}

void ActivityLogWindowController::showWindow() {
    if (!window_) build();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void ActivityLogWindowController::build() {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);  // closing forgets it; the next showWindow builds afresh
    window->setWindowTitle(QStringLiteral("Pavo Activity Log"));
    window->resize(640, 400);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window->move(screen->availableGeometry().center() - window->rect().center());
    }

    auto* search = new QLineEdit(window);
    search->setPlaceholderText(QStringLiteral("Filter by tool, result, or reason"));
    search->setClearButtonEnabled(true);
    auto* clear = new QPushButton(QStringLiteral("Clear"), window);
    auto* topBar = new QHBoxLayout();
    topBar->setSpacing(8);
    topBar->setContentsMargins(12, 8, 12, 8);
    topBar->addWidget(search);
    topBar->addWidget(clear);

    auto* table = new ActivityLogTable(model_, window);
    auto* view = new QTableView(window);
    view->setModel(table);
    view->setAlternatingRowColors(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->verticalHeader()->hide();
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (int column = 0; column < ActivityLogTable::columns; ++column) {
        view->setColumnWidth(column,
                             ActivityLogTable::columnWidth(static_cast<ActivityLogTable::Column>(column)));
    }
    view->horizontalHeader()->setStretchLastSection(true);

    auto* layout = new QVBoxLayout(window);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(topBar);
    layout->addWidget(view);

    connect(search, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.setFilter(text.toStdString()); });
    connect(clear, &QPushButton::clicked, this, [this] { model_.clear(); });

    window_ = window;
    tableView_ = view;
    searchField_ = search;
    table_ = table;
    reload();
}

}  // namespace pavo::overlay
