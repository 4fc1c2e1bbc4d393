#include "platform/testsupport/X11Probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace testsupport::detail {
namespace {

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

Window windowProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    Window result = None;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                           &data) == Success &&
        type == XA_WINDOW && format == 32 && count == 1 && data) {
        result = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data) XFree(data);
    return result;
}

}  // namespace

bool x11HasWindowManager(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return false;
    bool found = false;
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check != None) {
        // The named window may be gone (BadWindow): that means no window manager.
        XSync(display, False);
        auto previous = XSetErrorHandler(ignoreXErrors);
        Window window = windowProperty(display, DefaultRootWindow(display), check);
        found = window != None && windowProperty(display, window, check) == window;
        XSync(display, False);
        XSetErrorHandler(previous);
    }
    XCloseDisplay(display);
    return found;
}

}  // namespace testsupport::detail
