#include "overlay/ui/activity_log_model.hpp"

#include "common/text.hpp"

namespace pavo::overlay {

namespace {

// Audit records arrive as decoded JSON and filters from the text field, both valid UTF-8; anything else
// is compared as it is rather than risk the lower-casing.
std::string lowered(std::string_view text) {
    return common::isValidUtf8(text) ? common::toLower(text) : std::string(text);
}

bool contains(std::string_view text, const std::string& needle) {
    return lowered(text).find(needle) != std::string::npos;
}

}  // namespace

void ActivityLogModel::changed() const {
    if (onChange) onChange();
}

void ActivityLogModel::append(ActivityLogEntry entry) {
    entries_.push_back(std::move(entry));
    while (entries_.size() > maxEntries) entries_.pop_front();
    changed();
}

void ActivityLogModel::setFilter(std::string_view text) {
    filterText_ = lowered(common::trimWhitespaceAndNewlines(text));
    changed();
}

void ActivityLogModel::clear() {
    entries_.clear();
    changed();
}

bool ActivityLogModel::passes(const ActivityLogEntry& entry) const {
    if (filterText_.empty()) return true;
    return contains(entry.tool, filterText_) || contains(entry.result, filterText_) ||
           contains(entry.reason.value_or(""), filterText_);
}

std::vector<ActivityLogEntry> ActivityLogModel::filteredEntries() const {
    std::vector<ActivityLogEntry> shown;
    for (const auto& entry : entries_) {
        if (passes(entry)) shown.push_back(entry);
    }
    return shown;
}

}  // namespace pavo::overlay
