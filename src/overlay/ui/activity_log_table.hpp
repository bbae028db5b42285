#pragma once
// The activity log as a five-column table for a view: time, tool, result (coloured), elapsed, reason.
// It shows the model's filtered entries and follows every change of the model.

#include <QAbstractTableModel>
#include <QColor>

#include <vector>

#include "overlay/ui/activity_log_model.hpp"

namespace pavo::overlay {

class ActivityLogTable : public QAbstractTableModel {
  public:
    enum Column { time, tool, result, elapsed, reason };
    static constexpr int columns = 5;

    explicit ActivityLogTable(ActivityLogModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Re-reads the model's filtered entries.
    void reload();

    // "ok" green, "err" orange, "denied" red (exact, case-sensitive); anything else the label colour.
    static std::optional<QColor> resultColor(const std::string& result);
    static int columnWidth(Column column);
    static QString columnIdentifier(Column column);

  private:
    ActivityLogModel& model_;
    std::vector<ActivityLogEntry> rows_;
};

}  // namespace pavo::overlay
