#pragma once
// Raw D-Bus requests to accessible applications that libatspi makes one at a time or not at all: the
// bulk item list, the registry's list of applications, and pipelined batches of reads. Replies are
// type-checked field by field, since libdbus aborts the process on a mismatched read. Called on the
// desktop thread only.

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace pavo::platform::linux_desktop {

// Long enough for a busy application to answer, short enough that a frozen one cannot stall the agent.
constexpr int kCallTimeoutMs = 500;
// A failed call that took this long means the application did not answer at all.
constexpr auto kUnanswered = std::chrono::milliseconds(kCallTimeoutMs * 8 / 10);

// An object's path on its application's bus, which the bulk reads are keyed by.
inline const char* pathOf(AtspiAccessible* object) {
    return object->parent.path ? object->parent.path : "";
}

// The bit of `state` in a state set held as one number.
inline std::uint64_t stateBit(AtspiStateType state) {
    return std::uint64_t{1} << static_cast<unsigned>(state);
}

// What the item list tells about one object: enough for role, title, flags and the tree's shape.
struct BulkItem {
    AtspiRole role = ATSPI_ROLE_INVALID;
    std::int32_t childCount = -1;
    std::string name;
    std::uint64_t states = 0;
    // Interfaces it lists that the walk and the press use; knowing them saves libatspi's own lookup, a
    // state and an interface round trip each time. Not known for items read one by one.
    bool interfacesKnown = true;
    bool collection = false;
    bool action = false;
};

using BulkItems = std::unordered_map<std::string, BulkItem>;  // by object path

enum class BulkFailure { none, failed, unanswered };

// The application's whole item list (Cache.GetItems); it does not cover every object.
std::optional<BulkItems> fetchBulkItems(DBusConnection* bus, const char* busName, BulkFailure& failure);

// The bus names of the applications the registry lists, in its order (Accessible.GetChildren).
std::optional<std::vector<std::string>> registeredBusNames(DBusConnection* bus, const char* registryName,
                                                           const char* desktopPath);

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
};

enum class BulkRead { identifier, extents, childCount, role, name, states, text };

struct BulkReadRequest {
    std::string path;
    BulkRead read;
};

struct BulkReadReply {
    std::optional<std::string> identifier;
    std::optional<ScreenRect> extents;
    std::optional<std::int32_t> childCount;
    std::optional<AtspiRole> role;
    std::optional<std::string> name;
    std::optional<std::uint64_t> states;
    std::optional<std::string> text;  // the whole text of a Text object
};

// Sends reads in windows of about a thousand, each window before awaiting any of its replies, so a batch
// costs about one round trip per window. `answered` is called with the request's index for each reply of
// the expected type; other replies are dropped.
void pipelinedReads(DBusConnection* bus, const char* busName, const std::vector<BulkReadRequest>& requests,
                    const std::function<void(std::size_t index, const BulkReadReply& reply)>& answered);

}  // namespace pavo::platform::linux_desktop
