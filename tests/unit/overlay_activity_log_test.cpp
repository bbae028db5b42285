// The activity log: capacity, filtering, clearing, and how the table shows entries.

#include <gtest/gtest.h>

#include "overlay/ui/activity_log_model.hpp"
#include "overlay/ui/activity_log_table.hpp"

namespace pavo::overlay {
namespace {

ActivityLogEntry entry(std::string tool, std::string result = "ok", std::optional<std::string> reason = {}) {
    return ActivityLogEntry{"2026-01-01T10:00:00Z", std::move(tool), "h", std::move(result), 12,
                            std::move(reason)};
}

std::vector<std::string> tools(const std::vector<ActivityLogEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.tool);
    return names;
}

TEST(ActivityLog, KeepsTheNewestHundred) {
    ActivityLogModel log;
    int changes = 0;
    log.onChange = [&changes] { ++changes; };
    for (int i = 1; i <= 150; ++i) {
        log.append(entry(std::to_string(i)));
        if (i == 101) {
            EXPECT_EQ(log.entries().front().tool, "2");
        }
    }
    EXPECT_EQ(log.entries().size(), 100u);
    EXPECT_EQ(log.entries().front().tool, "51");
    EXPECT_EQ(log.entries().back().tool, "150");
    EXPECT_EQ(changes, 150);
}

TEST(ActivityLog, FilterMatchesToolResultOrReasonInAnyCase) {
    ActivityLogModel log;
    log.append(entry("ax_click", "ok"));
    log.append(entry("ax_type", "err", "Timeout"));
    log.append(entry("LOOKup", "denied", "consent_denied"));
    log.append(entry("ocr", "OKAY"));
    log.append(entry("2026", "err"));  // a time stamp or hash never matches: only these three fields do
    const struct {
        const char* filter;
        std::vector<std::string> shown;
    } rows[] = {
        {"", {"ax_click", "ax_type", "LOOKup", "ocr", "2026"}},
        {"  OK \n", {"ax_click", "LOOKup", "ocr"}},
        {"timeout", {"ax_type"}},
        {"denied", {"LOOKup"}},
        {"ax_", {"ax_click", "ax_type"}},
        {"-01-", {}},
        {"h", {}},
        {"nothing", {}},
    };
    for (const auto& row : rows) {
        log.setFilter(row.filter);
        EXPECT_EQ(tools(log.filteredEntries()), row.shown) << '"' << row.filter << '"';
    }
}

TEST(ActivityLog, ClearEmptiesButKeepsTheFilter) {
    ActivityLogModel log;
    log.append(entry("click"));
    log.setFilter("type");
    log.clear();
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(log.filterText(), "type");
    log.append(entry("click"));
    log.append(entry("type"));
    EXPECT_EQ(tools(log.filteredEntries()), std::vector<std::string>{"type"});
}

TEST(ActivityLogTable, ShowsFiveColumnsWithColouredResults) {
    ActivityLogModel log;
    log.append(entry("click", "ok"));
    log.append(entry("type", "err", "no focus"));
    log.append(entry("run", "denied"));
    log.append(entry("find", "OK"));
    ActivityLogTable table(log);
    table.reload();
    ASSERT_EQ(table.rowCount(), 4);
    ASSERT_EQ(table.columnCount(), 5);
    QStringList titles;
    for (int c = 0; c < 5; ++c) titles << table.headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(titles, QStringList({"Time", "Tool", "Result", "Elapsed (ms)", "Reason"}));
    auto cell = [&table](int row, int column, int role = Qt::DisplayRole) {
        return table.data(table.index(row, column), role);
    };
    EXPECT_EQ(cell(1, ActivityLogTable::time).toString(), "2026-01-01T10:00:00Z");
    EXPECT_EQ(cell(1, ActivityLogTable::elapsed).toString(), "12");
    EXPECT_EQ(cell(1, ActivityLogTable::reason).toString(), "no focus");
    EXPECT_EQ(cell(0, ActivityLogTable::reason).toString(), "");

    const QColor green = cell(0, ActivityLogTable::result, Qt::ForegroundRole).value<QColor>();
    const QColor orange = cell(1, ActivityLogTable::result, Qt::ForegroundRole).value<QColor>();
    const QColor red = cell(2, ActivityLogTable::result, Qt::ForegroundRole).value<QColor>();
    EXPECT_GT(green.green(), green.red());
    EXPECT_GT(orange.red(), orange.blue());
    EXPECT_GT(orange.green(), red.green());
    EXPECT_GT(red.red(), red.green());
    EXPECT_FALSE(cell(3, ActivityLogTable::result, Qt::ForegroundRole).isValid());  // "OK" is not "ok"
    EXPECT_FALSE(cell(0, ActivityLogTable::tool, Qt::ForegroundRole).isValid());

    log.setFilter("type");
    table.reload();
    EXPECT_EQ(table.rowCount(), 1);
    EXPECT_FALSE(table.data(table.index(4, 0)).isValid());
}

}  // namespace
}  // namespace pavo::overlay
