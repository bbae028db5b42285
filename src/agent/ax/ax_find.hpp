#pragma once
// Element search over a tree snapshot by role, label, identifier and a regular expression on the value.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/ax/ax_element.hpp"
#include "agent/ax/ax_requests.hpp"
#include "agent/server/agent_error.hpp"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace pavo::agent {

struct AXContext;

inline constexpr std::int64_t kDefaultMaxResults = 10;

// A query ready to test elements: its regular expression is compiled once, not once per element.
class CompiledQuery {
  public:
    explicit CompiledQuery(const AXQuery& query);
    ~CompiledQuery();
    CompiledQuery(const CompiledQuery&) = delete;
    CompiledQuery& operator=(const CompiledQuery&) = delete;

    // All filters the query carries pass, tested in the order role, label, identifier, value.
    bool matches(const AXElementInfo& element) const;

  private:
    bool valueMatches(const std::string& value) const;

    AXQuery query_;
    std::unique_ptr<U_ICU_NAMESPACE::RegexPattern> pattern_;  // null when absent or not compilable
};

// Depth-first pre-order: an element that passes is added before its children are searched, so a match can
// contain a later match. True once `max` matches are held (tested after adding, so 0 still yields one).
bool collectMatches(const AXElementInfo& element, const CompiledQuery& query, std::int64_t max,
                    std::vector<const AXElementInfo*>& matches);

// {"matches": [...]} as compact JSON (up to the query's maxResults, default 10), or the snapshot's failure.
boost::asio::awaitable<Result<std::string>> axFind(AXContext& context, const AXQuery& query);

}  // namespace pavo::agent
