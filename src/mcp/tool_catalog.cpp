#include "mcp/tool_catalog.hpp"

#include <algorithm>

namespace pavo::mcp {

using nlohmann::json;

namespace {

json property(const char* type, const char* description) {
    return {{"type", type}, {"description", description}};
}

json schema(json properties, std::vector<std::string> required = {}) {
    json result{{"type", "object"}, {"properties", std::move(properties)}, {"additionalProperties", false}};
    if (!required.empty()) result["required"] = required;
    return result;
}

const json kBatchId = property("string", "Id of a batch from batch_begin: act in that batch's application.");
const json kElementId =
    json{{"type", "string"},
         {"minLength", 1},
         {"description", "Element id from ax_tree, ax_find or tree_and_ocr (16 hexadecimal digits)."}};
const json kImageBase64 = property("string", "The image file's bytes (PNG or JPEG) in Base64.");
const json kImagePath =
    property("string", "Path of an image file on this machine, used when imageBase64 is absent.");
const json kPid = property("integer", "Process id the image belongs to (labels the agent's OCR cache only).");
const json kWindowId = json{{"type", "integer"},
                            {"minimum", 0},
                            {"description", "Window id the image belongs to (cache label only)."}};

std::vector<ToolDefinition> makeCatalog() {
    std::vector<ToolDefinition> tools;
    const auto add = [&](ToolDefinition tool) { tools.push_back(std::move(tool)); };

    add({"ax_tree", "Accessibility tree",
         "Reads the accessibility tree of an application: the frontmost one, or the process root_pid. "
         "Every element has an id (for ax_click, ax_type, ax_scroll), a role such as AXButton or "
         "AXTextField, and when known a label, value, enabled/focused flags and a frame {x, y, width, "
         "height} in screen points. Large applications give large trees; prefer ax_find when you know what "
         "you are looking for.",
         schema({{"root_pid",
                  property("integer", "Process id of the application; the frontmost one when absent.")}}),
         true, AgentRoute{"POST", "/ax/tree"}});
    add({"ax_find", "Find elements",
         "Searches the frontmost application's accessibility tree (or a batch's application) and returns "
         "the matching elements, in tree order, with their ids and frames. All filters must match: role "
         "exactly, label and identifier as case-sensitive substrings, valueRegex as a regular expression "
         "over the value. Use the ids with ax_click, ax_type and ax_scroll.",
         schema({{"role", property("string",
                                   "Exact role, e.g. AXButton, AXTextField, AXCheckBox, AXMenuItem, "
                                   "AXStaticText, AXWindow.")},
                 {"label", property("string", "Text the element's label contains (case-sensitive).")},
                 {"identifier", property("string", "Text the element's identifier contains.")},
                 {"valueRegex",
                  property("string", "ICU regular expression searched for in the element's value.")},
                 {"maxResults", json{{"type", "integer"},
                                     {"minimum", 1},
                                     {"description", "Most matches returned (default 10)."}}},
                 {"batch_id", kBatchId}}),
         true, AgentRoute{"POST", "/ax/find"}});
    add({"ax_click", "Click an element",
         "Clicks an element by id: its press action, or a real click at the centre of its frame when it "
         "has none. The operator is asked first and may deny (the result then says consent_denied). An id "
         "is only valid while the element keeps its place; on element_not_found search again with ax_find.",
         schema({{"elementId", kElementId}, {"batch_id", kBatchId}}, {"elementId"}), false,
         AgentRoute{"POST", "/ax/click"}});
    add({"ax_type", "Type into an element",
         "Puts text into an element by id, replacing a text field's value, or else focuses the element and "
         "types the text key by key. The operator is asked first.",
         schema({{"elementId", kElementId},
                 {"text", property("string", "The text to enter.")},
                 {"batch_id", kBatchId}},
                {"elementId", "text"}),
         false, AgentRoute{"POST", "/ax/type"}});
    add({"ax_scroll", "Scroll an element",
         "Scrolls an element by id in a direction. The operator is asked first.",
         schema(
             {{"elementId", kElementId},
              {"direction", json{{"type", "string"}, {"enum", {"up", "down", "left", "right"}}}},
              {"amount", property("number", "Distance: every 50 makes one scroll step (default two steps).")},
              {"batch_id", kBatchId}},
             {"elementId", "direction"}),
         false, AgentRoute{"POST", "/ax/scroll"}});
    add({"keystrokes", "Send keystrokes",
         "Types text and then presses key chords in an application, after bringing it to the front (by "
         "app_bundle_id, on Linux a desktop-entry id such as gtk3-widget-factory, or by app_name). Chords "
         "are written like cmd+a, shift+tab, return, escape, f5. Give text, keys or both. The operator is "
         "asked first.",
         schema({{"text", property("string", "Text to type, character by character.")},
                 {"keys", json{{"type", "array"},
                               {"items", {{"type", "string"}}},
                               {"description", "Key chords pressed after the text, in order."}}},
                 {"app_bundle_id", property("string", "Application to bring to the front first.")},
                 {"app_name", property("string", "Application name, used when app_bundle_id is absent.")},
                 {"mode", json{{"type", "string"},
                               {"enum", {"auto", "cgevent", "applescript"}},
                               {"description", "Delivery method (default auto)."}}},
                 {"delay_ms", json{{"type", "integer"},
                                   {"description", "Pacing between keys in ms, 1 to 250 (default 12)."}}}}),
         false, AgentRoute{"POST", "/keystrokes"}});
    add({"run_script", "Run a script",
         "Runs a script with the system's script runner (AppleScript on macOS) and returns its output. It "
         "can do anything the user can, so the operator is asked first.",
         schema({{"script", property("string", "The script's source text.")}}, {"script"}), false,
         AgentRoute{"POST", "/applescript/run"}});
    add({"run_shortcut", "Run a shortcut",
         "Runs one of the user's shortcuts by name (see list_shortcuts), optionally with input text, and "
         "returns its output. Stopped after timeoutMs. The operator is asked first.",
         schema({{"name", property("string", "The shortcut's name.")},
                 {"input", property("string", "Text given to the shortcut as its input.")},
                 {"timeoutMs", json{{"type", "integer"},
                                    {"description", "Time limit in ms (default 15000, at least 1000)."}}}},
                {"name"}),
         false, AgentRoute{"POST", "/shortcut"}});
    add({"list_shortcuts", "List shortcuts", "Lists the names of the user's shortcuts, for run_shortcut.",
         schema(json::object()), true, AgentRoute{"GET", "/shortcut/list"}});
    add({"ocr", "Read text in an image",
         "Recognises the text in an image (inline or from a file) and returns each line with its "
         "confidence and bounding box in image pixels. To read the screen, use screenshot with ocr: true "
         "instead.",
         schema({{"imageBase64", kImageBase64},
                 {"imagePath", kImagePath},
                 {"pid", kPid},
                 {"windowId", kWindowId}}),
         true, AgentRoute{"POST", "/ocr"}});
    add({"visual_find", "Find text or a code in an image",
         "Looks for a text (or a barcode's content; query icon lists all barcodes) in an image and returns "
         "where it was seen, best match first, with boxes in image pixels.",
         schema({{"query", property("string", "What to look for.")},
                 {"imageBase64", kImageBase64},
                 {"imagePath", kImagePath}},
                {"query"}),
         true, AgentRoute{"POST", "/visual/find"}});
    add({"tree_and_ocr", "Tree and text together",
         "Reads an application's accessibility tree (as ax_tree) and recognises the text in an image (as "
         "ocr) in one request.",
         schema({{"root_pid",
                  property("integer", "Process id of the application; the frontmost one when absent.")},
                 {"imageBase64", kImageBase64},
                 {"imagePath", kImagePath},
                 {"pid", kPid},
                 {"windowId", kWindowId}}),
         true, AgentRoute{"POST", "/ax/tree_and_ocr"}});
    add({"batch_begin", "Begin a batch",
         "Pins the application that is frontmost now under a batch id; pass that batch_id to ax_find, "
         "ax_click, ax_type and ax_scroll so that they act there even if another application comes to the "
         "front.",
         schema({{"batch_id", property("string", "The batch's id (default \"default\").")}}), true,
         AgentRoute{"POST", "/batch/begin"}});
    add({"batch_end", "End a batch",
         "Ends a batch begun with batch_begin: requests that still name its batch_id act in the frontmost "
         "application again.",
         schema({{"batch_id", property("string", "The batch's id (default \"default\").")}}), true,
         AgentRoute{"POST", "/batch/end"}});
    add({"screenshot", "Screenshot",
         "Captures the screen, or one application's window (pid), as a PNG of at most 1568 pixels on its "
         "long edge. The result gives origin and scale: a pixel (px, py) of the picture is the screen "
         "point (origin.x + px / scale, origin.y + py / scale), the coordinates frames in the tree use. "
         "With ocr: true it also returns the text on it, with boxes in screen points.",
         schema({{"pid",
                  property("integer", "Process id whose window to capture; the whole screen when absent.")},
                 {"ocr", property("boolean", "Also recognise the text in the capture.")}}),
         true, std::nullopt});
    return tools;
}

}  // namespace

const std::vector<ToolDefinition>& toolCatalog() {
    static const std::vector<ToolDefinition> catalog = makeCatalog();
    return catalog;
}

const ToolDefinition* findTool(const std::string& name) {
    const auto& tools = toolCatalog();
    const auto it =
        std::find_if(tools.begin(), tools.end(), [&](const ToolDefinition& t) { return t.name == name; });
    return it == tools.end() ? nullptr : &*it;
}

json toolListing() {
    json tools = json::array();
    for (const auto& tool : toolCatalog()) {
        tools.push_back({{"name", tool.name},
                         {"title", tool.title},
                         {"description", tool.description},
                         {"inputSchema", tool.inputSchema},
                         {"annotations",
                          {{"title", tool.title},
                           {"readOnlyHint", tool.readOnly},
                           {"destructiveHint", !tool.readOnly},
                           {"openWorldHint", false}}}});
    }
    return tools;
}

}  // namespace pavo::mcp
