#pragma once
// Answers like pavo-overlay's event server, on the project's own listener and the test's io_context, and
// records every request it receives. Consent polls answer "pending" unless a test says otherwise.

#include <boost/asio/io_context.hpp>
#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "http/message.hpp"
#include "http/server.hpp"

namespace pavo::testing {

struct SeenRequest {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers;
    std::string body;
};

http::HTTPResponse overlayReply(int status, const nlohmann::json& body);
http::HTTPResponse consentPending();
http::HTTPResponse consentGranted();

class StandInOverlay {
  public:
    explicit StandInOverlay(boost::asio::io_context& io);

    std::uint16_t port() const { return listener_.port(); }

    std::vector<SeenRequest> events() const { return only("/event"); }
    std::vector<SeenRequest> consentPolls() const { return only("/consent/"); }

    // The answer to the n-th poll (from 1) for a prompt id.
    std::function<http::HTTPResponse(const std::string& id, int poll)> consent = [](const std::string&, int) {
        return consentPending();
    };
    std::vector<SeenRequest> seen;
    std::map<std::string, int> polls;

  private:
    std::vector<SeenRequest> only(const std::string& prefix) const;

    http::Listener listener_;
};

}  // namespace pavo::testing
