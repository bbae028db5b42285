#include "overlay/ui/activity_log_table.hpp"

#include <array>

namespace pavo::overlay {

namespace {

struct ColumnLook {
    const char* identifier;
    const char* title;
    int width;
};

constexpr std::array<ColumnLook, ActivityLogTable::columns> kColumns{{
    {"time", "Time", 140},
    {"tool", "Tool", 180},
    {"result", "Result", 80},
    {"elapsed", "Elapsed (ms)", 90},
    {"reason", "Reason", 150},
}};

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

}  // namespace

ActivityLogTable::ActivityLogTable(ActivityLogModel& model, QObject* parent)
    : QAbstractTableModel(parent), model_(model), rows_(model.filteredEntries()) {}

int ActivityLogTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ActivityLogTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kColumns.size());
}

std::optional<QColor> ActivityLogTable::resultColor(const std::string& result) {
    if (result == "ok") return QColor(52, 199, 89);
    if (result == "err") return QColor(255, 149, 0);
    if (result == "denied") return QColor(255, 59, 48);
    return std::nullopt;
}

int ActivityLogTable::columnWidth(Column column) {
    return kColumns.at(column).width;
}

QString ActivityLogTable::columnIdentifier(Column column) {
    return QString::fromLatin1(kColumns.at(column).identifier);
}

QVariant ActivityLogTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const ActivityLogEntry& entry = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::ForegroundRole && index.column() == result) {
        if (auto color = resultColor(entry.result)) return *color;
        return {};
    }
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case time:
            return text(entry.ts);
        case tool:
            return text(entry.tool);
        case result:
            return text(entry.result);
        case elapsed:
            return QString::number(entry.elapsedMs);
        case reason:
            return text(entry.reason.value_or(""));
        default:
            return {};
    }
}

QVariant ActivityLogTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= columns) return {};
    return QString::fromLatin1(kColumns[static_cast<std::size_t>(section)].title);
}

void ActivityLogTable::reload() {
    beginResetModel();
    rows_ = model_.filteredEntries();
    endResetModel();
}

}  // namespace pavo::overlay
