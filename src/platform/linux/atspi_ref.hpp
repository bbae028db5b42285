#pragma once
// Owning handles for what libatspi, GLib and libdbus hand over: each is released once, by its destructor.
// A handle to a libatspi object is released on the desktop thread like every other call.

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <memory>
#include <string>
#include <vector>

namespace pavo::platform::linux_desktop {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// One more reference to an object someone else holds.
template <typename T>
GObjectPtr<T> addRef(T* object) {
    g_object_ref(object);
    return GObjectPtr<T>(object);
}

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
template <typename T>
using GMemoryPtr = std::unique_ptr<T, GFree>;

struct GArrayFree {
    void operator()(GArray* array) const { g_array_free(array, TRUE); }
};
using GArrayPtr = std::unique_ptr<GArray, GArrayFree>;

// A string handed over by libatspi; "" for none.
inline std::string takeString(gchar* text) {
    const GMemoryPtr<gchar> owned(text);
    return text ? std::string(text) : std::string();
}

// The objects of an array that holds a reference to each, taken over one by one.
inline std::vector<GObjectPtr<AtspiAccessible>> takeObjects(GArrayPtr array) {
    std::vector<GObjectPtr<AtspiAccessible>> objects;
    objects.reserve(array->len);
    for (guint i = 0; i < array->len; ++i)
        objects.emplace_back(g_array_index(array.get(), AtspiAccessible*, i));
    return objects;
}

// Where one libatspi call at a time reports its failure; handing it to the next call forgets the last one.
class CallError {
  public:
    CallError() = default;
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;
    ~CallError() { g_clear_error(&error_); }

    GError** out() {
        g_clear_error(&error_);
        return &error_;
    }
    bool failed() const { return error_ != nullptr; }

  private:
    GError* error_ = nullptr;
};

struct DBusMessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using DBusMessagePtr = std::unique_ptr<DBusMessage, DBusMessageUnref>;

struct DBusPendingCallUnref {
    void operator()(DBusPendingCall* call) const { dbus_pending_call_unref(call); }
};
using DBusPendingCallPtr = std::unique_ptr<DBusPendingCall, DBusPendingCallUnref>;

// libdbus's error slot, freed with whatever it caught.
class DBusErrorSlot {
  public:
    DBusErrorSlot() { dbus_error_init(&error_); }
    DBusErrorSlot(const DBusErrorSlot&) = delete;
    DBusErrorSlot& operator=(const DBusErrorSlot&) = delete;
    ~DBusErrorSlot() { dbus_error_free(&error_); }

    DBusError* get() { return &error_; }

  private:
    DBusError error_;
};

}  // namespace pavo::platform::linux_desktop
