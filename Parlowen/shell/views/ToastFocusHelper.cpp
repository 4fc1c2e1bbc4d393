// Test helper on a real X display (run by ToastFocus_test under Xvfb with a
// window manager, beside an active editor window):
//   toast_focus_helper toast <editor window>
//                               shows the toast and reports, before and
//                               after, the active window and the input focus,
//                               whether the toast is mapped, and whether it is
//                               stacked above the editor.
// Xlib stays in this file (its macros clash with Qt's and ours).

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "Parlowen/shell/views/NoSelectionToast.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/ui/FloatingPanel.h"

namespace {

unsigned long activeWindow(Display* d) {
    Atom prop = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long window = 0;
    if (XGetWindowProperty(d, DefaultRootWindow(d), prop, 0, 1, False, XA_WINDOW, &type, &format, &items, &after,
                           &data) == Success &&
        data && items == 1 && format == 32)
        window = *reinterpret_cast<unsigned long*>(data);
    if (data) XFree(data);
    return window;
}

unsigned long inputFocus(Display* d) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    return focus;
}

// The position in the root window's stacking order (bottom first) of the
// top-level window that holds `window` (a window manager frames clients).
int stackIndex(Display* d, unsigned long window) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    Window top = window;
    while (XQueryTree(d, top, &root, &parent, &children, &count)) {
        if (children) XFree(children);
        children = nullptr;
        if (parent == root || parent == 0) break;
        top = parent;
    }
    int index = -1;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i)
            if (children[i] == top) index = static_cast<int>(i);
        if (children) XFree(children);
    }
    return index;
}

bool isViewable(Display* d, unsigned long window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(d, window, &attributes) && attributes.map_state == IsViewable;
}

// Runs the event loop for `ms` milliseconds, or until `done` holds.
template <class F>
bool spin(int ms, F done) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done()) return true;
    }
    return done();
}

int toast(Display* d, unsigned long editorWindow) {
    const unsigned long activeBefore = activeWindow(d);
    const unsigned long focusBefore = inputFocus(d);
    platform::QtMainExecutor main;
    parlowen::NoSelectionToast toast(main);
    toast.show("Select some text first, then try again.");
    const unsigned long id = toast.panel().winId();
    // Give the window manager time to act on the new window (it would have
    // moved focus by now if it were going to).
    spin(8000, [&] { return isViewable(d, id); });
    spin(700, [] { return false; });
    XSync(d, False);
    std::printf("before active=%lx focus=%lx\n", activeBefore, focusBefore);
    const int toastLevel = stackIndex(d, id), editorLevel = stackIndex(d, editorWindow);
    std::printf("after active=%lx focus=%lx toast=%lx mapped=%d above=%d qtActive=%d shown=%d\n", activeWindow(d),
                inputFocus(d), id, isViewable(d, id) ? 1 : 0,
                toastLevel >= 0 && editorLevel >= 0 && toastLevel > editorLevel ? 1 : 0,
                QApplication::activeWindow() ? 1 : 0, toast.isShown() ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "toast") != 0) {
        std::fprintf(stderr, "usage: %s toast <editor window>\n", argv[0]);
        return 64;
    }
    QApplication app(argc, argv);
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "no display\n");
        return 3;
    }
    const int rc = toast(d, std::strtoul(argv[2], nullptr, 16));
    XCloseDisplay(d);
    return rc;
}
