#pragma once
// The agent's route table, assembled from the features' routes in the table's order.

namespace pavo::agent {

class Dispatcher;
class ConsentGate;
struct AXContext;
struct KeysContext;
struct ScriptTools;
struct VisionContext;

// What the features' handlers hold on to for the life of the server.
struct Features {
    AXContext& accessibility;
    const ConsentGate& gate;
    KeysContext& keys;
    const ScriptTools& scripts;
    VisionContext& vision;
};

void registerRoutes(Dispatcher& dispatcher, const Features& features);

}  // namespace pavo::agent
