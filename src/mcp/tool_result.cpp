#include "mcp/tool_result.hpp"

#include "common/json_fields.hpp"

namespace pavo::mcp {

using nlohmann::json;

namespace {

std::string dumpSafe(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::size_t countElements(const json& element) {
    std::size_t count = 0;
    std::vector<const json*> pending{&element};
    while (!pending.empty()) {
        const json* e = pending.back();
        pending.pop_back();
        ++count;
        if (const auto children = e->find("children"); children != e->end() && children->is_array()) {
            for (const auto& child : *children) pending.push_back(&child);
        }
    }
    return count;
}

std::size_t sizeOf(const json& reply, const char* key) {
    const auto it = reply.find(key);
    return it != reply.end() && it->is_array() ? it->size() : 0;
}

std::string text(const json& reply, const char* key) {
    const auto it = reply.find(key);
    return it != reply.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string summary(const std::string& tool, const json& reply) {
    if (tool == "ax_tree" || tool == "tree_and_ocr") {
        const auto tree = reply.find("tree");
        std::string line =
            "Tree of " + std::to_string(tree != reply.end() && tree->is_object() ? countElements(*tree) : 0) +
            " elements";
        if (tool == "tree_and_ocr") line += " and " + std::to_string(sizeOf(reply, "ocr")) + " lines of text";
        return line + ".";
    }
    if (tool == "ax_find") return std::to_string(sizeOf(reply, "matches")) + " matching elements.";
    if (tool == "ax_click") {
        if (text(reply, "method") == "synthesized_click" && reply.contains("x") && reply.contains("y")) {
            return "Clicked at (" + reply["x"].dump() + ", " + reply["y"].dump() + ").";
        }
        return "Clicked (" + text(reply, "method") + ").";
    }
    if (tool == "ax_type") return "Typed (" + text(reply, "method") + ").";
    if (tool == "ax_scroll") return "Scrolled.";
    if (tool == "keystrokes") return "Keystrokes sent (" + text(reply, "method") + ").";
    if (tool == "run_script" || tool == "run_shortcut") return "Finished; its output is in output.";
    if (tool == "list_shortcuts") return std::to_string(sizeOf(reply, "shortcuts")) + " shortcuts.";
    if (tool == "ocr") return std::to_string(sizeOf(reply, "results")) + " lines of text.";
    if (tool == "visual_find") return std::to_string(sizeOf(reply, "results")) + " places found, best first.";
    if (tool == "batch_begin")
        return "Batch " + text(reply, "batch_id") + " pinned to the frontmost application.";
    if (tool == "batch_end") return "Batch " + text(reply, "batch_id") + " ended.";
    return "Done.";
}

// What the model should make of the agent's error codes that need more than the code.
std::string advice(const std::string& code) {
    if (code == "consent_denied") {
        return " The operator did not allow this action (denied, or no answer within two seconds). Do not "
               "repeat "
               "it without asking the user.";
    }
    if (code == "element_not_found")
        return " The id is stale or the element is gone: search again with ax_find.";
    if (code == "could_not_get_frontmost_app") return " No application is in front.";
    if (code == "not_found")
        return " This pavo-agent does not have this route (it may be older than pavo-mcp).";
    return "";
}

}  // namespace

json errorResult(const std::string& message, const json& structured) {
    json result{{"content", json::array({{{"type", "text"}, {"text", message}}})}, {"isError", true}};
    if (structured.is_object()) result["structuredContent"] = structured;
    return result;
}

json successResult(const std::string& summaryLine, const json& structured) {
    return {
        {"content", json::array({{{"type", "text"}, {"text", summaryLine + "\n" + dumpSafe(structured)}}})},
        {"structuredContent", structured},
        {"isError", false}};
}

InterpretedAnswer interpretAnswer(const ToolSpec& tool, const std::optional<AgentAnswer>& answer,
                                  std::uint16_t agentPort) {
    InterpretedAnswer out;
    if (!answer) {
        out.outcome = {"error", "agent_unreachable"};
        out.toolResult = errorResult("pavo-agent did not answer on 127.0.0.1:" + std::to_string(agentPort) +
                                     " (is it running, and is this its port?).");
        return out;
    }
    auto parsed = common::parseJsonObject(answer->body);
    const std::string status = std::to_string(answer->status);
    if (answer->status >= 200 && answer->status < 300) {
        if (!parsed) {
            out.outcome = {"error", "bad_reply"};
            out.toolResult =
                errorResult("pavo-agent answered " + status + " with a body that is not a JSON object.");
            return out;
        }
        out.succeeded = true;
        out.reply = std::move(*parsed);
        out.toolResult = successResult(summary(tool.name, out.reply), out.reply);
        return out;
    }
    const std::string code = parsed ? text(*parsed, "error") : std::string();
    out.outcome = {code == "consent_denied" ? "denied" : "error", code.empty() ? "http_" + status : code};
    if (parsed) out.reply = *parsed;
    std::string message = "pavo-agent refused " + tool.name + " with " + status +
                          (code.empty() ? "" : " " + code) + "." + advice(code);
    message += "\n" + (parsed ? dumpSafe(*parsed) : answer->body.substr(0, 2000));
    out.toolResult = errorResult(message, parsed ? *parsed : json(nullptr));
    return out;
}

}  // namespace pavo::mcp
