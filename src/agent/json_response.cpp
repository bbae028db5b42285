#include "agent/json_response.hpp"

namespace pavo::agent {

http::HTTPResponse jsonResponse(int status, const nlohmann::json& body) {
    http::HTTPResponse response;
    response.status = status;
    try {
        response.body = body.dump();
    } catch (const nlohmann::json::exception&) {
        // Only text that is not valid UTF-8 fails to serialise.
        response.body = R"({"error": "json_serialization_failed"})";
    }
    response.headers["Content-Type"] = "application/json";
    response.headers["Content-Length"] = std::to_string(response.body.size());
    return response;
}

http::HTTPResponse errorResponse(int status, const std::string& error, const std::optional<std::string>& message,
                                 const std::optional<std::string>& hint) {
    nlohmann::json body = {{"error", error}};
    if (message) body["message"] = *message;
    if (hint) body["hint"] = *hint;
    return jsonResponse(status, body);
}

}  // namespace pavo::agent
