#include "mcp/audit_record.hpp"

#include <cstdio>

#include "common/sha256.hpp"

namespace pavo::mcp {

using nlohmann::json;

std::string argumentsHash(const json& arguments, const std::string& salt) {
    // nlohmann writes object keys sorted, so equal arguments hash equally whatever order they came in.
    return common::sha256Hex(salt + arguments.dump(-1, ' ', false, json::error_handler_t::replace));
}

std::string utcTimestamp(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    const auto millis = floor<milliseconds>(at);
    const auto day = floor<days>(millis);
    const year_month_day date{day};
    const hh_mm_ss time{millis - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%03ldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()), static_cast<long>(time.subseconds().count()));
    return text;
}

json auditEvent(const std::string& tool, const json& arguments, const std::string& salt,
                std::chrono::system_clock::time_point at, std::int64_t elapsedMs,
                const CallOutcome& outcome) {
    json event{{"type", "audit_log"},
               {"ts", utcTimestamp(at)},
               {"tool", tool},
               {"args_hash", argumentsHash(arguments, salt)},
               {"result", outcome.result},
               {"elapsed_ms", elapsedMs}};
    if (!outcome.reason.empty()) event["reason"] = outcome.reason;
    return event;
}

}  // namespace pavo::mcp
