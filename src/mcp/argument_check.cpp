#include "mcp/argument_check.hpp"

#include <algorithm>

namespace pavo::mcp {

using nlohmann::json;

namespace {

bool hasType(const json& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "string") return value.is_string();
    if (type == "boolean") return value.is_boolean();
    if (type == "array") return value.is_array();
    if (type == "integer") return value.is_number_integer() && !value.is_number_float();
    if (type == "number") return value.is_number();
    return false;
}

std::optional<std::string> check(const json& schema, const json& value, const std::string& where);

std::optional<std::string> checkObject(const json& schema, const json& value, const std::string& where) {
    const json& properties = schema.contains("properties") ? schema["properties"] : json::object();
    for (const auto& name : schema.value("required", json::array())) {
        if (!value.contains(name.get<std::string>()))
            return "missing required argument " + name.get<std::string>();
    }
    const bool closed = schema.value("additionalProperties", true) == false;
    for (const auto& [key, member] : value.items()) {
        const std::string path = where.empty() ? key : where + "." + key;
        if (!properties.contains(key)) {
            if (closed) return "unknown argument " + path;
            continue;
        }
        if (auto problem = check(properties[key], member, path)) return problem;
    }
    return std::nullopt;
}

std::optional<std::string> check(const json& schema, const json& value, const std::string& where) {
    const std::string name = where.empty() ? "the arguments" : where;
    if (schema.contains("type")) {
        const std::string type = schema["type"];
        if (!hasType(value, type))
            return name + " must be " + (type == "integer" || type == "array" ? "an " : "a ") + type;
    }
    if (schema.contains("enum")) {
        const auto& choices = schema["enum"];
        if (std::find(choices.begin(), choices.end(), value) == choices.end()) {
            return name + " must be one of " + choices.dump();
        }
    }
    if (value.is_number()) {
        if (schema.contains("minimum") && value.get<double>() < schema["minimum"].get<double>()) {
            return name + " must be at least " + schema["minimum"].dump();
        }
        if (schema.contains("maximum") && value.get<double>() > schema["maximum"].get<double>()) {
            return name + " must be at most " + schema["maximum"].dump();
        }
    }
    if (value.is_string() && schema.contains("minLength") &&
        value.get_ref<const std::string&>().size() < schema["minLength"].get<std::size_t>()) {
        return name + " must not be empty";
    }
    if (value.is_array() && schema.contains("items")) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (auto problem = check(schema["items"], value[i], name + "[" + std::to_string(i) + "]"))
                return problem;
        }
    }
    if (value.is_object()) return checkObject(schema, value, where);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> checkArguments(const json& schema, const json& arguments) {
    return check(schema, arguments, "");
}

}  // namespace pavo::mcp
