// Feeds arbitrary bytes to every decoder of the agent's request bodies: a body from any local process must
// never crash the agent, and a decoded record must hold what its decoder promises.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/ax/ax_requests.hpp"

namespace {

using namespace pavo::agent;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    if (auto tree = decodeAXTreeRequest(body); !tree) check(tree.error().code == ErrorCode::badRequest);
    if (auto query = decodeAXQuery(body); !query) check(!query.error().message.empty());
    if (auto click = decodeAXClickRequest(body); click) check(size >= 2 + click->elementId.size());
    if (auto type = decodeAXTypeRequest(body); type) check(size >= 2 + type->text.size());
    if (auto scroll = decodeAXScrollRequest(body); scroll) check(size >= 2 + scroll->direction.size());
    check(!batchIdOfBody(body).empty() || body.find("\"\"") != std::string_view::npos);
    return 0;
}
