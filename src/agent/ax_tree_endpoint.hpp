#pragma once
// Tree snapshots for requests: which application to walk, the cache in front of the walk, the tree
// reply, and the error replies every snapshot user shares.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "http/message.hpp"

namespace pavo::agent {

struct AXContext;
class AXSnapshot;

struct AXTreeResult {
    std::shared_ptr<const AXSnapshot> snapshot;
    bool cached = false;
};

// The snapshot for a root pid (else a known batch's process, else the frontmost application), from the
// cache when fresh. Throws HTTPError unauthorized without permission, invalidRequest without a frontmost
// application. Must run on the desktop's executor; axTreeData below takes it there.
AXTreeResult axTreeDataOnDesktop(AXContext& context, std::optional<std::int32_t> rootPid,
                                 const std::optional<std::string>& batchId);

boost::asio::awaitable<AXTreeResult> axTreeData(AXContext& context, std::optional<std::int32_t> rootPid,
                                                std::optional<std::string> batchId);

// 200 {"tree": ...} with "X-Pavo-Cache" HIT or MISS, or an error reply.
boost::asio::awaitable<http::HTTPResponse> axTree(AXContext& context, std::optional<std::int32_t> rootPid,
                                                  std::optional<std::string> batchId);

// The reply for a failure of axTreeData.
http::HTTPResponse axTreeErrorResponse(std::exception_ptr error, const std::string& permissionHint);

// An action changed the screen; snapshots taken before it are never served after this returns.
void axBumpChangeCounter(AXContext& context);

}  // namespace pavo::agent
