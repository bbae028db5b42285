#include "agent/ax/ax_element.hpp"

#include <array>
#include <charconv>
#include <cmath>

#include "common/text.hpp"

namespace pavo::agent {

using nlohmann::json;

void to_json(json& out, const AXFrame& frame) {
    out = {{"x", frame.x}, {"y", frame.y}, {"width", frame.width}, {"height", frame.height}};
}

void from_json(const json& in, AXFrame& frame) {
    frame.x = in.at("x").get<double>();
    frame.y = in.at("y").get<double>();
    frame.width = in.at("width").get<double>();
    frame.height = in.at("height").get<double>();
}

void to_json(json& out, const AXElementInfo& element) {
    out = json::object();
    out["id"] = element.id;
    out["role"] = element.role;
    if (element.label) out["label"] = *element.label;
    if (element.value) out["value"] = *element.value;
    if (element.identifier) out["identifier"] = *element.identifier;
    if (element.frame) out["frame"] = *element.frame;
    if (element.enabled) out["enabled"] = *element.enabled;
    if (element.focused) out["focused"] = *element.focused;
    if (element.children) {
        json& children = out["children"] = json::array();
        for (const auto& child : *element.children) children.push_back(child);
    }
}

namespace {

template <typename T>
void readOptional(const json& in, const char* key, std::optional<T>& field) {
    auto it = in.find(key);
    if (it != in.end() && !it->is_null()) field = it->get<T>();
}

}  // namespace

void from_json(const json& in, AXElementInfo& element) {
    element.id = in.at("id").get<std::string>();
    element.role = in.at("role").get<std::string>();
    readOptional(in, "label", element.label);
    readOptional(in, "value", element.value);
    readOptional(in, "identifier", element.identifier);
    readOptional(in, "frame", element.frame);
    readOptional(in, "enabled", element.enabled);
    readOptional(in, "focused", element.focused);
    readOptional(in, "children", element.children);
}

namespace {

void appendString(std::string& out, std::string_view text) {
    if (!common::isValidUtf8(text)) {
        // Rare enough to take the slow path that substitutes U+FFFD for undecodable bytes.
        out += json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
        return;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
        }
    }
    out.append(text.substr(plain));
    out += '"';
}

void appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";  // as the JSON library writes it: JSON has no infinities
        return;
    }
    std::array<char, 32> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    const std::string_view digits(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    out += digits;
    if (digits.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void appendKey(std::string& out, const char* key) {
    out += ",\"";
    out += key;
    out += "\":";
}

}  // namespace

void appendJson(std::string& out, const AXElementInfo& element) {
    out += "{\"id\":";
    appendString(out, element.id);
    appendKey(out, "role");
    appendString(out, element.role);
    const auto optionalString = [&out](const char* key, const std::optional<std::string>& text) {
        if (!text) return;
        appendKey(out, key);
        appendString(out, *text);
    };
    const auto optionalFlag = [&out](const char* key, const std::optional<bool>& flag) {
        if (!flag) return;
        appendKey(out, key);
        out += *flag ? "true" : "false";
    };
    optionalString("label", element.label);
    optionalString("value", element.value);
    optionalString("identifier", element.identifier);
    if (element.frame) {
        appendKey(out, "frame");
        out += "{\"x\":";
        appendNumber(out, element.frame->x);
        out += ",\"y\":";
        appendNumber(out, element.frame->y);
        out += ",\"width\":";
        appendNumber(out, element.frame->width);
        out += ",\"height\":";
        appendNumber(out, element.frame->height);
        out += '}';
    }
    optionalFlag("enabled", element.enabled);
    optionalFlag("focused", element.focused);
    if (element.children) {
        appendKey(out, "children");
        out += '[';
        for (std::size_t i = 0; i < element.children->size(); ++i) {
            if (i > 0) out += ',';
            appendJson(out, (*element.children)[i]);
        }
        out += ']';
    }
    out += '}';
}

std::string elementId(std::int32_t pid, std::string_view role, std::string_view identifier,
                      std::string_view title, std::string_view ordinalPath) {
    std::string text = std::to_string(pid);
    text.reserve(text.size() + role.size() + identifier.size() + title.size() + ordinalPath.size() + 4);
    text.append("|")
        .append(role)
        .append("|")
        .append(identifier)
        .append("|")
        .append(title)
        .append("|")
        .append(ordinalPath);
    return sha256Hash(text);
}

}  // namespace pavo::agent
