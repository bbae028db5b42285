#pragma once
// What the accessibility feature shares for the life of the process.

#include "platform/desktop.hpp"

namespace pavo::agent {

class AXTreeCache;
class BatchManager;

struct AXContext {
    platform::Desktop& desktop;
    AXTreeCache& treeCache;
    BatchManager& batches;
};

}  // namespace pavo::agent
