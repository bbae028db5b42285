#include "agent/vision/tree_and_ocr.hpp"

#include <boost/asio/experimental/awaitable_operators.hpp>

#include <atomic>
#include <exception>

namespace pavo::agent {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;

asio::awaitable<Result<TreeAndOCR>> treeAndOCR(AXContext& ax, VisionContext& vision,
                                               TreeAndOCRRequest request) {
    std::atomic<bool> treeFailed{false};
    Result<AXTreeResult> tree;
    Result<OCROutput> ocr;
    std::exception_ptr treeThrew, ocrThrew;
    const auto treeTask = [&]() -> asio::awaitable<void> {
        try {
            tree = co_await axTreeData(ax, request.rootPid, std::nullopt, /*withBody=*/true);
        } catch (...) {
            treeThrew = std::current_exception();
        }
        if (!tree || treeThrew) treeFailed = true;
    };
    const auto ocrTask = [&]() -> asio::awaitable<void> {
        try {
            ocr = co_await performOCR(vision, request.ocr, &treeFailed);
        } catch (...) {
            ocrThrew = std::current_exception();
        }
    };
    // Both run until they end, and neither throws out of the pair: a throw would make the pair cancel the
    // other, whose cancellation Boost 1.81 can deliver after the other has already finished and gone.
    co_await (treeTask() && ocrTask());
    if (treeThrew) std::rethrow_exception(treeThrew);
    if (ocrThrew) std::rethrow_exception(ocrThrew);
    if (!tree) co_return tree.error();
    if (!ocr) co_return ocr.error();
    co_return TreeAndOCR{std::move(*tree), std::move(*ocr)};
}

}  // namespace pavo::agent
