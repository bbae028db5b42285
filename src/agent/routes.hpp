#pragma once

namespace pavo::agent {

class HTTPServer;

// Appends the API's routes to the server in the order of the route table.
void registerRoutes(HTTPServer& server);

}  // namespace pavo::agent
