#pragma once
// The accessibility routes: each decodes its body, asks the operator where the route is gated, calls the
// feature's core and makes its reply.

#include "agent/server/dispatcher.hpp"

namespace pavo::agent {

struct AXContext;
class ConsentGate;

struct AXRoutes {
    RouteHandler tree, find, click, type, scroll, batchBegin, batchEnd;
};

// The handlers refer to `context` and `gate`, which must outlive them.
AXRoutes axRoutes(AXContext& context, const ConsentGate& gate);

}  // namespace pavo::agent
