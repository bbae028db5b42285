#pragma once
// The screen-text routes: each decodes its body, calls the feature's core and makes its reply.

#include "agent/server/dispatcher.hpp"

namespace pavo::agent {

struct AXContext;
struct VisionContext;

struct VisionRoutes {
    RouteHandler treeAndOCR, ocr, visualFind;
};

// The handlers refer to both contexts, which must outlive them.
VisionRoutes visionRoutes(AXContext& ax, VisionContext& vision);

}  // namespace pavo::agent
