#include "platform/linux/xtest_input.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cmath>
#include <algorithm>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "platform/linux/key_mapping.hpp"

namespace pavo::platform::linux_desktop {

namespace {

// A character typed through a borrowed keycode is lost when that keycode is bound to something else
// before the application has translated the key (it reads the new mapping first). So a binding stays
// until its keycode is needed again, and a keycode used this recently is not rebound before then.
constexpr auto kRebindAfter = std::chrono::milliseconds(250);
constexpr int kWheelClicks = 3;

}  // namespace

struct XTestInput::Connection {
    Display* display = nullptr;
    std::vector<KeyCode> scratch;  // keycodes with no symbol at all, free to borrow

    ~Connection() {
        if (!display) return;
        releaseBorrowed();
        XCloseDisplay(display);
    }

    void findScratchKeycodes() {
        int minCode = 0, maxCode = 0;
        XDisplayKeycodes(display, &minCode, &maxCode);
        int perCode = 0;
        KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
        if (!map) return;
        for (int code = minCode; code <= maxCode; ++code) {
            bool unbound = true;
            for (int level = 0; level < perCode; ++level) {
                if (map[(code - minCode) * perCode + level] != NoSymbol) unbound = false;
            }
            if (unbound) scratch.push_back(static_cast<KeyCode>(code));
        }
        XFree(map);
    }

    void key(KeyCode code, bool down) { XTestFakeKeyEvent(display, code, down ? True : False, CurrentTime); }

    void tap(KeyCode code, bool shifted) {
        const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
        if (shifted && shift) key(shift, true);
        key(code, true);
        key(code, false);
        if (shifted && shift) key(shift, false);
    }

    void bind(KeyCode code, KeySym keysym) {
        KeySym syms[2] = {keysym, keysym};
        XChangeKeyboardMapping(display, code, 2, syms, 1);
    }

    // A keycode that types `keysym` without shift, borrowing a spare one when the keymap has none.
    std::optional<KeyCode> borrow(KeySym keysym) {
        if (auto it = borrowed.find(keysym); it != borrowed.end()) return it->second;
        if (scratch.empty()) return std::nullopt;
        KeyCode code = scratch.front();
        for (KeyCode candidate : scratch) {
            if (lastUse[candidate] < lastUse[code]) code = candidate;
        }
        const auto since = std::chrono::steady_clock::now() - lastUse[code];
        if (since < kRebindAfter) std::this_thread::sleep_for(kRebindAfter - since);
        std::erase_if(borrowed, [code](const auto& entry) { return entry.second == code; });
        bind(code, keysym);
        XSync(display, False);
        borrowed[keysym] = code;
        return code;
    }

    bool typeText(const std::u16string& text) {
        for (char32_t cp : codePoints(text)) {
            const KeySym keysym = keysymForCodePoint(cp);
            const KeyCode code = XKeysymToKeycode(display, keysym);
            if (code && !borrowed.count(keysym)) {
                if (XkbKeycodeToKeysym(display, code, 0, 0) == keysym) {
                    tap(code, false);
                    continue;
                }
                if (XkbKeycodeToKeysym(display, code, 0, 1) == keysym) {
                    tap(code, true);
                    continue;
                }
            }
            const auto spare = borrow(keysym);
            if (!spare) return false;
            tap(*spare, false);
            lastUse[*spare] = std::chrono::steady_clock::now();
        }
        XSync(display, False);
        return true;
    }

    void releaseBorrowed() {
        if (borrowed.empty()) return;
        const auto now = std::chrono::steady_clock::now();
        auto latest = now - kRebindAfter;
        for (const auto& [code, time] : lastUse) latest = std::max(latest, time);
        if (now - latest < kRebindAfter) std::this_thread::sleep_for(kRebindAfter - (now - latest));
        for (const auto& [keysym, code] : borrowed) bind(code, NoSymbol);
        XSync(display, False);
        borrowed.clear();
    }

    std::map<KeySym, KeyCode> borrowed;
    std::map<KeyCode, std::chrono::steady_clock::time_point> lastUse;
};

XTestInput::XTestInput() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return;
    }
    connection_ = std::make_unique<Connection>();
    connection_->display = display;
    connection_->findScratchKeycodes();
}

XTestInput::~XTestInput() = default;

bool XTestInput::postMouseEvent(const MouseEvent& event) {
    std::lock_guard lock(mutex_);
    if (!connection_ || !std::isfinite(event.x) || !std::isfinite(event.y)) return false;
    Display* d = connection_->display;
    const int x = static_cast<int>(std::lround(event.x));
    const int y = static_cast<int>(std::lround(event.y));
    if (posted_) posted_();
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    // The handlers number buttons from 0 = left; X numbers left 1, middle 2, right 3.
    const unsigned button = event.button == 0 ? 1 : event.button == 1 ? 3 : event.button == 2 ? 2 : event.button + 1;
    if (event.type == MouseEventType::leftMouseDown) XTestFakeButtonEvent(d, button, True, CurrentTime);
    if (event.type == MouseEventType::leftMouseUp) XTestFakeButtonEvent(d, button, False, CurrentTime);
    XSync(d, False);
    return true;
}

bool XTestInput::postKeyEvent(const KeyEvent& event) {
    std::lock_guard lock(mutex_);
    if (!connection_) return false;
    Display* d = connection_->display;
    if (posted_) posted_();
    if (!event.text.empty()) {
        // The handlers send a down and an up event carrying the same text: type it once.
        return event.keyDown ? connection_->typeText(event.text) : true;
    }
    const auto keysym = keysymForMacKeyCode(event.keyCode);
    if (!keysym) return false;
    const KeyCode code = XKeysymToKeycode(d, *keysym);
    if (!code) return false;
    std::vector<KeyCode> modifiers;
    for (std::uint32_t sym : modifierKeysyms(event.flags)) {
        if (KeyCode m = XKeysymToKeycode(d, sym)) modifiers.push_back(m);
    }
    if (event.keyDown) {
        for (KeyCode m : modifiers) connection_->key(m, true);
        connection_->key(code, true);
    } else {
        connection_->key(code, false);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) connection_->key(*it, false);
    }
    XSync(d, False);
    return true;
}

bool XTestInput::scrollWheel(AXPoint at, WheelDirection direction) {
    std::lock_guard lock(mutex_);
    if (!connection_ || !std::isfinite(at.x) || !std::isfinite(at.y)) return false;
    Display* d = connection_->display;
    if (posted_) posted_();
    XTestFakeMotionEvent(d, -1, static_cast<int>(std::lround(at.x)), static_cast<int>(std::lround(at.y)), CurrentTime);
    const unsigned button = direction == WheelDirection::up     ? 4
                            : direction == WheelDirection::down ? 5
                            : direction == WheelDirection::left ? 6
                                                                : 7;
    for (int i = 0; i < kWheelClicks; ++i) {
        XTestFakeButtonEvent(d, button, True, CurrentTime);
        XTestFakeButtonEvent(d, button, False, CurrentTime);
    }
    XSync(d, False);
    return true;
}

}  // namespace pavo::platform::linux_desktop
