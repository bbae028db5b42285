#include "agent/server/routes.hpp"

#include "agent/ax/ax_routes.hpp"
#include "agent/server/dispatcher.hpp"

namespace pavo::agent {

void registerRoutes(Dispatcher& dispatcher, const Features& features) {
    const AXRoutes ax = axRoutes(features.accessibility, features.gate);
    dispatcher.addRoute("POST", "/ax/tree", ax.tree);
    dispatcher.addRoute("POST", "/ax/find", ax.find);
    dispatcher.addRoute("POST", "/ax/click", ax.click);
    dispatcher.addRoute("POST", "/ax/type", ax.type);
    dispatcher.addRoute("POST", "/ax/scroll", ax.scroll);
    dispatcher.addRoute("POST", "/batch/begin", ax.batchBegin);
    dispatcher.addRoute("POST", "/batch/end", ax.batchEnd);
}

}  // namespace pavo::agent
