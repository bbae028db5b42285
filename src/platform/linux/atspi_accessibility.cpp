#include "platform/linux/atspi_accessibility.hpp"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/linux/atspi_bulk.hpp"
#include "platform/linux/atspi_registry.hpp"
#include "platform/linux/atspi_tree_read.hpp"
#include "platform/linux/role_names.hpp"
#include "platform/linux/tree_shape.hpp"

namespace pavo::platform::linux_desktop {

namespace {

// The item list and the bulk read of an application's tree are used for this long, unless anything is
// done or posted meanwhile: one walk reads them once, and the action that follows a search reuses them.
constexpr auto kBulkReadLifetime = std::chrono::seconds(1);
// What was read of an element (also ahead of the walk reaching it) is used for this long; someone
// polling one handle still sees changes, and any action or posted input forgets it at once.
constexpr auto kNodeMemoLifetime = std::chrono::seconds(1);

bool succeeded(GError*& error) {
    if (!error) return true;
    g_clear_error(&error);
    return false;
}

// One application: its pid, and its item list and tree read, both kept for their lifetime.
struct Application {
    std::int32_t pid = 0;
    std::string busName;
    // Once the application has let one call time out, the rest of the request asks it nothing more:
    // a frozen application would otherwise cost a timeout per attribute of every element.
    bool unresponsive = false;
    bool itemsFetched = false;
    std::uint64_t itemsGeneration = 0;
    std::chrono::steady_clock::time_point itemsTime;
    BulkItems items;
    bool treeTried = false;
    std::optional<TreeRead> tree;
};

struct Basics {
    std::string roleName;
    std::string name;
    std::uint64_t states = 0;
    std::int32_t childCount = -1;    // known only from the item list
    std::optional<bool> collection;  // likewise
    std::optional<bool> action;
};

}  // namespace

class AtspiAccessibility::State {
  public:
    explicit State(std::weak_ptr<DesktopThread> thread) : thread_(std::move(thread)) {}

    // An element handle. Memoised reads are dropped whenever anything was done to any application.
    struct Node {
        AtspiAccessible* object = nullptr;
        std::shared_ptr<Application> application;
        std::uint64_t generation = 0;
        std::chrono::steady_clock::time_point memoTime;
        std::optional<Basics> basics;
        std::optional<std::optional<Frame>> frame;
        std::optional<std::string> identifier;  // "" when the application sets none
    };

    std::unique_ptr<DescendantQuery> query;
    std::atomic<std::uint64_t> generation{1};
    std::map<std::string, std::shared_ptr<Application>> applicationsByBusName;

    std::shared_ptr<Application> application(std::int32_t pid, const std::string& busName) {
        if (applicationsByBusName.size() > 64) applicationsByBusName.clear();  // long-gone applications
        // A tree read holds every object of its application: none is kept past its lifetime.
        const auto now = std::chrono::steady_clock::now();
        for (auto& [name, kept] : applicationsByBusName) {
            if (kept->tree && now - kept->itemsTime > kBulkReadLifetime) kept->tree.reset();
        }
        auto& kept = applicationsByBusName[busName];
        if (!kept || kept->pid != pid) {
            kept = std::make_shared<Application>();
            kept->pid = pid;
            kept->busName = busName;
        }
        // Each request gives an application that once did not answer another chance.
        kept->unresponsive = false;
        return kept;
    }

    AXElement wrap(AtspiAccessible* object, std::shared_ptr<Application> application) {
        auto* node =
            new Node{object, std::move(application), 0, {}, std::nullopt, std::nullopt, std::nullopt};
        // The last holder may be any thread; the release itself must happen on the desktop thread.
        std::weak_ptr<DesktopThread> thread = thread_;
        return AXElement(std::shared_ptr<void>(node, [thread](void* raw) {
            auto* dying = static_cast<Node*>(raw);
            auto owner = thread.lock();
            if (owner && !owner->isCurrent()) {
                owner->post([dying] {
                    g_object_unref(dying->object);
                    delete dying;
                });
                return;
            }
            g_object_unref(dying->object);
            delete dying;
        }));
    }

    static Node* node(const AXElement& element) { return static_cast<Node*>(element.reference().get()); }

    void fresh(Node& n) {
        const std::uint64_t current = generation.load();
        const auto now = std::chrono::steady_clock::now();
        if (n.generation == current && now - n.memoTime < kNodeMemoLifetime) return;
        n.generation = current;
        n.memoTime = now;
        n.basics.reset();
        n.frame.reset();
        n.identifier.reset();
    }

    // The application's bulk reads as they stand now: fetched again once stale.
    Application& current(Node& n) {
        Application& application = *n.application;
        const bool stale = application.itemsGeneration != generation.load() ||
                           std::chrono::steady_clock::now() - application.itemsTime > kBulkReadLifetime;
        if (application.itemsFetched && !stale) return application;
        application.itemsFetched = true;
        application.itemsGeneration = generation.load();
        application.itemsTime = std::chrono::steady_clock::now();
        application.items.clear();
        application.tree.reset();
        application.treeTried = false;
        AtspiApplication* app = n.object->parent.app;
        if (application.unresponsive || !app || !app->bus || !app->bus_name) return application;
        BulkFailure failure = BulkFailure::none;
        if (auto items = fetchBulkItems(app->bus, app->bus_name, failure))
            application.items = std::move(*items);
        if (failure == BulkFailure::unanswered) application.unresponsive = true;
        return application;
    }

    const BulkItem* listedItem(Node& n) {
        if (!n.application) return nullptr;
        const Application& application = current(n);
        auto it = application.items.find(pathOf(n.object));
        return it == application.items.end() ? nullptr : &it->second;
    }

    const Basics& basics(Node& n) {
        fresh(n);
        if (n.basics) return *n.basics;
        Basics b;
        if (n.application && n.application->unresponsive) {
            n.basics = std::move(b);
            return *n.basics;
        }
        const auto start = std::chrono::steady_clock::now();
        if (const BulkItem* item = listedItem(n)) {
            b.roleName = takeString(atspi_role_get_name(item->role));
            b.name = item->name;
            b.states = item->states;
            b.childCount = item->childCount;
            if (item->interfacesKnown) {
                b.collection = item->collection;
                b.action = item->action;
            }
        } else {
            GError* error = nullptr;
            const AtspiRole role = atspi_accessible_get_role(n.object, &error);
            if (succeeded(error)) b.roleName = takeString(atspi_role_get_name(role));
            b.name = takeString(atspi_accessible_get_name(n.object, &error));
            succeeded(error);
            if (AtspiStateSet* set = atspi_accessible_get_state_set(n.object)) {
                if (GArray* states = atspi_state_set_get_states(set)) {
                    for (guint i = 0; i < states->len; ++i)
                        b.states |= stateBit(g_array_index(states, AtspiStateType, i));
                    g_array_free(states, TRUE);
                }
                g_object_unref(set);
            }
            if (b.roleName.empty() && n.application &&
                std::chrono::steady_clock::now() - start >= kUnanswered) {
                n.application->unresponsive = true;
            }
        }
        n.basics = std::move(b);
        return *n.basics;
    }

    // Only what is showing has a frame; an application has none at all.
    static bool wantsExtents(const Basics& b) {
        return b.roleName != "application" && (b.states & stateBit(ATSPI_STATE_SHOWING));
    }

    // A walk begins at the application; from there the whole tree is read in bulk when it can be.
    void readTree(Node& root) {
        Application& application = current(root);
        if (application.tree || application.treeTried || application.unresponsive) return;
        application.treeTried = true;
        application.tree = linux_desktop::readTree(root.object, *query, application.items);
    }

    // Absent for anything not on screen: hidden elements, and those that report the off-screen sentinel.
    const std::optional<Frame>& frame(Node& n) {
        fresh(n);
        if (n.frame) return *n.frame;
        const Basics& b = basics(n);
        std::optional<Frame> result;
        if (wantsExtents(b)) {
            if (n.application) {
                if (const auto& tree = current(n).tree) {
                    if (auto known = tree->frames.find(pathOf(n.object)); known != tree->frames.end()) {
                        n.frame = known->second;
                        return *n.frame;
                    }
                }
            }
            GError* error = nullptr;
            AtspiRect* rect =
                atspi_component_get_extents(ATSPI_COMPONENT(n.object), ATSPI_COORD_TYPE_SCREEN, &error);
            if (succeeded(error) && rect)
                result = onScreenFrame({rect->x, rect->y, rect->width, rect->height});
            if (rect) g_free(rect);
        }
        n.frame = result;
        return *n.frame;
    }

    // Reads the accessible id and the on-screen extents of a whole row of siblings in one batch, so the row
    // costs about one round trip instead of two per element. Whatever does not come back is read one by
    // one later, as without this.
    void readAhead(const std::vector<Node*>& row) {
        if (row.empty() || !row.front()->application || row.front()->application->unresponsive) return;
        AtspiApplication* app = row.front()->object->parent.app;
        if (!app || !app->bus || !app->bus_name) return;
        std::vector<BulkReadRequest> reads;
        std::vector<Node*> readFor;
        for (Node* n : row) {
            const Basics& b = basics(*n);
            reads.push_back({pathOf(n->object), BulkRead::identifier});
            readFor.push_back(n);
            if (wantsExtents(b)) {
                reads.push_back({pathOf(n->object), BulkRead::extents});
                readFor.push_back(n);
            }
        }
        pipelinedReads(app->bus, app->bus_name, reads, [&](std::size_t index, const BulkReadReply& reply) {
            if (reply.identifier) readFor[index]->identifier = *reply.identifier;
            if (reply.extents) readFor[index]->frame = onScreenFrame(*reply.extents);
        });
    }

    std::optional<std::string> treeText(Node& n) {
        if (!n.application || !current(n).tree) return std::nullopt;
        const auto& texts = n.application->tree->texts;
        auto known = texts.find(pathOf(n.object));
        if (known == texts.end()) return std::nullopt;
        return known->second;
    }

    std::optional<std::string> identifier(Node& n) {
        fresh(n);
        if (!n.identifier) {
            if (n.application && n.application->unresponsive) return std::nullopt;
            if (n.application) {
                if (const auto& tree = current(n).tree) {
                    if (auto known = tree->identifiers.find(pathOf(n.object));
                        known != tree->identifiers.end()) {
                        n.identifier = known->second;
                        return n.identifier;
                    }
                }
            }
            GError* error = nullptr;
            std::string id = takeString(atspi_accessible_get_accessible_id(n.object, &error));
            if (!succeeded(error)) return std::nullopt;
            n.identifier = std::move(id);
        }
        return n.identifier;
    }

    // `hasCollection`: whether the object has the Collection interface, when the item list said.
    std::optional<std::vector<AtspiAccessible*>> childObjects(AtspiAccessible* object, std::size_t limit,
                                                              std::optional<bool> hasCollection) {
        GError* error = nullptr;
        // One call for all children, in the application's order; children are never cached, since the
        // cache is only kept right by events this thread does not listen to. Asking libatspi for the
        // interface would cost two more round trips (state and interfaces) per parent.
        AtspiCollection* collection = nullptr;
        if (hasCollection.value_or(true)) {
            collection = hasCollection ? ATSPI_COLLECTION(g_object_ref(object))
                                       : atspi_accessible_get_collection_iface(object);
        }
        if (collection) {
            auto matches = query->matches(collection, limit, false);
            g_object_unref(collection);
            if (matches) {
                std::vector<AtspiAccessible*> out;
                for (auto& match : *matches) out.push_back(match.release());
                if (out.size() > limit) {
                    for (std::size_t i = limit; i < out.size(); ++i) g_object_unref(out[i]);
                    out.resize(limit);
                }
                return out;
            }
        }
        const gint count = atspi_accessible_get_child_count(object, &error);
        if (!succeeded(error) || count < 0) return std::nullopt;
        std::vector<AtspiAccessible*> out;
        for (gint i = 0; i < count && out.size() < limit; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(object, i, &error);
            if (!succeeded(error) || !child) {
                for (auto* c : out) g_object_unref(c);
                return std::nullopt;
            }
            out.push_back(child);
        }
        return out;
    }

    void changed() { generation.fetch_add(1); }

  private:
    std::weak_ptr<DesktopThread> thread_;
};

namespace {

using Node = AtspiAccessibility::State::Node;

constexpr std::array<std::string_view, 4> kPressActions{"click", "press", "activate", "toggle"};

// `hasAction`: whether the object has the Action interface, when the item list said.
std::optional<int> actionIndex(AtspiAccessible* object, std::optional<bool> hasAction) {
    if (hasAction == false) return std::nullopt;
    AtspiAction* action =
        hasAction ? ATSPI_ACTION(g_object_ref(object)) : atspi_accessible_get_action_iface(object);
    if (!action) return std::nullopt;
    GError* error = nullptr;
    const gint count = atspi_action_get_n_actions(action, &error);
    std::optional<int> found;
    std::size_t rank = kPressActions.size();
    if (succeeded(error)) {
        for (gint i = 0; i < count; ++i) {
            const std::string name = takeString(atspi_action_get_action_name(action, i, &error));
            if (!succeeded(error)) continue;
            for (std::size_t r = 0; r < rank; ++r) {
                if (name == kPressActions[r]) {
                    rank = r;
                    found = i;
                }
            }
        }
    }
    g_object_unref(action);
    return found;
}

std::optional<WheelDirection> scrollDirection(std::string_view action) {
    constexpr std::string_view prefix = "AXScroll";
    if (action.substr(0, prefix.size()) != prefix) return std::nullopt;
    std::string_view rest = action.substr(prefix.size());
    if (rest.size() > 6 && rest.substr(rest.size() - 6) == "ByPage") rest.remove_suffix(6);
    if (rest == "Up") return WheelDirection::up;
    if (rest == "Down") return WheelDirection::down;
    if (rest == "Left") return WheelDirection::left;
    if (rest == "Right") return WheelDirection::right;
    return std::nullopt;
}

}  // namespace

AtspiAccessibility::AtspiAccessibility(std::shared_ptr<DesktopThread> thread, WheelScroller scroll)
    : thread_(std::move(thread)), state_(std::make_shared<State>(thread_)), scroll_(std::move(scroll)) {
    thread_->run([this] {
        registry_ = AtspiRegistry::connect();
        if (!registry_) return;
        state_->query = std::make_unique<DescendantQuery>();
    });
}

AtspiAccessibility::~AtspiAccessibility() {
    thread_->run([this] {
        state_->applicationsByBusName.clear();
        state_->query.reset();
        registry_.reset();
    });
}

bool AtspiAccessibility::isProcessTrusted() {
    return thread_->run([this] { return registry_ && registry_->reachable(); });
}

AXElement AtspiAccessibility::applicationElement(std::int32_t pid) {
    return thread_->run([this, pid] {
        auto found = registry_ ? registry_->application(pid) : std::nullopt;
        if (!found) return AXElement();
        return state_->wrap(found->object.release(), state_->application(pid, found->busName));
    });
}

std::optional<std::int32_t> AtspiAccessibility::elementPid(const AXElement& element) {
    // Every handle belongs to the application it was found in.
    Node* n = State::node(element);
    if (!n || !n->application) return std::nullopt;
    return n->application->pid;
}

std::optional<std::string> AtspiAccessibility::stringAttribute(const AXElement& element,
                                                               std::string_view name) {
    Node* n = State::node(element);
    if (!n) return std::nullopt;
    return thread_->run([this, n, name]() -> std::optional<std::string> {
        const Basics& b = state_->basics(*n);
        if (name == "AXRole") {
            if (b.roleName.empty()) return std::nullopt;
            return axRoleName(b.roleName, (b.states & stateBit(ATSPI_STATE_MULTI_LINE)) != 0);
        }
        if (name == "AXTitle") {
            if (b.name.empty()) return std::nullopt;
            return b.name;
        }
        if (name == "AXValue") {
            if (!isTextRole(b.roleName)) return std::nullopt;
            if (auto known = state_->treeText(*n)) return known;
            GError* error = nullptr;
            std::string text = takeString(atspi_text_get_text(ATSPI_TEXT(n->object), 0, -1, &error));
            if (!succeeded(error)) return std::nullopt;
            return text;
        }
        if (name == "AXIdentifier") {
            auto id = state_->identifier(*n);
            if (!id || id->empty()) return std::nullopt;
            return id;
        }
        return std::nullopt;
    });
}

std::optional<bool> AtspiAccessibility::booleanAttribute(const AXElement& element, std::string_view name) {
    Node* n = State::node(element);
    if (!n) return std::nullopt;
    return thread_->run([this, n, name]() -> std::optional<bool> {
        const Basics& b = state_->basics(*n);
        if (b.roleName.empty()) return std::nullopt;
        if (name == "AXEnabled") return (b.states & stateBit(ATSPI_STATE_ENABLED)) != 0;
        if (name == "AXFocused") return (b.states & stateBit(ATSPI_STATE_FOCUSED)) != 0;
        return std::nullopt;
    });
}

std::optional<AXPoint> AtspiAccessibility::position(const AXElement& element) {
    Node* n = State::node(element);
    if (!n) return std::nullopt;
    return thread_->run([this, n]() -> std::optional<AXPoint> {
        const auto& frame = state_->frame(*n);
        if (!frame) return std::nullopt;
        return frame->position;
    });
}

std::optional<AXSize> AtspiAccessibility::size(const AXElement& element) {
    Node* n = State::node(element);
    if (!n) return std::nullopt;
    return thread_->run([this, n]() -> std::optional<AXSize> {
        const auto& frame = state_->frame(*n);
        if (!frame) return std::nullopt;
        return frame->size;
    });
}

std::optional<std::vector<AXElement>> AtspiAccessibility::children(const AXElement& element,
                                                                   std::size_t limit) {
    Node* n = State::node(element);
    if (!n) return std::nullopt;
    return thread_->run([this, n, limit]() -> std::optional<std::vector<AXElement>> {
        if (n->application && n->application->unresponsive) return std::nullopt;
        // A leaf, as the item list read for this walk says, needs no call.
        const Basics& basics = state_->basics(*n);
        if (basics.childCount == 0) return std::vector<AXElement>{};
        // A walk begins at the application; from there the whole tree is read in bulk when it can be.
        if (basics.roleName == "application") state_->readTree(*n);
        const TreeRead* tree = nullptr;
        if (n->application && state_->current(*n).tree) tree = &*n->application->tree;
        if (tree) {
            if (auto known = tree->children.find(pathOf(n->object)); known != tree->children.end()) {
                std::vector<AXElement> out;
                for (const auto& child : known->second) {
                    if (out.size() == std::min(limit, kMaxChildren)) break;
                    out.push_back(state_->wrap(ATSPI_ACCESSIBLE(g_object_ref(child.get())), n->application));
                }
                return out;
            }
        }
        auto objects = state_->childObjects(n->object, std::min(limit, kMaxChildren), basics.collection);
        if (!objects) return std::nullopt;
        std::vector<AXElement> out;
        std::vector<State::Node*> row;
        out.reserve(objects->size());
        for (AtspiAccessible* child : *objects) {
            out.push_back(state_->wrap(child, n->application));
            row.push_back(State::node(out.back()));
        }
        // Whoever asks for children nearly always reads them next.
        state_->readAhead(row);
        return out;
    });
}

bool AtspiAccessibility::performAction(const AXElement& element, std::string_view action) {
    Node* n = State::node(element);
    if (!n) return false;
    if (auto direction = scrollDirection(action)) {
        const auto centre = thread_->run([this, n]() -> std::optional<AXPoint> {
            const auto& frame = state_->frame(*n);
            if (!frame) return std::nullopt;
            return AXPoint{frame->position.x + frame->size.width / 2,
                           frame->position.y + frame->size.height / 2};
        });
        if (!centre || !scroll_) return false;
        state_->changed();
        return scroll_(*centre, *direction);
    }
    if (action != "AXPress") return false;
    return thread_->run([this, n] {
        const auto index = actionIndex(n->object, state_->basics(*n).action);
        if (!index) return false;
        GError* error = nullptr;
        const bool done = atspi_action_do_action(ATSPI_ACTION(n->object), *index, &error);
        state_->changed();
        return succeeded(error) && done;
    });
}

bool AtspiAccessibility::setAttribute(const AXElement& element, std::string_view name,
                                      const AXAttributeValue& value) {
    Node* n = State::node(element);
    if (!n) return false;
    return thread_->run([this, n, name, &value] {
        GError* error = nullptr;
        bool done = false;
        if (name == "AXValue" && std::holds_alternative<std::string>(value)) {
            AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(n->object);
            if (!editable) return false;
            done =
                atspi_editable_text_set_text_contents(editable, std::get<std::string>(value).c_str(), &error);
            g_object_unref(editable);
        } else if (name == "AXFocused" && std::holds_alternative<bool>(value) && std::get<bool>(value)) {
            // Also raises and activates a background application's window, a moment later.
            done = atspi_component_grab_focus(ATSPI_COMPONENT(n->object), &error);
        } else {
            return false;
        }
        state_->changed();
        return succeeded(error) && done;
    });
}

void AtspiAccessibility::screenChanged() {
    state_->changed();
}

std::optional<std::int32_t> AtspiAccessibility::activeToplevelPid() {
    return thread_->run([this] { return registry_ ? registry_->activeToplevelPid() : std::nullopt; });
}

}  // namespace pavo::platform::linux_desktop
