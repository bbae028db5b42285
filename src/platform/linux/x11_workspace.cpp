#include "platform/linux/x11_workspace.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gio/gdesktopappinfo.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

namespace pavo::platform::linux_desktop {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string executableOf(std::int32_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    char target[4096];
    const ssize_t length = ::readlink((proc + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) return baseName(std::string_view(target, static_cast<std::size_t>(length)));
    std::ifstream comm(proc + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string desktopEntryId(std::string_view bundleId) {
    std::string id(bundleId);
    constexpr std::string_view suffix = ".desktop";
    if (id.size() > suffix.size() && id.compare(id.size() - suffix.size(), suffix.size(), suffix) == 0) {
        id.resize(id.size() - suffix.size());
    }
    return id;
}

// The installed desktop entry of an id, owned by the caller.
GDesktopAppInfo* desktopEntry(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos) return nullptr;
    return g_desktop_app_info_new((id + ".desktop").c_str());
}

struct EntryNames {
    std::string displayName;
    std::vector<std::string> matches;  // lower case
};

EntryNames namesFor(const std::string& id) {
    EntryNames names;
    names.matches.push_back(lower(id));
    if (GDesktopAppInfo* entry = desktopEntry(id)) {
        if (const char* name = g_app_info_get_name(G_APP_INFO(entry))) names.displayName = name;
        if (const char* wmClass = g_desktop_app_info_get_startup_wm_class(entry))
            names.matches.push_back(lower(wmClass));
        if (const char* executable = g_app_info_get_executable(G_APP_INFO(entry))) {
            names.matches.push_back(lower(baseName(executable)));
        }
        g_object_unref(entry);
    }
    return names;
}

bool matches(const ClientWindow& window, const std::vector<std::string>& names) {
    for (const std::string& candidate :
         {lower(window.instance), lower(window.className), lower(window.executable)}) {
        if (candidate.empty()) continue;
        if (std::find(names.begin(), names.end(), candidate) != names.end()) return true;
    }
    return false;
}

}  // namespace

struct X11Workspace::Connection {
    Display* display = nullptr;
    Window root = 0;
    Atom activeWindow = 0, clientList = 0, wmPid = 0, wmName = 0, utf8 = 0;

    ~Connection() {
        if (display) XCloseDisplay(display);
    }

    std::vector<unsigned long> windowList(Window window, Atom property) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::vector<unsigned long> out;
        if (XGetWindowProperty(display, window, property, 0, 4096, False, AnyPropertyType, &type, &format,
                               &count, &remaining, &data) == Success &&
            data && format == 32) {
            const auto* values = reinterpret_cast<const unsigned long*>(data);
            out.assign(values, values + count);
        }
        if (data) XFree(data);
        return out;
    }

    std::string text(Window window, Atom property) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type, &format,
                               &count, &remaining, &data) == Success &&
            data && format == 8) {
            out.assign(reinterpret_cast<const char*>(data), count);
        }
        if (data) XFree(data);
        return out;
    }

    ClientWindow describe(Window window) {
        ClientWindow client;
        client.window = window;
        const auto pid = windowList(window, wmPid);
        if (!pid.empty()) client.pid = static_cast<std::int32_t>(pid.front());
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            if (hint.res_name) client.instance = hint.res_name;
            if (hint.res_class) client.className = hint.res_class;
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
        }
        client.title = text(window, wmName);
        if (client.pid > 0) client.executable = executableOf(client.pid);
        return client;
    }
};

namespace {

// A window that vanishes between listing and reading must not end the process.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

X11Workspace::X11Workspace(std::function<std::optional<std::int32_t>()> fallbackFrontmost)
    : fallbackFrontmost_(std::move(fallbackFrontmost)) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    XSetErrorHandler(ignoreErrors);
    connection_ = std::make_unique<Connection>();
    Connection& c = *connection_;
    c.display = display;
    c.root = DefaultRootWindow(display);
    c.activeWindow = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    c.clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
    c.wmPid = XInternAtom(display, "_NET_WM_PID", False);
    c.wmName = XInternAtom(display, "_NET_WM_NAME", False);
    c.utf8 = XInternAtom(display, "UTF8_STRING", False);
}

X11Workspace::~X11Workspace() = default;

bool X11Workspace::hasDisplay() const {
    return connection_ != nullptr;
}

std::optional<std::int32_t> X11Workspace::activePidLocked(bool* betweenWindows) {
    if (!connection_) return std::nullopt;
    const auto active = connection_->windowList(connection_->root, connection_->activeWindow);
    if (active.empty()) return std::nullopt;  // no window manager that keeps the property
    std::optional<std::int32_t> pid;
    if (active.front() != 0) {
        const auto pids = connection_->windowList(active.front(), connection_->wmPid);
        if (!pids.empty() && pids.front() != 0) pid = static_cast<std::int32_t>(pids.front());
    }
    if (betweenWindows) *betweenWindows = !pid;
    return pid;
}

Frontmost X11Workspace::frontmost() {
    // Right after the active window closes (a dialog answered), the property names no window or the
    // one just destroyed until the window manager has focused the next: the caller asks again then.
    bool between = false;
    {
        std::lock_guard lock(mutex_);
        if (auto pid = activePidLocked(&between)) return Frontmost{pid, false};
    }
    return Frontmost{fallbackFrontmost_ ? fallbackFrontmost_() : std::nullopt, between};
}

std::vector<ClientWindow> X11Workspace::clientWindowsLocked() {
    std::vector<ClientWindow> out;
    if (!connection_) return out;
    // The window manager's list holds only managed windows, never a client's unmapped leader window,
    // which cannot be activated.
    for (unsigned long window : connection_->windowList(connection_->root, connection_->clientList)) {
        ClientWindow client = connection_->describe(window);
        // The window of a process that just ended can outlive it in the list for a moment.
        if (client.pid > 0 && ::kill(client.pid, 0) != 0 && errno == ESRCH) continue;
        out.push_back(std::move(client));
    }
    return out;
}

std::vector<ClientWindow> X11Workspace::clientWindows() {
    std::lock_guard lock(mutex_);
    return clientWindowsLocked();
}

std::optional<RunningApplication> X11Workspace::runningApplication(std::string_view bundleId) {
    const std::string id = desktopEntryId(bundleId);
    if (id.empty()) return std::nullopt;
    const EntryNames names = namesFor(id);
    for (const ClientWindow& window : clientWindows()) {
        if (window.pid <= 0 || !matches(window, names.matches)) continue;
        const std::string name = !names.displayName.empty()  ? names.displayName
                                 : !window.className.empty() ? window.className
                                                             : window.executable;
        return RunningApplication{window.pid, name, id};
    }
    return std::nullopt;
}

ActivationRequest X11Workspace::requestActivation(std::int32_t pid) {
    std::lock_guard lock(mutex_);
    if (!connection_ || pid <= 0) return ActivationRequest::notRunning;
    Connection& c = *connection_;
    // The window manager lists only windows it manages: a window just mapped may not be there yet.
    std::optional<unsigned long> target;
    for (const ClientWindow& window : clientWindowsLocked()) {
        if (window.pid == pid) target = window.window;  // the last listed is the most recently mapped
    }
    if (!target)
        return ::kill(pid, 0) == 0 || errno == EPERM ? ActivationRequest::noWindowYet
                                                     : ActivationRequest::notRunning;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = *target;
    event.xclient.message_type = c.activeWindow;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // the request comes from a pager-like tool, which window managers honour
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(c.display, c.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(c.display, False);
    return ActivationRequest::requested;
}

bool X11Workspace::isInstalled(std::string_view bundleId) {
    const std::string id = desktopEntryId(bundleId);
    if (GDesktopAppInfo* entry = desktopEntry(id)) {
        g_object_unref(entry);
        return true;
    }
    return runningApplication(id).has_value();
}

namespace {

void rememberPid(GDesktopAppInfo*, GPid pid, gpointer data) {
    *static_cast<GPid*>(data) = pid;
}

}  // namespace

std::optional<RunningApplication> X11Workspace::startApplication(std::string_view bundleId) {
    const std::string id = desktopEntryId(bundleId);
    GDesktopAppInfo* entry = desktopEntry(id);
    if (!entry) return std::nullopt;
    const char* name = g_app_info_get_name(G_APP_INFO(entry));
    const std::string displayName = name ? name : id;
    GPid pid = 0;
    GError* error = nullptr;
    const gboolean started = g_desktop_app_info_launch_uris_as_manager(
        entry, nullptr, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, rememberPid, &pid, &error);
    g_object_unref(entry);
    if (error) g_clear_error(&error);
    if (!started || pid <= 0) return std::nullopt;
    return RunningApplication{static_cast<std::int32_t>(pid), displayName, id};
}

std::optional<RunningApplication> X11Workspace::applicationNamed(std::string_view name) {
    const std::string wanted = lower(name);
    if (wanted.empty()) return std::nullopt;
    for (const ClientWindow& window : clientWindows()) {
        if (window.pid <= 0) continue;
        if (lower(window.className) == wanted || lower(window.instance) == wanted ||
            lower(window.executable) == wanted || lower(window.title) == wanted) {
            return RunningApplication{window.pid,
                                      window.className.empty() ? window.executable : window.className, ""};
        }
    }
    return std::nullopt;
}

}  // namespace pavo::platform::linux_desktop
