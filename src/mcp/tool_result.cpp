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

std::string count(std::size_t n, const std::string& what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
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
    if (tool == "ax_find") return count(sizeOf(reply, "matches"), "matching element") + ".";
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
    if (tool == "list_shortcuts") return count(sizeOf(reply, "shortcuts"), "shortcut") + ".";
    if (tool == "ocr") return count(sizeOf(reply, "results"), "line") + " of text.";
    if (tool == "visual_find") return count(sizeOf(reply, "results"), "place") + " found, best first.";
    if (tool == "batch_begin")
        return "Batch " + text(reply, "batch_id") + " pinned to the frontmost application.";
    if (tool == "batch_end") return "Batch " + text(reply, "batch_id") + " ended.";
    return "Done.";
}

// What the model should make of the agent's error codes that need more than the code.
std::string advice(const std::string& code) {
    if (code == "consent_denied") {
        return " The operator did not allow this action (denied, or no answer within two seconds). Do not "
               "repeat it without asking the user.";
    }
    if (code == "element_not_found")
        return " The id is stale or the element is gone: search again with ax_find.";
    if (code == "could_not_get_frontmost_app") return " No application is in front.";
    if (code == "not_found")
        return " This pavo-agent does not have this route (it may be older than pavo-mcp).";
    return "";
}

// Text already known to be valid UTF-8 (it came out of the JSON parser) needs only quotes, backslashes and
// control characters escaped; nlohmann's general escaper is several times slower on a large reply.
void appendEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.substr(run, i - run));
        run = i + 1;
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
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
        }
    }
    out.append(text.substr(run));
}

// The agent's body goes out as it came, checked but not rewritten: a tree of thousands of elements is not
// turned into values only to be written out again twice. It is one line only if the agent wrote it compact.
ToolResultText successResult(const std::string& summaryLine, std::string_view body, const json& parsed) {
    const bool compact = body.find_first_of("\r\n") == std::string_view::npos;
    const std::string rewritten = compact ? std::string() : dumpSafe(parsed);
    const std::string_view structured = compact ? body : std::string_view(rewritten);
    std::string out;
    out.reserve(2 * structured.size() + summaryLine.size() + 96);
    out += R"({"content":[{"type":"text","text":")";
    appendEscaped(out, summaryLine);
    out += "\\n";
    appendEscaped(out, structured);
    out += R"("}],"structuredContent":)";
    out += structured;
    out += R"(,"isError":false})";
    return out;
}

}  // namespace

ToolResultText resultText(const json& result) {
    return dumpSafe(result);
}

ToolResultText errorResult(const std::string& message, const json& structured) {
    json result{{"content", json::array({{{"type", "text"}, {"text", message}}})}, {"isError", true}};
    if (structured.is_object()) result["structuredContent"] = structured;
    return dumpSafe(result);
}

InterpretedAnswer interpretAnswer(const ToolDefinition& tool, const std::optional<AgentAnswer>& answer,
                                  std::uint16_t agentPort) {
    InterpretedAnswer out;
    const auto fail = [&](CallOutcome outcome, std::string message, const json& structured = nullptr) {
        out.outcome = std::move(outcome);
        out.message = std::move(message);
        out.toolResult = errorResult(out.message, structured);
        return out;
    };
    if (!answer) {
        return fail({"error", "agent_unreachable"},
                    "pavo-agent did not answer on 127.0.0.1:" + std::to_string(agentPort) +
                        " (is it running, and is this its port?).");
    }
    auto parsed = common::parseJsonObject(answer->body);
    const std::string status = std::to_string(answer->status);
    if (answer->status >= 200 && answer->status < 300) {
        if (!parsed) {
            return fail({"error", "bad_reply"},
                        "pavo-agent answered " + status + " with a body that is not a JSON object.");
        }
        out.succeeded = true;
        out.reply = std::move(*parsed);
        out.message = summary(tool.name, out.reply);
        out.toolResult = successResult(out.message, answer->body, out.reply);
        return out;
    }
    const std::string code = parsed ? text(*parsed, "error") : std::string();
    std::string message = "pavo-agent refused " + tool.name + " with " + status +
                          (code.empty() ? "" : " " + code) + "." + advice(code);
    message += "\n" + (parsed ? dumpSafe(*parsed) : answer->body.substr(0, 2000));
    if (parsed) out.reply = *parsed;
    return fail({code == "consent_denied" ? "denied" : "error", code.empty() ? "http_" + status : code},
                std::move(message), parsed ? *parsed : json(nullptr));
}

}  // namespace pavo::mcp
