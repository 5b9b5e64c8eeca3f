// xprobe: waits, polling every few milliseconds, until something holds on the X display, and
// says when. The end-to-end scenarios wait with it instead of sleeping, and the latency script
// times the program's answers with it.
//
//   xprobe [--since NS] [--timeout MS] window NAME
//       a viewable window titled NAME exists; prints its id and where it is on the screen
//   xprobe [--since NS] [--timeout MS] client NAME
//       the same for its client area: the window inside it that fills most of it (a dialog's,
//       below the caption it draws itself), or else the window itself
//   xprobe [--since NS] [--timeout MS] gone NAME
//       no viewable window is titled NAME
//   xprobe [--since NS] [--timeout MS] popup
//       a menu (an override-redirect window) is on screen, painted; prints its geometry
//   xprobe [--since NS] [--timeout MS] nopopup
//       no painted menu is on screen
//   xprobe [--timeout MS] step NAME X Y W H
//       times the animation: waits for the rectangle of the window to change, then prints
//       "step=S" with S the mean milliseconds between its next three changes
//   xprobe [--since NS] [--timeout MS] drawn NAME X Y W H MIN [X Y W H MIN]... -- X Y W H
//       the window titled NAME (or with the id NAME) is viewable, each rectangle (pixels of its
//       client area, as "client" finds it) holds at least
//       MIN dark pixels, and the rectangle after "--" is all one colour (drawn background, not
//       what lay under an unpainted window)
//
// Prints "ms=M" (milliseconds since NS, nanoseconds on the realtime clock as `date +%s%N` gives
// them; since the start without --since) when the condition holds, exit 0; exit 1 on timeout.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Rect {
    int x, y, w, h;
    long min;
};

Display* display = nullptr;
Atom netWmName = None;
Atom utf8String = None;

std::string windowName(Window window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8String, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return name;
    }
    char* plain = nullptr;
    if (XFetchName(display, window, &plain) != 0 && plain != nullptr) {
        name = plain;
        XFree(plain);
    }
    return name;
}

bool viewable(Window window, XWindowAttributes* attributes = nullptr) {
    XWindowAttributes a;
    if (XGetWindowAttributes(display, window, &a) == 0) return false;
    if (attributes != nullptr) *attributes = a;
    return a.map_state == IsViewable;
}

// Depth first, so a window manager's frames do not hide their clients.
void collect(Window parent, const std::string& name, std::vector<Window>& found) {
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &root, &up, &children, &count) == 0) return;
    for (unsigned int i = 0; i < count; ++i) {
        if (windowName(children[i]) == name && viewable(children[i])) found.push_back(children[i]);
        collect(children[i], name, found);
    }
    if (children != nullptr) XFree(children);
}

std::optional<Window> findWindow(const std::string& name) {
    // An id instead of a title.
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
        Window window = static_cast<Window>(std::stoul(name));
        if (viewable(window)) return window;
        return std::nullopt;
    }
    std::vector<Window> found;
    collect(DefaultRootWindow(display), name, found);
    if (found.empty()) return std::nullopt;
    return found.front();
}

// The client area of a window: a viewable window inside it that covers at least half of it, or
// the window itself.
Window clientOf(Window parent) {
    XWindowAttributes outer;
    if (XGetWindowAttributes(display, parent, &outer) == 0) return parent;
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &root, &up, &children, &count) == 0) return parent;
    Window client = parent;
    long largestArea = static_cast<long>(outer.width) * outer.height / 2 - 1;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!viewable(children[i], &a)) continue;
        long area = static_cast<long>(a.width) * a.height;
        if (area > largestArea) {
            client = children[i];
            largestArea = area;
        }
    }
    if (children != nullptr) XFree(children);
    return client;
}

// "window=ID x=X y=Y width=W height=H ": where the window is on the screen.
void printPlace(Window window) {
    XWindowAttributes a;
    int x = 0;
    int y = 0;
    Window child = 0;
    if (XGetWindowAttributes(display, window, &a) == 0) return;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    std::printf("window=%lu x=%d y=%d width=%d height=%d ", static_cast<unsigned long>(window), x, y, a.width,
                a.height);
}

bool dark(unsigned long pixel) {
    unsigned long r = (pixel >> 16) & 0xFF;
    unsigned long g = (pixel >> 8) & 0xFF;
    unsigned long b = pixel & 0xFF;
    return r * 299 + g * 587 + b * 114 < 128 * 1000;
}

// Dark pixels in a rectangle of the window, or -1 when it cannot be read.
long darkPixels(Window window, const Rect& r) {
    XImage* image = XGetImage(display, window, r.x, r.y, static_cast<unsigned>(r.w), static_cast<unsigned>(r.h),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return -1;
    long n = 0;
    for (int y = 0; y < r.h; ++y) {
        for (int x = 0; x < r.w; ++x) n += dark(XGetPixel(image, x, y)) ? 1 : 0;
    }
    XDestroyImage(image);
    return n;
}

// A digest of a rectangle's pixels (FNV-1a), or 0 when it cannot be read.
unsigned long long digest(Window window, const Rect& r) {
    XImage* image = XGetImage(display, window, r.x, r.y, static_cast<unsigned>(r.w), static_cast<unsigned>(r.h),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return 0;
    unsigned long long h = 14695981039346656037ull;
    for (int y = 0; y < r.h; ++y) {
        for (int x = 0; x < r.w; ++x) h = (h ^ (XGetPixel(image, x, y) & 0xFFFFFF)) * 1099511628211ull;
    }
    XDestroyImage(image);
    return h;
}

bool uniform(Window window, const Rect& r) {
    XImage* image = XGetImage(display, window, r.x, r.y, static_cast<unsigned>(r.w), static_cast<unsigned>(r.h),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    unsigned long first = XGetPixel(image, 0, 0) & 0xFFFFFF;
    bool same = true;
    for (int y = 0; y < r.h && same; ++y) {
        for (int x = 0; x < r.w && same; ++x) same = (XGetPixel(image, x, y) & 0xFFFFFF) == first;
    }
    XDestroyImage(image);
    return same;
}

// A menu on screen and painted: a viewable override-redirect top-level window whose left margin
// is one colour (not whatever lay under it) and whose items have ink. Sets its geometry.
bool popupShown(XWindowAttributes& shown) {
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &up, &children, &count) == 0) return false;
    bool found = false;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes a;
        if (!viewable(children[i], &a) || !a.override_redirect || a.width < 48 || a.height < 16) continue;
        found = uniform(children[i], {4, 4, 16, a.height - 8, 0}) &&
                darkPixels(children[i], {24, 4, a.width - 28, a.height - 8, 0}) > 100;
        if (found) shown = a;
    }
    if (children != nullptr) XFree(children);
    return found;
}

int usage() {
    std::fputs("usage: xprobe [--since NS] [--timeout MS] window NAME | client NAME | gone NAME | popup | nopopup |\n"
               "              step NAME X Y W H |\n"
               "              drawn NAME X Y W H MIN [X Y W H MIN]... -- X Y W H\n",
               stderr);
    return 2;
}

long long nowNanoseconds() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    long long since = nowNanoseconds();
    long timeoutMs = 10000;
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0 && argv[i][2] != '\0'; i += 2) {
        if (std::strcmp(argv[i], "--since") == 0) {
            since = std::atoll(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--timeout") == 0) {
            timeoutMs = std::atol(argv[i + 1]);
        } else {
            return usage();
        }
    }
    if (i >= argc) return usage();
    std::string what = argv[i++];
    std::vector<std::string> args(argv + i, argv + argc);

    std::string name;
    std::vector<Rect> inked;
    Rect background{0, 0, 0, 0, 0};
    if (what == "window" || what == "gone" || what == "client") {
        if (args.size() != 1) return usage();
        name = args[0];
    } else if (what == "drawn") {
        if (args.empty()) return usage();
        name = args[0];
        std::size_t k = 1;
        while (k + 5 <= args.size() && args[k] != "--") {
            inked.push_back({std::atoi(args[k].c_str()), std::atoi(args[k + 1].c_str()), std::atoi(args[k + 2].c_str()),
                             std::atoi(args[k + 3].c_str()), std::atol(args[k + 4].c_str())});
            k += 5;
        }
        if (k + 5 != args.size() || args[k] != "--") return usage();
        background = {std::atoi(args[k + 1].c_str()), std::atoi(args[k + 2].c_str()), std::atoi(args[k + 3].c_str()),
                      std::atoi(args[k + 4].c_str()), 0};
        if (background.w <= 0 || background.h <= 0) return usage();
    } else if (what == "step") {
        if (args.size() != 5) return usage();
        name = args[0];
        background = {std::atoi(args[1].c_str()), std::atoi(args[2].c_str()), std::atoi(args[3].c_str()),
                      std::atoi(args[4].c_str()), 0};
        if (background.w <= 0 || background.h <= 0) return usage();
    } else if (what != "popup" && what != "nopopup") {
        return usage();
    }

    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("xprobe: cannot open the display\n", stderr);
        return 2;
    }
    // Windows come and go while the tree is walked: a request about one that just went fails,
    // and is simply taken as "not there".
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    utf8String = XInternAtom(display, "UTF8_STRING", False);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (what == "step") {
        std::optional<Window> window = findWindow(name);
        unsigned long long last = window ? digest(*window, background) : 0;
        int changes = 0;
        auto first = std::chrono::steady_clock::now();
        while (window && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            unsigned long long now = digest(*window, background);
            if (now == last) continue;
            last = now;
            if (changes++ == 0) first = std::chrono::steady_clock::now();
            if (changes == 4) {
                auto span = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - first);
                std::printf("step=%lld\n", static_cast<long long>(span.count() / 3));
                XCloseDisplay(display);
                return 0;
            }
        }
        std::fprintf(stderr, "xprobe: fewer than four changes of the picture within %ld ms\n", timeoutMs);
        XCloseDisplay(display);
        return 1;
    }
    for (;;) {
        bool holds = false;
        std::optional<Window> window;
        XWindowAttributes popup{};
        if (what == "window" || what == "gone") {
            window = findWindow(name);
            holds = what == "window" ? window.has_value() : !window.has_value();
        } else if (what == "client") {
            if ((window = findWindow(name))) window = clientOf(*window);
            holds = window.has_value();
        } else if (what == "popup" || what == "nopopup") {
            holds = popupShown(popup) == (what == "popup");
        } else if ((window = findWindow(name))) {
            window = clientOf(*window);
            holds = uniform(*window, background);
            for (const Rect& r : inked) holds = holds && darkPixels(*window, r) >= r.min;
        }
        if (holds) {
            if (what == "window" || what == "client") printPlace(*window);
            if (what == "popup") std::printf("x=%d y=%d width=%d height=%d ", popup.x, popup.y, popup.width, popup.height);
            std::printf("ms=%lld\n", (nowNanoseconds() - since) / 1000000);
            XCloseDisplay(display);
            return 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::fprintf(stderr, "xprobe: %s did not hold within %ld ms\n", what.c_str(), timeoutMs);
    XCloseDisplay(display);
    return 1;
}
