#include "platform/linux/atspi_accessibility.hpp"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <string>
#include <unordered_map>

#include "platform/linux/role_names.hpp"

namespace pavo::platform::linux_desktop {

namespace {

// Long enough for a busy application to answer, short enough that a frozen one cannot stall the agent.
constexpr int kCallTimeoutMs = 500;
// A failed call that took this long means the application did not answer at all.
constexpr auto kUnanswered = std::chrono::milliseconds(kCallTimeoutMs * 8 / 10);
// The item list is read once per walk; a walk that outlives this reads a fresh one.
constexpr auto kItemListLifetime = std::chrono::seconds(1);
// What was read of an element (also ahead of the walk reaching it) is used for this long; someone
// polling one handle still sees changes, and any action or posted input forgets it at once.
constexpr auto kNodeMemoLifetime = std::chrono::seconds(1);

std::string takeString(gchar* text) {
    if (!text) return {};
    std::string out(text);
    g_free(text);
    return out;
}

bool succeeded(GError*& error) {
    if (!error) return true;
    g_clear_error(&error);
    return false;
}

std::uint64_t stateBit(AtspiStateType state) { return std::uint64_t{1} << static_cast<unsigned>(state); }

// What one bulk reply tells about an element: enough for role, title and flags without further calls.
struct Item {
    AtspiRole role = ATSPI_ROLE_INVALID;
    std::int32_t childCount = -1;
    std::string name;
    std::uint64_t states = 0;
    // Interfaces it lists that the walk and the press use; knowing them saves libatspi's own lookup, a
    // state and an interface round trip each time.
    bool collection = false;
    bool action = false;
};

// One application: its pid, and the item list fetched once per walk and kept for its lifetime, so the
// action that follows a search within it does not fetch the list again.
struct Application {
    std::int32_t pid = 0;
    std::string busName;
    // Once the application has let one call time out, the rest of the request asks it nothing more:
    // a frozen application would otherwise cost a timeout per attribute of every element.
    bool unresponsive = false;
    bool itemsFetched = false;
    std::uint64_t itemsGeneration = 0;
    std::chrono::steady_clock::time_point itemsTime;
    std::unordered_map<std::string, Item> items;
};

struct Basics {
    std::string roleName;
    std::string name;
    std::uint64_t states = 0;
    std::int32_t childCount = -1;  // known only from the item list
    std::optional<bool> collection;  // likewise
    std::optional<bool> action;
};

struct Frame {
    AXPoint position;
    AXSize size;
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

    bool initialised = false;
    AtspiAccessible* desktop = nullptr;
    AtspiMatchRule* everything = nullptr;
    std::atomic<std::uint64_t> generation{1};
    std::map<std::string, std::int32_t> pidsByBusName;
    std::map<std::string, std::shared_ptr<Application>> applicationsByBusName;

    std::shared_ptr<Application> application(std::int32_t pid, const std::string& busName) {
        if (applicationsByBusName.size() > 64) applicationsByBusName.clear();  // long-gone applications
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
        auto* node = new Node{object, std::move(application), 0, {}, std::nullopt, std::nullopt, std::nullopt};
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

    std::int32_t pidOf(AtspiAccessible* object) {
        AtspiApplication* app = object->parent.app;
        const std::string busName = app && app->bus_name ? app->bus_name : "";
        if (!busName.empty()) {
            if (auto it = pidsByBusName.find(busName); it != pidsByBusName.end()) return it->second;
        }
        GError* error = nullptr;
        const guint pid = atspi_accessible_get_process_id(object, &error);
        if (!succeeded(error)) return 0;
        const auto value = static_cast<std::int32_t>(pid);
        // Bus names are never reused while the bus lives, so the answer stays true.
        if (!busName.empty()) pidsByBusName[busName] = value;
        return value;
    }

    // The bus names of the registered applications, in the registry's order, in one round trip (libatspi
    // asks for them one at a time); nothing when the registry does not say.
    std::optional<std::vector<std::string>> registeredBusNames() {
        AtspiApplication* registry = desktop ? desktop->parent.app : nullptr;
        if (!registry || !registry->bus || !registry->bus_name || !desktop->parent.path) return std::nullopt;
        DBusMessage* call = dbus_message_new_method_call(registry->bus_name, desktop->parent.path,
                                                         "org.a11y.atspi.Accessible", "GetChildren");
        if (!call) return std::nullopt;
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(registry->bus, call, kCallTimeoutMs, &error);
        dbus_message_unref(call);
        if (!reply) {
            dbus_error_free(&error);
            return std::nullopt;
        }
        std::optional<std::vector<std::string>> names;
        DBusMessageIter top, array;
        if (std::string_view(dbus_message_get_signature(reply)) == "a(so)" && dbus_message_iter_init(reply, &top)) {
            names.emplace();
            dbus_message_iter_recurse(&top, &array);
            for (; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&array)) {
                DBusMessageIter reference;
                dbus_message_iter_recurse(&array, &reference);
                const char* name = nullptr;
                dbus_message_iter_get_basic(&reference, &name);
                names->push_back(name ? name : "");
            }
        }
        dbus_message_unref(reply);
        return names;
    }

    void fetchItems(AtspiAccessible* object, Application& application) {
        application.itemsFetched = true;
        application.itemsGeneration = generation.load();
        application.itemsTime = std::chrono::steady_clock::now();
        application.items.clear();
        AtspiApplication* app = object->parent.app;
        if (!app || !app->bus || !app->bus_name) return;
        DBusMessage* call = dbus_message_new_method_call(app->bus_name, "/org/a11y/atspi/cache",
                                                         "org.a11y.atspi.Cache", "GetItems");
        if (!call) return;
        DBusError error;
        dbus_error_init(&error);
        const auto start = std::chrono::steady_clock::now();
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(app->bus, call, kCallTimeoutMs, &error);
        dbus_message_unref(call);
        if (!reply) {
            dbus_error_free(&error);
            if (std::chrono::steady_clock::now() - start >= kUnanswered) application.unresponsive = true;
            return;
        }
        if (std::string_view(dbus_message_get_signature(reply)) == "a((so)(so)(so)iiassusau)") {
            readItems(reply, application.items);
        }
        dbus_message_unref(reply);
    }

    // The signature was checked by the caller; types are still checked field by field, since libdbus
    // aborts the process on a mismatched read.
    static void readItems(DBusMessage* reply, std::unordered_map<std::string, Item>& items) {
        DBusMessageIter top, array;
        dbus_message_iter_init(reply, &top);
        dbus_message_iter_recurse(&top, &array);
        for (; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&array)) {
            DBusMessageIter field, reference;
            dbus_message_iter_recurse(&array, &field);
            if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_STRUCT) continue;
            dbus_message_iter_recurse(&field, &reference);  // self: (bus name, path)
            dbus_message_iter_next(&reference);
            if (dbus_message_iter_get_arg_type(&reference) != DBUS_TYPE_OBJECT_PATH) continue;
            const char* path = nullptr;
            dbus_message_iter_get_basic(&reference, &path);
            // application, parent, index in parent, then the child count
            for (int skip = 0; skip < 4; ++skip) dbus_message_iter_next(&field);
            if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_INT32) continue;
            Item item;
            dbus_int32_t childCount = -1;
            dbus_message_iter_get_basic(&field, &childCount);
            item.childCount = childCount;
            dbus_message_iter_next(&field);
            if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_ARRAY) continue;
            DBusMessageIter interfaces;
            dbus_message_iter_recurse(&field, &interfaces);
            for (; dbus_message_iter_get_arg_type(&interfaces) == DBUS_TYPE_STRING; dbus_message_iter_next(&interfaces)) {
                const char* interface = nullptr;
                dbus_message_iter_get_basic(&interfaces, &interface);
                const std::string_view name = interface ? interface : "";
                if (name == "org.a11y.atspi.Collection") item.collection = true;
                if (name == "org.a11y.atspi.Action") item.action = true;
            }
            dbus_message_iter_next(&field);
            if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_STRING) continue;
            const char* name = nullptr;
            dbus_message_iter_get_basic(&field, &name);
            item.name = name ? name : "";
            dbus_message_iter_next(&field);
            if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_UINT32) continue;
            dbus_uint32_t role = 0;
            dbus_message_iter_get_basic(&field, &role);
            item.role = static_cast<AtspiRole>(role);
            dbus_message_iter_next(&field);  // description
            dbus_message_iter_next(&field);
            if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_ARRAY) continue;
            DBusMessageIter states;
            dbus_message_iter_recurse(&field, &states);
            for (unsigned word = 0; word < 2 && dbus_message_iter_get_arg_type(&states) == DBUS_TYPE_UINT32;
                 ++word, dbus_message_iter_next(&states)) {
                dbus_uint32_t bits = 0;
                dbus_message_iter_get_basic(&states, &bits);
                item.states |= static_cast<std::uint64_t>(bits) << (32 * word);
            }
            if (path) items[path] = std::move(item);
        }
    }

    const Item* listedItem(Node& n) {
        if (!n.application) return nullptr;
        Application& application = *n.application;
        const bool stale = application.itemsGeneration != generation.load() ||
                           std::chrono::steady_clock::now() - application.itemsTime > kItemListLifetime;
        if (!application.itemsFetched || stale) fetchItems(n.object, application);
        auto it = application.items.find(n.object->parent.path ? n.object->parent.path : "");
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
        if (const Item* item = listedItem(n)) {
            b.roleName = takeString(atspi_role_get_name(item->role));
            b.name = item->name;
            b.states = item->states;
            b.childCount = item->childCount;
            b.collection = item->collection;
            b.action = item->action;
        } else {
            GError* error = nullptr;
            const AtspiRole role = atspi_accessible_get_role(n.object, &error);
            if (succeeded(error)) b.roleName = takeString(atspi_role_get_name(role));
            b.name = takeString(atspi_accessible_get_name(n.object, &error));
            succeeded(error);
            if (AtspiStateSet* set = atspi_accessible_get_state_set(n.object)) {
                if (GArray* states = atspi_state_set_get_states(set)) {
                    for (guint i = 0; i < states->len; ++i) b.states |= stateBit(g_array_index(states, AtspiStateType, i));
                    g_array_free(states, TRUE);
                }
                g_object_unref(set);
            }
            if (b.roleName.empty() && n.application && std::chrono::steady_clock::now() - start >= kUnanswered) {
                n.application->unresponsive = true;
            }
        }
        n.basics = std::move(b);
        return *n.basics;
    }

    // Absent for anything not on screen: hidden elements, and those that report the off-screen sentinel.
    const std::optional<Frame>& frame(Node& n) {
        fresh(n);
        if (n.frame) return *n.frame;
        const Basics& b = basics(n);
        std::optional<Frame> result;
        if (b.roleName != "application" && (b.states & stateBit(ATSPI_STATE_SHOWING))) {
            GError* error = nullptr;
            AtspiRect* rect = atspi_component_get_extents(ATSPI_COMPONENT(n.object), ATSPI_COORD_TYPE_SCREEN, &error);
            if (succeeded(error) && rect) result = onScreenFrame(rect->x, rect->y, rect->width, rect->height);
            if (rect) g_free(rect);
        }
        n.frame = result;
        return *n.frame;
    }

    // Reads the accessible id and the on-screen extents of a whole row of siblings with every request
    // sent before any reply is awaited, so the row costs about one round trip instead of two per element.
    // Whatever does not come back is read one by one later, as without this.
    void readAhead(const std::vector<Node*>& row) {
        if (row.empty() || !row.front()->application || row.front()->application->unresponsive) return;
        AtspiApplication* app = row.front()->object->parent.app;
        if (!app || !app->bus || !app->bus_name) return;
        struct Pending {
            Node* node;
            DBusPendingCall* call;
            bool extents;
        };
        std::vector<Pending> pending;
        auto send = [&](Node* n, DBusMessage* message, bool extents) {
            if (!message) return;
            DBusPendingCall* call = nullptr;
            if (dbus_connection_send_with_reply(app->bus, message, &call, kCallTimeoutMs) && call) {
                pending.push_back({n, call, extents});
            }
            dbus_message_unref(message);
        };
        const char* accessibleInterface = "org.a11y.atspi.Accessible";
        const char* idProperty = "AccessibleId";
        const dbus_uint32_t screen = ATSPI_COORD_TYPE_SCREEN;
        for (Node* n : row) {
            const char* path = n->object->parent.path;
            if (!path) continue;
            const Basics& b = basics(*n);
            DBusMessage* id = dbus_message_new_method_call(app->bus_name, path, "org.freedesktop.DBus.Properties", "Get");
            if (id) dbus_message_append_args(id, DBUS_TYPE_STRING, &accessibleInterface, DBUS_TYPE_STRING, &idProperty,
                                             DBUS_TYPE_INVALID);
            send(n, id, false);
            if (b.roleName != "application" && (b.states & stateBit(ATSPI_STATE_SHOWING))) {
                DBusMessage* extents = dbus_message_new_method_call(app->bus_name, path, "org.a11y.atspi.Component",
                                                                    "GetExtents");
                if (extents) dbus_message_append_args(extents, DBUS_TYPE_UINT32, &screen, DBUS_TYPE_INVALID);
                send(n, extents, true);
            }
        }
        dbus_connection_flush(app->bus);
        for (const Pending& p : pending) {
            dbus_pending_call_block(p.call);
            DBusMessage* reply = dbus_pending_call_steal_reply(p.call);
            dbus_pending_call_unref(p.call);
            if (!reply) continue;
            if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN) {
                if (p.extents) {
                    readExtents(reply, *p.node);
                } else {
                    readIdentifier(reply, *p.node);
                }
            }
            dbus_message_unref(reply);
        }
    }

    static void readIdentifier(DBusMessage* reply, Node& n) {
        DBusMessageIter top, variant;
        if (!dbus_message_iter_init(reply, &top) || dbus_message_iter_get_arg_type(&top) != DBUS_TYPE_VARIANT) return;
        dbus_message_iter_recurse(&top, &variant);
        if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_STRING) return;
        const char* id = nullptr;
        dbus_message_iter_get_basic(&variant, &id);
        n.identifier = id ? id : "";
    }

    static void readExtents(DBusMessage* reply, Node& n) {
        DBusMessageIter top, rect;
        if (!dbus_message_iter_init(reply, &top) || dbus_message_iter_get_arg_type(&top) != DBUS_TYPE_STRUCT) return;
        dbus_message_iter_recurse(&top, &rect);
        std::array<dbus_int32_t, 4> values{};
        for (auto& value : values) {
            if (dbus_message_iter_get_arg_type(&rect) != DBUS_TYPE_INT32) return;
            dbus_message_iter_get_basic(&rect, &value);
            dbus_message_iter_next(&rect);
        }
        n.frame = onScreenFrame(values[0], values[1], values[2], values[3]);
    }

    static std::optional<Frame> onScreenFrame(int x, int y, int width, int height) {
        if (x == INT_MIN || y == INT_MIN || width < 0 || height < 0) return std::nullopt;
        return Frame{{static_cast<double>(x), static_cast<double>(y)},
                     {static_cast<double>(width), static_cast<double>(height)}};
    }

    std::optional<std::string> identifier(Node& n) {
        fresh(n);
        if (!n.identifier) {
            if (n.application && n.application->unresponsive) return std::nullopt;
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
            collection = hasCollection ? ATSPI_COLLECTION(g_object_ref(object)) : atspi_accessible_get_collection_iface(object);
        }
        if (collection) {
            GArray* matches = atspi_collection_get_matches(collection, everything, ATSPI_Collection_SORT_ORDER_CANONICAL,
                                                           static_cast<gint>(limit), FALSE, &error);
            g_object_unref(collection);
            if (succeeded(error) && matches) {
                std::vector<AtspiAccessible*> out;
                for (guint i = 0; i < matches->len; ++i) out.push_back(g_array_index(matches, AtspiAccessible*, i));
                g_array_free(matches, TRUE);
                if (out.size() > limit) {
                    for (std::size_t i = limit; i < out.size(); ++i) g_object_unref(out[i]);
                    out.resize(limit);
                }
                return out;
            }
            if (matches) g_array_free(matches, TRUE);
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
    AtspiAction* action = hasAction ? ATSPI_ACTION(g_object_ref(object)) : atspi_accessible_get_action_iface(object);
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
        // 0 first time, 1 when already done in this process; anything else means no accessibility bus,
        // and then no other libatspi call may be made.
        const int status = atspi_init();
        if (status != 0 && status != 1) return;
        atspi_set_timeout(kCallTimeoutMs, kCallTimeoutMs);
        state_->initialised = true;
        state_->desktop = atspi_get_desktop(0);
        state_->everything = atspi_match_rule_new(nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
                                                  ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                                  nullptr, ATSPI_Collection_MATCH_ALL, FALSE);
    });
}

AtspiAccessibility::~AtspiAccessibility() {
    thread_->run([this] {
        if (state_->everything) g_object_unref(state_->everything);
        if (state_->desktop) g_object_unref(state_->desktop);
        state_->everything = nullptr;
        state_->desktop = nullptr;
    });
}

bool AtspiAccessibility::isProcessTrusted() {
    return thread_->run([this] {
        if (!state_->initialised || !state_->desktop) return false;
        // A real round trip to the registry, not the remembered list of applications.
        atspi_accessible_clear_cache(state_->desktop);
        GError* error = nullptr;
        const gint count = atspi_accessible_get_child_count(state_->desktop, &error);
        return succeeded(error) && count >= 0;
    });
}

AXElement AtspiAccessibility::applicationElement(std::int32_t pid) {
    return thread_->run([this, pid] {
        if (!state_->initialised || !state_->desktop) return AXElement();
        GError* error = nullptr;
        // Applications whose pids are known are matched from one listing; only when one is new, or the
        // listing changed in between, is every application asked on its own.
        if (auto names = state_->registeredBusNames()) {
            bool allKnown = true;
            for (std::size_t i = 0; i < names->size(); ++i) {
                auto known = state_->pidsByBusName.find((*names)[i]);
                if (known == state_->pidsByBusName.end()) {
                    allKnown = false;
                    continue;
                }
                if (known->second != pid) continue;
                atspi_accessible_clear_cache(state_->desktop);
                AtspiAccessible* app = atspi_accessible_get_child_at_index(state_->desktop, static_cast<gint>(i), &error);
                if (!succeeded(error) || !app) break;
                if (app->parent.app && app->parent.app->bus_name && (*names)[i] == app->parent.app->bus_name) {
                    return state_->wrap(app, state_->application(pid, (*names)[i]));
                }
                g_object_unref(app);
                break;
            }
            if (allKnown && std::none_of(names->begin(), names->end(), [&](const std::string& name) {
                    return state_->pidsByBusName.at(name) == pid;
                })) {
                return AXElement();
            }
        }
        atspi_accessible_clear_cache(state_->desktop);
        const gint count = atspi_accessible_get_child_count(state_->desktop, &error);
        if (!succeeded(error)) return AXElement();
        for (gint i = 0; i < count; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(state_->desktop, i, &error);
            if (!succeeded(error) || !app) continue;
            if (state_->pidOf(app) == pid) {
                const std::string busName = app->parent.app && app->parent.app->bus_name ? app->parent.app->bus_name : "";
                return state_->wrap(app, state_->application(pid, busName));
            }
            g_object_unref(app);
        }
        return AXElement();
    });
}

std::optional<std::int32_t> AtspiAccessibility::elementPid(const AXElement& element) {
    Node* n = State::node(element);
    if (!n) return std::nullopt;
    if (n->application) return n->application->pid;
    return thread_->run([this, n]() -> std::optional<std::int32_t> {
        const std::int32_t pid = state_->pidOf(n->object);
        if (pid <= 0) return std::nullopt;
        return pid;
    });
}

std::optional<std::string> AtspiAccessibility::stringAttribute(const AXElement& element, std::string_view name) {
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

std::optional<std::vector<AXElement>> AtspiAccessibility::children(const AXElement& element, std::size_t limit) {
    Node* n = State::node(element);
    if (!n) return std::nullopt;
    return thread_->run([this, n, limit]() -> std::optional<std::vector<AXElement>> {
        if (n->application && n->application->unresponsive) return std::nullopt;
        // A leaf, as the item list read for this walk says, needs no call.
        const Basics& basics = state_->basics(*n);
        if (basics.childCount == 0) return std::vector<AXElement>{};
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
            return AXPoint{frame->position.x + frame->size.width / 2, frame->position.y + frame->size.height / 2};
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
            done = atspi_editable_text_set_text_contents(editable, std::get<std::string>(value).c_str(), &error);
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

void AtspiAccessibility::screenChanged() { state_->changed(); }

std::optional<std::int32_t> AtspiAccessibility::activeToplevelPid() {
    return thread_->run([this]() -> std::optional<std::int32_t> {
        if (!state_->initialised || !state_->desktop) return std::nullopt;
        atspi_accessible_clear_cache(state_->desktop);
        GError* error = nullptr;
        const gint count = atspi_accessible_get_child_count(state_->desktop, &error);
        if (!succeeded(error)) return std::nullopt;
        std::optional<std::int32_t> found;
        for (gint i = 0; i < count && !found; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(state_->desktop, i, &error);
            if (!succeeded(error) || !app) continue;
            const gint windows = atspi_accessible_get_child_count(app, &error);
            for (gint w = 0; succeeded(error) && w < windows && !found; ++w) {
                AtspiAccessible* window = atspi_accessible_get_child_at_index(app, w, &error);
                if (!window) continue;
                AtspiStateSet* set = atspi_accessible_get_state_set(window);
                if (set && atspi_state_set_contains(set, ATSPI_STATE_ACTIVE)) found = state_->pidOf(app);
                if (set) g_object_unref(set);
                g_object_unref(window);
            }
            g_object_unref(app);
        }
        return found;
    });
}

}  // namespace pavo::platform::linux_desktop
