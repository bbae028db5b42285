#pragma once
// Batches pin a series of accessibility requests to the application that was frontmost when the batch
// began, whatever comes to the front meanwhile.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "http/message.hpp"

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

// The batch id a begin or end body names: its "batch_id" string, else "default" (a body of another shape
// counts as empty).
std::string batchIdOfBody(const std::string& body);

boost::asio::awaitable<http::HTTPResponse> batchBegin(AXContext& context, const http::HTTPRequest& request);
boost::asio::awaitable<http::HTTPResponse> batchEnd(AXContext& context, const http::HTTPRequest& request);

}  // namespace pavo::agent
