// Asking another program's window to close, found by its title among the X
// server's top-level windows (and their children, where a window manager
// has framed them). The polite way: a WM_DELETE_WINDOW message, as the
// window's close button sends. Kept apart from the Qt code: Xlib's macros
// clash with Qt's names.
#include "desktop/shell.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace desktop {

namespace {

// Windows may vanish while the tree is walked; their errors mean nothing here.
int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

std::string WindowTitle(Display* display, Window window)
{
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data && type == utf8 && format == 8)
        title.assign(reinterpret_cast<char*>(data), count);
    if (data)
        XFree(data);
    if (!title.empty())
        return title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// Depth 0: the root's children; 1: their children.
Window FindTitled(Display* display, Window parent, const std::string& title, int depth)
{
    Window root = 0, parentOut = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        if (WindowTitle(display, children[i]) == title)
            found = children[i];
    for (unsigned int i = 0; i < count && !found && depth < 1; ++i)
        found = FindTitled(display, children[i], title, depth + 1);
    if (children)
        XFree(children);
    return found;
}

void SendDeleteWindow(Display* display, Window window)
{
    XEvent message;
    std::memset(&message, 0, sizeof message);
    message.xclient.type = ClientMessage;
    message.xclient.window = window;
    message.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &message);
    XFlush(display);
}

} // namespace

bool CloseWindowTitled(const std::string& title)
{
    if (title.empty())
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XErrorHandler previous = XSetErrorHandler(IgnoreErrors);
    const Window window = FindTitled(display, DefaultRootWindow(display), title, 0);
    if (window)
        SendDeleteWindow(display, window);
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return window != 0;
}

} // namespace desktop
