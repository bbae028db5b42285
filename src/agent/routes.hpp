#pragma once

namespace pavo::agent {

class HTTPServer;
struct AXContext;

// What the handlers hold on to for the life of the server.
struct RouteContext {
    AXContext& accessibility;
};

// Appends the API's routes to the server in the order of the route table.
void registerRoutes(HTTPServer& server, const RouteContext& context);

}  // namespace pavo::agent
