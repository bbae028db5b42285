#include "agent/server/routes.hpp"

#include "agent/ax/ax_routes.hpp"
#include "agent/keys/keys_routes.hpp"
#include "agent/scripts/scripts_routes.hpp"
#include "agent/server/dispatcher.hpp"
#include "agent/vision/vision_routes.hpp"

namespace pavo::agent {

void registerRoutes(Dispatcher& dispatcher, const Features& features) {
    const AXRoutes ax = axRoutes(features.accessibility, features.gate);
    const ScriptRoutes scripts = scriptRoutes(features.scripts, features.gate);
    const VisionRoutes vision = visionRoutes(features.accessibility, features.vision);
    dispatcher.addRoute("POST", "/ax/tree", ax.tree);
    dispatcher.addRoute("POST", "/ax/find", ax.find);
    dispatcher.addRoute("POST", "/ax/click", ax.click);
    dispatcher.addRoute("POST", "/ax/type", ax.type);
    dispatcher.addRoute("POST", "/ax/scroll", ax.scroll);
    dispatcher.addRoute("POST", "/keystrokes", keystrokesRoute(features.keys, features.gate));
    dispatcher.addRoute("POST", "/ax/tree_and_ocr", vision.treeAndOCR);
    dispatcher.addRoute("POST", "/batch/begin", ax.batchBegin);
    dispatcher.addRoute("POST", "/batch/end", ax.batchEnd);
    dispatcher.addRoute("POST", "/ocr", vision.ocr);
    dispatcher.addRoute("GET", "/shortcut/list", scripts.shortcutList);
    dispatcher.addRoute("POST", "/shortcut", scripts.shortcut);
    dispatcher.addRoute("POST", "/applescript/run", scripts.appleScript);
    dispatcher.addRoute("POST", "/visual/find", vision.visualFind);
}

}  // namespace pavo::agent
