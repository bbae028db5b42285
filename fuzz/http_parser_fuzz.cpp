// Feeds arbitrary bytes to the request parser in both dialects, whole and in two pieces, and checks the
// invariants the connection loop relies on.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "http/parser.hpp"

namespace {

using namespace pavo::http;

void check(bool condition) {
    if (!condition) std::abort();
}

void parseAll(std::string_view bytes, const Dialect& dialect) {
    // Drain the buffer the way the connection loop does: repeated complete requests, then stop.
    std::string_view rest = bytes;
    for (int guard = 0; guard < 1000; ++guard) {
        const ParseResult r = parseRequest(rest, dialect);
        if (r.status != ParseStatus::complete) break;
        check(r.consumed > 0 && r.consumed <= rest.size());
        check(r.request.body.size() <= r.consumed);
        for (const auto& [name, value] : r.request.headers) {
            check(name.find("\r\n") == std::string::npos && value.find("\r\n") == std::string::npos);
        }
        rest.remove_prefix(r.consumed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const Dialect& dialect : {agentDialect(), overlayDialect()}) {
        parseAll(bytes, dialect);
        // A prefix never completes a request the whole buffer would frame differently.
        const ParseResult whole = parseRequest(bytes, dialect);
        const ParseResult prefix = parseRequest(bytes.substr(0, size / 2), dialect);
        if (prefix.status == ParseStatus::complete) {
            check(whole.status == ParseStatus::complete && whole.consumed == prefix.consumed);
        }
    }
    return 0;
}
