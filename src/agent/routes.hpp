#pragma once

#include <memory>

namespace pavo::agent {

class HTTPServer;
class OverlayClient;
struct AXContext;

// What the handlers hold on to for the life of the server.
struct RouteContext {
    AXContext& accessibility;
    // The overlay found at start-up, or none: then the gated routes run without asking.
    std::shared_ptr<const OverlayClient> overlay;
};

// Appends the API's routes to the server in the order of the route table.
void registerRoutes(HTTPServer& server, const RouteContext& context);

}  // namespace pavo::agent
