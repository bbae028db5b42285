#pragma once
// Element search over a tree snapshot by role, label, identifier and a regular expression on the value.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/ax_element.hpp"
#include "http/message.hpp"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace pavo::agent {

struct AXContext;

struct AXQuery {
    std::optional<std::string> role = std::nullopt;
    std::optional<std::string> label = std::nullopt;
    std::optional<std::string> identifier = std::nullopt;
    std::optional<std::string> valueRegex = std::nullopt;
    std::optional<std::int64_t> maxResults = std::nullopt;
    std::optional<std::string> batchId = std::nullopt;  // "batch_id"
};

inline constexpr std::int64_t kDefaultMaxResults = 10;

// Every key is optional and null counts as absent; unknown keys are ignored. Throws std::invalid_argument
// with a readable description when the body is not such an object.
AXQuery decodeAXQuery(std::string_view body);

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

// 200 {"matches": [...]}, or the snapshot's error reply.
boost::asio::awaitable<http::HTTPResponse> axFind(AXContext& context, AXQuery query,
                                                  std::optional<std::string> batchId);

}  // namespace pavo::agent
