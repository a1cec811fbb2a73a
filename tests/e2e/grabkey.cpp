// Holds a passive grab of one bare key on the root window, as another hotkey program would,
// so that the end-to-end tests can check how Tessel reports a key it cannot take. Prints
// "grabbed" once the server has accepted the grab, then stays until killed.

#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>

namespace {
bool failed = false;

int recordError(Display *, XErrorEvent *)
{
    failed = true;
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    const char *keyName = argc > 1 ? argv[1] : "F5";
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "grabkey: cannot open the display\n");
        return 2;
    }
    const KeySym sym = XStringToKeysym(keyName);
    const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
    if (!code) {
        std::fprintf(stderr, "grabkey: no keycode for %s\n", keyName);
        return 2;
    }
    XSetErrorHandler(recordError);
    XGrabKey(display, code, 0, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    if (failed) {
        std::fprintf(stderr, "grabkey: %s is grabbed by another client\n", keyName);
        return 1;
    }
    std::printf("grabbed\n");
    std::fflush(stdout);
    XEvent event;
    for (;;)
        XNextEvent(display, &event);
}
