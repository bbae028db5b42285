#pragma once
// Acting on an element a caller saw in a tree or search reply: find the live element behind its id in
// the frontmost application (or a batch's), then click it, type into it or scroll it.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "http/message.hpp"
#include "platform/accessibility.hpp"

namespace pavo::agent {

struct AXContext;

struct AXClickRequest {
    std::string elementId;
    std::optional<std::string> batchId = std::nullopt;  // "batch_id"
};

struct AXTypeRequest {
    std::string elementId;
    std::string text;
    std::optional<std::string> batchId = std::nullopt;
};

struct AXScrollRequest {
    std::string elementId;
    std::string direction;
    std::optional<double> amount = std::nullopt;
    std::optional<std::string> batchId = std::nullopt;
};

// Nothing unless the body is a JSON object whose keys have the record's types: required keys present and
// not null, a null optional key counts as absent, unknown keys are ignored.
std::optional<AXClickRequest> decodeAXClickRequest(std::string_view body);
std::optional<AXTypeRequest> decodeAXTypeRequest(std::string_view body);
std::optional<AXScrollRequest> decodeAXScrollRequest(std::string_view body);

// The element at a snapshot path below the application element, if its id there is `targetId`.
std::optional<platform::AXElement> elementAtPath(platform::Accessibility& ax, const platform::AXElement& root,
                                                 std::string_view path, const std::string& targetId);

// Depth-first pre-order search of the live tree for the element whose id, recomputed as a snapshot
// would, equals `targetId`. Blocks on the desktop.
std::optional<platform::AXElement> findElementById(platform::Accessibility& ax, const platform::AXElement& element,
                                                   const std::string& targetId, const std::string& path);

// "AXScrollUp" and so on for a direction in any letter case; nothing for another word.
std::optional<std::string> scrollActionName(std::string_view direction);

// How many scroll actions an amount asks for: 50 units a step, 2 steps without an amount, at least 1.
// Nothing when the step count is not a finite number that fits in 64 bits.
std::optional<std::int64_t> scrollActionCount(std::optional<double> amount);

inline constexpr std::chrono::milliseconds kKeystrokePause{10};

boost::asio::awaitable<http::HTTPResponse> axClick(AXContext& context, AXClickRequest request,
                                                   std::optional<std::string> batchId);
boost::asio::awaitable<http::HTTPResponse> axType(AXContext& context, AXTypeRequest request,
                                                  std::optional<std::string> batchId);
boost::asio::awaitable<http::HTTPResponse> axScroll(AXContext& context, AXScrollRequest request,
                                                    std::optional<std::string> batchId);

}  // namespace pavo::agent
