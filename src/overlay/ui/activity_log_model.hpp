#pragma once
// The most recent audited tool calls, in memory only, with a filter. Plain data: no window needed.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pavo::overlay {

struct ActivityLogEntry {
    std::string ts;  // the client's time stamp, shown as it came
    std::string tool;
    std::string argsHash;  // kept, neither shown nor searched
    std::string result;
    std::int64_t elapsedMs = 0;
    std::optional<std::string> reason;
    bool operator==(const ActivityLogEntry&) const = default;
};

class ActivityLogModel {
  public:
    static constexpr std::size_t maxEntries = 100;

    // Keeps the newest 100.
    void append(ActivityLogEntry entry);
    // Trimmed and lower-cased; empty shows everything.
    void setFilter(std::string_view text);
    // Empties the log; the filter stays.
    void clear();

    const std::deque<ActivityLogEntry>& entries() const { return entries_; }
    const std::string& filterText() const { return filterText_; }
    // Oldest first: the entries whose tool, result or reason contains the filter, in any letter case.
    std::vector<ActivityLogEntry> filteredEntries() const;

    // After every change of the entries or the filter.
    std::function<void()> onChange;

  private:
    bool passes(const ActivityLogEntry& entry) const;
    void changed() const;

    std::deque<ActivityLogEntry> entries_;
    std::string filterText_;
};

}  // namespace pavo::overlay
