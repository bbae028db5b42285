#pragma once
// Batches pin a series of accessibility requests to the application that was frontmost when the batch
// began, whatever comes to the front meanwhile.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "agent/server/agent_error.hpp"

namespace pavo::agent {

struct AXContext;

class BatchManager {
  public:
    // Creates or moves the batch.
    void begin(const std::string& batchId, std::int32_t pid);
    // Forgets the batch; an unknown id is no error.
    void end(const std::string& batchId);
    std::optional<std::int32_t> pid(const std::string& batchId) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::int32_t> pids_;
};

// Pins the batch to the application in front now: its id, or the permission or frontmost failure.
boost::asio::awaitable<Result<std::string>> batchBegin(AXContext& context, std::string batchId);

}  // namespace pavo::agent
