#pragma once
// The element record every accessibility reply carries, and element ids.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/sha256.hpp"

namespace pavo::agent {

struct AXFrame {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const AXFrame&) const = default;
};

struct AXElementInfo {
    std::string id = {};
    std::string role = {};
    std::optional<std::string> label = std::nullopt;
    std::optional<std::string> value = std::nullopt;
    std::optional<std::string> identifier = std::nullopt;
    std::optional<AXFrame> frame = std::nullopt;
    std::optional<bool> enabled = std::nullopt;
    std::optional<bool> focused = std::nullopt;
    std::optional<std::vector<AXElementInfo>> children = std::nullopt;  // absent: unreadable; empty: none
    bool operator==(const AXElementInfo&) const = default;
};

// Absent fields are left out, never written as null. Decoding requires "id" and "role".
void to_json(nlohmann::json& out, const AXFrame& frame);
void from_json(const nlohmann::json& in, AXFrame& frame);
void to_json(nlohmann::json& out, const AXElementInfo& element);
void from_json(const nlohmann::json& in, AXElementInfo& element);

// Appends the element as compact JSON, the same document to_json gives but written directly: a snapshot of
// thousands of elements is serialised without building a JSON value first.
void appendJson(std::string& out, const AXElementInfo& element);

// The first 8 bytes of SHA-256 over the UTF-8 text, as 16 lower-case hex digits.
inline std::string sha256Hash(std::string_view text) {
    return common::sha256Hex(text, 8);
}

// The id of an element: identifier before title, "|" between the parts.
std::string elementId(std::int32_t pid, std::string_view role, std::string_view identifier,
                      std::string_view title, std::string_view ordinalPath);

inline std::string childPath(std::string_view parentPath, std::size_t index) {
    return std::string(parentPath) + "/" + std::to_string(index);
}

}  // namespace pavo::agent
