#include "agent/routes.hpp"

#include "agent/http_server.hpp"

namespace pavo::agent {

void registerRoutes(HTTPServer& server) {
    // The routes are added here, in the table's order, as their handlers are built.
    (void)server;
}

}  // namespace pavo::agent
