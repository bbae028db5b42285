#pragma once
// Tree snapshots for requests: which application to walk, and the cache in front of the walk.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "agent/server/agent_error.hpp"

namespace pavo::agent {

struct AXContext;
class AXSnapshot;

struct AXTreeResult {
    std::shared_ptr<const AXSnapshot> snapshot;
    bool cached = false;
};

// The snapshot of a root pid, else a known batch's process, else the frontmost application, from the cache
// when fresh; "could_not_get_frontmost_app" when none of them names one. On the desktop's thread, with the
// request's one answer as to which application is in front.
Result<AXTreeResult> axTreeDataOnDesktop(AXContext& context, std::optional<std::int32_t> rootPid,
                                         std::optional<std::int32_t> batchPid,
                                         std::optional<std::int32_t> frontmost);

// As above, after the permission check ("ax_permission_missing") and asking for the frontmost application.
// With `withBody`, the snapshot's reply body is made on the desktop's thread too: serialising a large tree
// must not stall the I/O thread.
boost::asio::awaitable<Result<AXTreeResult>> axTreeData(AXContext& context,
                                                        std::optional<std::int32_t> rootPid,
                                                        std::optional<std::string> batchId,
                                                        bool withBody = false);

}  // namespace pavo::agent
