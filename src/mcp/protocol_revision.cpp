#include "mcp/protocol_revision.hpp"

#include <algorithm>

namespace pavo::mcp {

std::string negotiateRevision(std::string_view requested) {
    const bool supported = std::find(kSupportedRevisions.begin(), kSupportedRevisions.end(), requested) !=
                           kSupportedRevisions.end();
    return std::string(supported ? requested : kSupportedRevisions.front());
}

RevisionRules rulesFor(std::string_view revision) {
    RevisionRules rules;
    rules.argumentErrorsAsToolResults = revision >= "2025-11-25";
    rules.batches = false;
    return rules;
}

}  // namespace pavo::mcp
