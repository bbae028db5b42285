#pragma once
// The two servers frame HTTP the same way except for a handful of documented differences; those
// differences are this one value rather than two copies of the code.

#include <cstddef>
#include <optional>

namespace pavo::http {

enum class Flavour { agent, overlay };

struct Dialect {
    Flavour flavour = Flavour::agent;
    // A head (everything before CR LF CR LF) may grow to this size while it is waited for.
    std::size_t maxHeadBytes = 1'048'576;
    // A request line with fewer than two parts: the agent drops the connection, the overlay waits.
    bool malformedRequestLineIsError = true;
    // Parser errors: the agent drops the connection, the overlay keeps reading.
    bool closeOnParseError = true;
    // Write errors: the agent drops the connection, the overlay carries on to the keep-alive check.
    bool closeOnWriteError = true;
    // Serialising: the agent fills in Connection and Content-Length only where the producer did not;
    // the overlay always appends "Connection: keep-alive" and never adds a Content-Length.
    bool alwaysAppendKeepAlive = false;
    bool addContentLength = true;
    // Bytes a connection may hold unparsed before it is dropped (none: unlimited).
    std::optional<std::size_t> maxBufferedBytes;
};

inline constexpr Dialect agentDialect() {
    Dialect d;
    d.flavour = Flavour::agent;
    return d;
}

inline constexpr Dialect overlayDialect() {
    Dialect d;
    d.flavour = Flavour::overlay;
    d.malformedRequestLineIsError = false;
    d.closeOnParseError = false;
    d.closeOnWriteError = false;
    d.alwaysAppendKeepAlive = true;
    d.addContentLength = false;
    // Overlay events are small; without a bound a client that never completes a request (or keeps a
    // malformed one at the front) could grow the buffer for ever.
    d.maxBufferedBytes = 4 * d.maxHeadBytes;
    return d;
}

}  // namespace pavo::http
