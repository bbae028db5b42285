#include "agent/ax/ax_find.hpp"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "agent/ax/ax_context.hpp"
#include "agent/ax/ax_tree_cache.hpp"
#include "agent/ax/ax_tree_data.hpp"
#include "agent/server/on_desktop.hpp"

namespace pavo::agent {

namespace {

// Bounds runaway backtracking per element (ICU's steps are roughly milliseconds): a hostile pattern then
// fails to match instead of holding the desktop thread.
constexpr std::int32_t kRegexStepLimit = 200;

bool containsLiterally(const std::optional<std::string>& text, const std::string& filter) {
    return text && !filter.empty() && text->find(filter) != std::string::npos;
}

}  // namespace

CompiledQuery::CompiledQuery(const AXQuery& query) : query_(query) {
    if (!query.valueRegex) return;
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    pattern_.reset(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(*query.valueRegex), 0, where, status));
    if (U_FAILURE(status)) pattern_.reset();
}

CompiledQuery::~CompiledQuery() = default;

bool CompiledQuery::valueMatches(const std::string& value) const {
    if (!pattern_) return false;
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(value);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(text, status));
    if (U_FAILURE(status) || !matcher) return false;
    matcher->setTimeLimit(kRegexStepLimit, status);
    const bool found = matcher->find(status);
    return U_SUCCESS(status) && found;
}

bool CompiledQuery::matches(const AXElementInfo& element) const {
    if (query_.role && element.role != *query_.role) return false;
    if (query_.label && !containsLiterally(element.label, *query_.label)) return false;
    if (query_.identifier && !containsLiterally(element.identifier, *query_.identifier)) return false;
    if (query_.valueRegex && (!element.value || !valueMatches(*element.value))) return false;
    return true;
}

bool collectMatches(const AXElementInfo& element, const CompiledQuery& query, std::int64_t max,
                    std::vector<const AXElementInfo*>& matches) {
    if (query.matches(element)) {
        matches.push_back(&element);
        if (static_cast<std::int64_t>(matches.size()) >= max) return true;
    }
    if (!element.children) return false;
    for (const auto& child : *element.children) {
        if (collectMatches(child, query, max, matches)) return true;
    }
    return false;
}

boost::asio::awaitable<Result<std::string>> axFind(AXContext& context, const AXQuery& query) {
    auto tree = co_await axTreeData(context, std::nullopt, query.batchId);
    if (!tree) co_return tree.error();
    // Searching and serialising a large snapshot is work too: it stays off the I/O thread. The lambda may
    // refer to this frame, which waits for it.
    co_return co_await onDesktop(context.desktop, [&query, &tree] {
        const CompiledQuery compiled(query);
        std::vector<const AXElementInfo*> matches;
        collectMatches(tree->snapshot->root(), compiled, query.maxResults.value_or(kDefaultMaxResults),
                       matches);
        std::string body = "{\"matches\":[";
        for (std::size_t i = 0; i < matches.size(); ++i) {
            if (i > 0) body += ',';
            appendJson(body, *matches[i]);
        }
        body += "]}";
        return body;
    });
}

}  // namespace pavo::agent
