#include "platform/linux/atspi_bulk.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>

#include "platform/linux/atspi_ref.hpp"

namespace pavo::platform::linux_desktop {

namespace {

DBusMessagePtr call(DBusConnection* bus, DBusMessagePtr message, BulkFailure& failure) {
    failure = BulkFailure::failed;
    if (!message) return nullptr;
    DBusErrorSlot error;
    const auto start = std::chrono::steady_clock::now();
    DBusMessagePtr reply(
        dbus_connection_send_with_reply_and_block(bus, message.get(), kCallTimeoutMs, error.get()));
    if (!reply) {
        if (std::chrono::steady_clock::now() - start >= kUnanswered) failure = BulkFailure::unanswered;
        return nullptr;
    }
    failure = BulkFailure::none;
    return reply;
}

// The path of an object reference (so) at `iterator`, or nothing when it has another shape.
const char* referencePath(DBusMessageIter& iterator) {
    if (dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_STRUCT) return nullptr;
    DBusMessageIter reference;
    dbus_message_iter_recurse(&iterator, &reference);
    dbus_message_iter_next(&reference);
    if (dbus_message_iter_get_arg_type(&reference) != DBUS_TYPE_OBJECT_PATH) return nullptr;
    const char* path = nullptr;
    dbus_message_iter_get_basic(&reference, &path);
    return path;
}

std::uint64_t readStates(DBusMessageIter& array) {
    std::uint64_t states = 0;
    DBusMessageIter words;
    dbus_message_iter_recurse(&array, &words);
    for (unsigned word = 0; word < 2 && dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32;
         ++word, dbus_message_iter_next(&words)) {
        dbus_uint32_t bits = 0;
        dbus_message_iter_get_basic(&words, &bits);
        states |= static_cast<std::uint64_t>(bits) << (32 * word);
    }
    return states;
}

// Fields: self, application, parent, index in parent, child count, interfaces, name, role, description,
// states.
std::optional<std::pair<std::string, BulkItem>> readItem(DBusMessageIter& entry) {
    DBusMessageIter field;
    dbus_message_iter_recurse(&entry, &field);
    const char* self = referencePath(field);
    if (!self) return std::nullopt;
    for (int skip = 0; skip < 4; ++skip) dbus_message_iter_next(&field);  // to the child count
    BulkItem item;
    if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_INT32) return std::nullopt;
    dbus_int32_t childCount = -1;
    dbus_message_iter_get_basic(&field, &childCount);
    item.childCount = childCount;
    dbus_message_iter_next(&field);
    if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_ARRAY) return std::nullopt;
    DBusMessageIter interfaces;
    dbus_message_iter_recurse(&field, &interfaces);
    for (; dbus_message_iter_get_arg_type(&interfaces) == DBUS_TYPE_STRING;
         dbus_message_iter_next(&interfaces)) {
        const char* interface = nullptr;
        dbus_message_iter_get_basic(&interfaces, &interface);
        const std::string_view name = interface ? interface : "";
        if (name == "org.a11y.atspi.Collection") item.collection = true;
        if (name == "org.a11y.atspi.Action") item.action = true;
    }
    dbus_message_iter_next(&field);
    if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_STRING) return std::nullopt;
    const char* name = nullptr;
    dbus_message_iter_get_basic(&field, &name);
    item.name = name ? name : "";
    dbus_message_iter_next(&field);
    if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_UINT32) return std::nullopt;
    dbus_uint32_t role = 0;
    dbus_message_iter_get_basic(&field, &role);
    item.role = static_cast<AtspiRole>(role);
    dbus_message_iter_next(&field);  // description
    dbus_message_iter_next(&field);
    if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_ARRAY) return std::nullopt;
    item.states = readStates(field);
    return std::pair{std::string(self), std::move(item)};
}

std::optional<std::string> readString(DBusMessageIter& value) {
    if (dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_STRING) return std::nullopt;
    const char* text = nullptr;
    dbus_message_iter_get_basic(&value, &text);
    return std::string(text ? text : "");
}

void readReply(DBusMessage* reply, BulkRead read, BulkReadReply& out) {
    DBusMessageIter top, inner;
    if (!dbus_message_iter_init(reply, &top)) return;
    const int type = dbus_message_iter_get_arg_type(&top);
    switch (read) {
        case BulkRead::identifier:
        case BulkRead::name:
        case BulkRead::childCount: {
            if (type != DBUS_TYPE_VARIANT) return;
            dbus_message_iter_recurse(&top, &inner);
            if (read == BulkRead::childCount) {
                if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_INT32) return;
                dbus_int32_t count = 0;
                dbus_message_iter_get_basic(&inner, &count);
                out.childCount = count;
            } else {
                (read == BulkRead::identifier ? out.identifier : out.name) = readString(inner);
            }
            return;
        }
        case BulkRead::text:
            out.text = readString(top);
            return;
        case BulkRead::role:
            if (type == DBUS_TYPE_UINT32) {
                dbus_uint32_t role = 0;
                dbus_message_iter_get_basic(&top, &role);
                out.role = static_cast<AtspiRole>(role);
            }
            return;
        case BulkRead::states:
            if (type == DBUS_TYPE_ARRAY) out.states = readStates(top);
            return;
        case BulkRead::extents: {
            if (type != DBUS_TYPE_STRUCT) return;
            dbus_message_iter_recurse(&top, &inner);
            std::array<dbus_int32_t, 4> values{};
            for (auto& value : values) {
                if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_INT32) return;
                dbus_message_iter_get_basic(&inner, &value);
                dbus_message_iter_next(&inner);
            }
            out.extents = ScreenRect{values[0], values[1], values[2], values[3]};
            return;
        }
    }
}

DBusMessagePtr readMessage(const char* busName, const BulkReadRequest& request) {
    static const char* accessibleInterface = "org.a11y.atspi.Accessible";
    const char* path = request.path.c_str();
    DBusMessagePtr message;
    auto method = [&](const char* interface, const char* name) {
        message.reset(dbus_message_new_method_call(busName, path, interface, name));
    };
    auto property = [&](const char* name) {
        method("org.freedesktop.DBus.Properties", "Get");
        if (message) {
            dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &accessibleInterface, DBUS_TYPE_STRING,
                                     &name, DBUS_TYPE_INVALID);
        }
    };
    switch (request.read) {
        case BulkRead::identifier:
            property("AccessibleId");
            break;
        case BulkRead::childCount:
            property("ChildCount");
            break;
        case BulkRead::name:
            property("Name");
            break;
        case BulkRead::role:
            method(accessibleInterface, "GetRole");
            break;
        case BulkRead::states:
            method(accessibleInterface, "GetState");
            break;
        case BulkRead::text: {
            method("org.a11y.atspi.Text", "GetText");
            const dbus_int32_t start = 0, end = -1;
            if (message)
                dbus_message_append_args(message.get(), DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32, &end,
                                         DBUS_TYPE_INVALID);
            break;
        }
        case BulkRead::extents: {
            method("org.a11y.atspi.Component", "GetExtents");
            const dbus_uint32_t screen = ATSPI_COORD_TYPE_SCREEN;
            if (message)
                dbus_message_append_args(message.get(), DBUS_TYPE_UINT32, &screen, DBUS_TYPE_INVALID);
            break;
        }
    }
    return message;
}

}  // namespace

std::optional<BulkItems> fetchBulkItems(DBusConnection* bus, const char* busName, BulkFailure& failure) {
    const DBusMessagePtr reply =
        call(bus,
             DBusMessagePtr(dbus_message_new_method_call(busName, "/org/a11y/atspi/cache",
                                                         "org.a11y.atspi.Cache", "GetItems")),
             failure);
    if (!reply) return std::nullopt;
    std::optional<BulkItems> items;
    DBusMessageIter top, array;
    if (std::string_view(dbus_message_get_signature(reply.get())) == "a((so)(so)(so)iiassusau)" &&
        dbus_message_iter_init(reply.get(), &top)) {
        items.emplace();
        dbus_message_iter_recurse(&top, &array);
        for (; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&array)) {
            if (auto item = readItem(array))
                items->insert_or_assign(std::move(item->first), std::move(item->second));
        }
    }
    return items;
}

std::optional<std::vector<std::string>> registeredBusNames(DBusConnection* bus, const char* registryName,
                                                           const char* desktopPath) {
    BulkFailure failure;
    const DBusMessagePtr reply =
        call(bus,
             DBusMessagePtr(dbus_message_new_method_call(registryName, desktopPath,
                                                         "org.a11y.atspi.Accessible", "GetChildren")),
             failure);
    if (!reply) return std::nullopt;
    std::optional<std::vector<std::string>> names;
    DBusMessageIter top, array;
    if (std::string_view(dbus_message_get_signature(reply.get())) == "a(so)" &&
        dbus_message_iter_init(reply.get(), &top)) {
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
    return names;
}

void pipelinedReads(DBusConnection* bus, const char* busName, const std::vector<BulkReadRequest>& requests,
                    const std::function<void(std::size_t index, const BulkReadReply& reply)>& answered) {
    // Each read's timeout runs from when it is sent, and the application answers them one after another:
    // a window of reads in flight keeps a large batch from timing out behind itself.
    constexpr std::size_t kInFlight = 1024;
    std::vector<std::pair<std::size_t, DBusPendingCallPtr>> pending;
    pending.reserve(std::min(requests.size(), kInFlight));
    for (std::size_t first = 0; first < requests.size(); first += kInFlight) {
        pending.clear();
        for (std::size_t i = first; i < std::min(requests.size(), first + kInFlight); ++i) {
            const DBusMessagePtr message = readMessage(busName, requests[i]);
            if (!message) continue;
            DBusPendingCall* waiting = nullptr;
            const bool sent = dbus_connection_send_with_reply(bus, message.get(), &waiting, kCallTimeoutMs);
            DBusPendingCallPtr owned(waiting);
            if (sent && owned) pending.emplace_back(i, std::move(owned));
        }
        dbus_connection_flush(bus);
        for (const auto& [index, waiting] : pending) {
            dbus_pending_call_block(waiting.get());
            const DBusMessagePtr reply(dbus_pending_call_steal_reply(waiting.get()));
            if (!reply) continue;
            if (dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN) {
                BulkReadReply out;
                readReply(reply.get(), requests[index].read, out);
                if (out.identifier || out.extents || out.childCount || out.role || out.name || out.states ||
                    out.text) {
                    answered(index, out);
                }
            }
        }
    }
}

}  // namespace pavo::platform::linux_desktop
