#include "platform/linux/xtest_input.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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
        KeySym* map =
            XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
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

    struct Stroke {
        KeyCode code = 0;
        bool shifted = false;
        KeySym bind = NoSymbol;  // a spare keycode to bind to this symbol first
    };

    // The strokes that type `text`, or nothing when it cannot be typed now: `wait` then says how long until
    // it can (a spare keycode it needs was used too recently to rebind), or stays zero when it never can.
    std::optional<std::vector<Stroke>> plan(const std::u16string& text, std::chrono::milliseconds& wait) {
        const auto now = std::chrono::steady_clock::now();
        std::vector<Stroke> strokes;
        std::map<KeySym, KeyCode> taken;  // spares this text binds
        for (char32_t cp : codePoints(text)) {
            const KeySym keysym = keysymForCodePoint(cp);
            const KeyCode code = XKeysymToKeycode(display, keysym);
            if (code && !borrowed.count(keysym)) {
                if (XkbKeycodeToKeysym(display, code, 0, 0) == keysym) {
                    strokes.push_back({code, false});
                    continue;
                }
                if (XkbKeycodeToKeysym(display, code, 0, 1) == keysym) {
                    strokes.push_back({code, true});
                    continue;
                }
            }
            if (auto it = borrowed.find(keysym); it != borrowed.end()) {
                strokes.push_back({it->second, false});
                continue;
            }
            if (auto it = taken.find(keysym); it != taken.end()) {
                strokes.push_back({it->second, false});
                continue;
            }
            // The least recently used spare that this text does not already bind.
            std::optional<KeyCode> spare;
            for (KeyCode candidate : scratch) {
                const bool inUse =
                    std::any_of(taken.begin(), taken.end(), [&](auto& t) { return t.second == candidate; });
                if (!inUse && (!spare || lastUse[candidate] < lastUse[*spare])) spare = candidate;
            }
            if (!spare) return std::nullopt;
            const auto since = now - lastUse[*spare];
            if (since < kRebindAfter) {
                wait = std::max(wait, std::chrono::ceil<std::chrono::milliseconds>(kRebindAfter - since));
            }
            taken[keysym] = *spare;
            strokes.push_back({*spare, false, keysym});
        }
        if (wait.count() > 0) return std::nullopt;
        return strokes;
    }

    void type(const std::vector<Stroke>& strokes) {
        for (const Stroke& stroke : strokes) {
            if (stroke.bind != NoSymbol) {
                std::erase_if(borrowed, [&](const auto& entry) { return entry.second == stroke.code; });
                bind(stroke.code, stroke.bind);
                XSync(display, False);
                borrowed[stroke.bind] = stroke.code;
            }
            tap(stroke.code, stroke.shifted);
            if (std::find(scratch.begin(), scratch.end(), stroke.code) != scratch.end()) {
                lastUse[stroke.code] = std::chrono::steady_clock::now();
            }
        }
        XSync(display, False);
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
    const unsigned button = event.button == 0   ? 1
                            : event.button == 1 ? 3
                            : event.button == 2 ? 2
                                                : event.button + 1;
    if (event.type == MouseEventType::leftMouseDown) XTestFakeButtonEvent(d, button, True, CurrentTime);
    if (event.type == MouseEventType::leftMouseUp) XTestFakeButtonEvent(d, button, False, CurrentTime);
    XSync(d, False);
    return true;
}

KeyPosting XTestInput::postKeyEvent(const KeyEvent& event) {
    using Outcome = KeyPosting::Outcome;
    std::lock_guard lock(mutex_);
    if (!connection_) return {Outcome::refused};
    Display* d = connection_->display;
    if (!event.text.empty()) {
        // The handlers send a down and an up event carrying the same text: type it once.
        if (!event.keyDown) return {};
        std::chrono::milliseconds wait{0};
        const auto strokes = connection_->plan(event.text, wait);
        if (!strokes) return {wait.count() > 0 ? Outcome::notYet : Outcome::refused, wait};
        if (posted_) posted_();
        connection_->type(*strokes);
        return {};
    }
    const auto keysym = keysymForMacKeyCode(event.keyCode);
    if (!keysym) return {Outcome::refused};
    const KeyCode code = XKeysymToKeycode(d, *keysym);
    if (!code) return {Outcome::refused};
    if (posted_) posted_();
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
    return {};
}

bool XTestInput::scrollWheel(AXPoint at, WheelDirection direction) {
    std::lock_guard lock(mutex_);
    if (!connection_ || !std::isfinite(at.x) || !std::isfinite(at.y)) return false;
    Display* d = connection_->display;
    if (posted_) posted_();
    XTestFakeMotionEvent(d, -1, static_cast<int>(std::lround(at.x)), static_cast<int>(std::lround(at.y)),
                         CurrentTime);
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
