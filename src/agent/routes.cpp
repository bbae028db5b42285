#include "agent/routes.hpp"

#include "agent/http_server.hpp"

namespace pavo::agent {

void registerRoutes(HTTPServer& server, const RouteContext& context) {
    // The routes are added here, in the table's order, as their handlers are built; the ones that change
    // the machine are wrapped with gatedRoute (consent_gate.hpp) and context.overlay.
    (void)server;
    (void)context;
}

}  // namespace pavo::agent
