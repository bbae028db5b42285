#include "platform/linux/x11_screen_capture.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <mutex>

namespace pavo::platform::x11 {

namespace {

// Xlib's default error handler ends the process; a window that vanishes mid-capture must not.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

struct Area {
    int x = 0, y = 0, width = 0, height = 0;
};

std::vector<Window> clientWindows(Display* display, Window root) {
    std::vector<Window> windows;
    const Atom list = XInternAtom(display, "_NET_CLIENT_LIST", True);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (list != 0 &&
        XGetWindowProperty(display, root, list, 0, 1 << 16, False, XA_WINDOW, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        if (format == 32) {
            const auto* ids = reinterpret_cast<const unsigned long*>(data);
            windows.assign(ids, ids + count);
        }
        XFree(data);
    }
    if (!windows.empty()) return windows;
    // No window manager list: the root's own children.
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int childCount = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &childCount) && children) {
        windows.assign(children, children + childCount);
        XFree(children);
    }
    return windows;
}

std::optional<long> windowPid(Display* display, Window window) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    if (pidAtom == 0) return std::nullopt;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<long> pid;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        if (format == 32 && count == 1)
            pid = static_cast<long>(*reinterpret_cast<const unsigned long*>(data));
        XFree(data);
    }
    return pid;
}

// The largest viewable window of the process, as an area of the root window.
std::optional<Area> windowArea(Display* display, Window root, long pid) {
    std::optional<Area> best;
    for (const Window window : clientWindows(display, root)) {
        if (windowPid(display, window) != pid) continue;
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
            continue;
        int x = 0, y = 0;
        Window child = 0;
        if (!XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) continue;
        const Area area{x, y, attributes.width, attributes.height};
        if (!best || area.width * area.height > best->width * best->height) best = area;
    }
    return best;
}

int shiftOf(unsigned long mask) {
    return mask ? std::countr_zero(mask) : 0;
}

std::uint8_t channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    const unsigned long value = (pixel & mask) >> shiftOf(mask);
    const unsigned long maximum = mask >> shiftOf(mask);
    return static_cast<std::uint8_t>(value * 255 / maximum);
}

std::vector<std::uint8_t> rgbOf(XImage* image, int width, int height) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                        image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                        image->blue_mask == 0xFF;
    std::uint8_t* out = rgb.data();
    for (int row = 0; row < height; ++row) {
        if (direct) {
            const auto* in = reinterpret_cast<const std::uint8_t*>(image->data) + row * image->bytes_per_line;
            for (int column = 0; column < width; ++column, in += 4) {
                *out++ = in[2];
                *out++ = in[1];
                *out++ = in[0];
            }
            continue;
        }
        for (int column = 0; column < width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            *out++ = channel(pixel, image->red_mask);
            *out++ = channel(pixel, image->green_mask);
            *out++ = channel(pixel, image->blue_mask);
        }
    }
    return rgb;
}

class X11ScreenCapture final : public ScreenCapture {
  public:
    CaptureResult capture(std::optional<std::int64_t> pid) override {
        static std::once_flag handlerSet;
        std::call_once(handlerSet, [] { XSetErrorHandler(ignoreErrors); });

        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) return {std::nullopt, "no X display: DISPLAY is not set"};
        DisplayHandle display(XOpenDisplay(name));
        if (!display) return {std::nullopt, std::string("cannot open the X display ") + name};
        Display* d = display.get();
        const Window root = DefaultRootWindow(d);
        const Area screen{0, 0, DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};

        Area area = screen;
        if (pid) {
            const auto window = windowArea(d, root, static_cast<long>(*pid));
            if (!window) return {std::nullopt, "no visible window of process " + std::to_string(*pid)};
            const int left = std::max(window->x, 0), top = std::max(window->y, 0);
            const int right = std::min(window->x + window->width, screen.width);
            const int bottom = std::min(window->y + window->height, screen.height);
            if (right <= left || bottom <= top) {
                return {std::nullopt, "the window of process " + std::to_string(*pid) + " is off the screen"};
            }
            area = {left, top, right - left, bottom - top};
        }

        XImage* image = XGetImage(d, root, area.x, area.y, static_cast<unsigned>(area.width),
                                  static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
        if (!image) return {std::nullopt, "the X server gave no image of the screen"};
        ScreenImage result{area.x, area.y, area.width, area.height, rgbOf(image, area.width, area.height)};
        XDestroyImage(image);
        return {std::move(result), {}};
    }
};

}  // namespace

std::unique_ptr<ScreenCapture> makeX11ScreenCapture() {
    return std::make_unique<X11ScreenCapture>();
}

}  // namespace pavo::platform::x11
