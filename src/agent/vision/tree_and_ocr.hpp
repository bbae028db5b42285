#pragma once
// A tree snapshot and the text of an image in one request, each through its own cache, at the same time.

#include <boost/asio/awaitable.hpp>

#include "agent/ax/ax_tree_data.hpp"
#include "agent/server/agent_error.hpp"
#include "agent/vision/ocr.hpp"
#include "agent/vision/vision_requests.hpp"

namespace pavo::agent {

struct AXContext;
struct VisionContext;

struct TreeAndOCR {
    AXTreeResult tree;  // its snapshot holds its reply body already
    OCROutput ocr;
};

// The tree is looked at first: when it fails, that is the failure, and recognition that has not started by
// then does not start. Returns only once both parts have ended, whatever happened.
boost::asio::awaitable<Result<TreeAndOCR>> treeAndOCR(AXContext& ax, VisionContext& vision,
                                                      TreeAndOCRRequest request);

}  // namespace pavo::agent
