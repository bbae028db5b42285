#pragma once
// The keystroke route.

#include "agent/server/dispatcher.hpp"

namespace pavo::agent {

struct KeysContext;
class ConsentGate;

// The handler refers to `context` and `gate`, which must outlive it.
RouteHandler keystrokesRoute(KeysContext& context, const ConsentGate& gate);

}  // namespace pavo::agent
