#include "agent/vision/tree_and_ocr.hpp"

#include <boost/asio/experimental/awaitable_operators.hpp>

#include <atomic>

namespace pavo::agent {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;

asio::awaitable<Result<TreeAndOCR>> treeAndOCR(AXContext& ax, VisionContext& vision,
                                               TreeAndOCRRequest request) {
    std::atomic<bool> treeFailed{false};
    Result<AXTreeResult> tree;
    Result<OCROutput> ocr;
    const auto treeTask = [&]() -> asio::awaitable<void> {
        tree = co_await axTreeData(ax, request.rootPid, std::nullopt, /*withBody=*/true);
        if (!tree) treeFailed = true;
    };
    const auto ocrTask = [&]() -> asio::awaitable<void> {
        ocr = co_await performOCR(vision, request.ocr, &treeFailed);
    };
    // Both run until they end; a failure of one never leaves the other running behind this request.
    co_await (treeTask() && ocrTask());
    if (!tree) co_return tree.error();
    if (!ocr) co_return ocr.error();
    co_return TreeAndOCR{std::move(*tree), std::move(*ocr)};
}

}  // namespace pavo::agent
