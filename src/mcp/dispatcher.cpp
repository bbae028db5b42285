#include "mcp/dispatcher.hpp"

#include "common/version.hpp"
#include "mcp/argument_check.hpp"
#include "mcp/protocol_revision.hpp"

namespace pavo::mcp {

using nlohmann::json;

namespace {

const char* const kInstructions =
    "Pavo operates this computer's desktop through pavo-agent while the person at it watches every step "
    "on pavo-overlay. Find elements with ax_find (or read ax_tree), then act on them by id with ax_click, "
    "ax_type and ax_scroll; screenshot shows the screen. Actions that change the machine wait for the "
    "operator's consent in the overlay: a denial (consent_denied) is the operator's decision, so do not "
    "repeat the action without asking the user.";

}  // namespace

Dispatcher::Dispatcher(std::function<void(std::string)> send, StartCall start)
    : send_(std::move(send)), start_(std::move(start)) {}

void Dispatcher::onLine(std::string_view line) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) return;  // blank lines carry nothing
    const rpc::Message message = rpc::decode(line);
    if (const auto* request = std::get_if<rpc::Request>(&message)) return handle(*request);
    if (const auto* notification = std::get_if<rpc::Notification>(&message))
        return handleNotification(*notification);
    if (std::holds_alternative<rpc::Batch>(message)) {
        const std::string revisions =
            revision_ ? "protocol revision " + *revision_ : "2025-11-25 or 2025-06-18";
        return replyError(nullptr, rpc::kInvalidRequest,
                          "Invalid Request: JSON-RPC batches are not part of " + revisions);
    }
    if (const auto* invalid = std::get_if<rpc::Invalid>(&message)) {
        return replyError(invalid->id, invalid->code, invalid->message);
    }
    // A reply: this server never sends requests, so there is nothing it could answer.
}

void Dispatcher::onOverlong(std::size_t limit) {
    replyError(nullptr, rpc::kInvalidRequest,
               "Invalid Request: message longer than " + std::to_string(limit) + " bytes");
}

void Dispatcher::cancelAll() {
    auto running = std::move(inFlight_);
    inFlight_.clear();
    for (auto& [key, call] : running) {
        if (call.cancel) call.cancel();
    }
}

void Dispatcher::replyError(const json& id, int code, const std::string& message) {
    send_(rpc::error(id, code, message));
}

void Dispatcher::handle(const rpc::Request& request) {
    const std::string& method = request.method;
    if (method == "ping") return send_(rpc::result(request.id, json::object()));
    if (method == "initialize") return initialize(request);
    if (method != "tools/list" && method != "tools/call") {
        return replyError(request.id, rpc::kMethodNotFound, "Method not found: " + method);
    }
    if (!revision_) {
        return replyError(request.id, rpc::kInvalidRequest, "Invalid Request: send initialize first");
    }
    if (!request.params.is_null() && !request.params.is_object()) {
        return replyError(request.id, rpc::kInvalidParams, "Invalid params: params must be an object");
    }
    if (method == "tools/call") return callTool(request);
    if (request.params.is_object() && request.params.contains("cursor")) {
        // Every tool fits on the first page, so no cursor was ever handed out.
        return replyError(request.id, rpc::kInvalidParams, "Invalid params: unknown cursor");
    }
    send_(rpc::result(request.id, {{"tools", toolListing()}}));
}

void Dispatcher::initialize(const rpc::Request& request) {
    if (revision_)
        return replyError(request.id, rpc::kInvalidRequest, "Invalid Request: already initialized");
    const json& params = request.params;
    if (!params.is_object() || !params.contains("protocolVersion") ||
        !params["protocolVersion"].is_string()) {
        return replyError(request.id, rpc::kInvalidParams,
                          "Invalid params: protocolVersion must be a string");
    }
    for (const char* key : {"capabilities", "clientInfo"}) {
        if (params.contains(key) && !params[key].is_object()) {
            return replyError(request.id, rpc::kInvalidParams,
                              std::string("Invalid params: ") + key + " must be an object");
        }
    }
    revision_ = negotiateRevision(params["protocolVersion"].get<std::string>());
    send_(rpc::result(
        request.id, {{"protocolVersion", *revision_},
                     {"capabilities", {{"tools", {{"listChanged", false}}}}},
                     {"serverInfo",
                      {{"name", "pavo-mcp"}, {"title", "Pavo"}, {"version", std::string(common::kVersion)}}},
                     {"instructions", kInstructions}}));
}

void Dispatcher::callTool(const rpc::Request& request) {
    const json& params = request.params;
    if (!params.is_object() || !params.contains("name") || !params["name"].is_string()) {
        return replyError(request.id, rpc::kInvalidParams, "Invalid params: name must be a string");
    }
    const std::string name = params["name"];
    const ToolDefinition* tool = findTool(name);
    if (!tool) return replyError(request.id, rpc::kInvalidParams, "Invalid params: unknown tool " + name);

    json arguments = json::object();
    if (params.contains("arguments") && !params["arguments"].is_null()) arguments = params["arguments"];
    if (!arguments.is_object()) {
        return replyError(request.id, rpc::kInvalidParams, "Invalid params: arguments must be an object");
    }
    // Models often write null for an argument they mean to leave out; the agent reads it that way too.
    for (auto it = arguments.begin(); it != arguments.end();)
        it = it->is_null() ? arguments.erase(it) : std::next(it);
    if (auto problem = checkArguments(tool->inputSchema, arguments)) {
        const std::string message = "Invalid arguments for " + name + ": " + *problem;
        if (rulesFor(*revision_).argumentErrorsAsToolResults) {
            return send_(rpc::resultText(request.id, errorResult(message)));
        }
        return replyError(request.id, rpc::kInvalidParams, message);
    }

    const std::string key = rpc::idKey(request.id);
    if (inFlight_.contains(key)) {
        return replyError(request.id, rpc::kInvalidRequest,
                          "Invalid Request: id " + key + " is already in use");
    }
    const std::uint64_t serial = ++nextSerial_;
    inFlight_[key] = InFlight{serial, {}};
    FinishCall finish = [this, key, serial, id = request.id](ToolResultText result) {
        const auto it = inFlight_.find(key);
        if (it == inFlight_.end() || it->second.serial != serial) return;  // cancelled: never answered
        inFlight_.erase(it);
        send_(rpc::resultText(id, result));
    };
    CancelCall cancelCall = start_(ToolCall{tool, std::move(arguments)}, std::move(finish));
    if (const auto it = inFlight_.find(key); it != inFlight_.end() && it->second.serial == serial) {
        it->second.cancel = std::move(cancelCall);
    }
}

void Dispatcher::handleNotification(const rpc::Notification& notification) {
    // notifications/initialized needs no action: requests are served once initialize has been answered.
    if (notification.method == "notifications/cancelled") cancel(notification.params);
}

void Dispatcher::cancel(const json& params) {
    if (!params.is_object() || !params.contains("requestId")) return;
    const json& id = params["requestId"];
    if (!id.is_string() && !(id.is_number_integer() && !id.is_number_float())) return;
    // An id that is unknown or already answered is ignored, as the cancellation may cross the answer.
    const auto it = inFlight_.find(rpc::idKey(id));
    if (it == inFlight_.end()) return;
    CancelCall cancelCall = std::move(it->second.cancel);
    inFlight_.erase(it);
    if (cancelCall) cancelCall();
}

}  // namespace pavo::mcp
