// JUCE's X11 declarations (XWindowSystem and its lock) come with the X headers, which only this
// file sees (elsewhere than on X11 the setting does nothing).
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "editor/WindowScroll.h"

#include <atomic>

#if JUCE_LINUX || JUCE_BSD
#include <dlfcn.h>
#endif

namespace varnelle::editor::windowscroll
{

namespace
{
std::atomic<int> numScrolls{0};
}

int getNumScrolls() noexcept
{
    return numScrolls.load();
}

#if JUCE_LINUX || JUCE_BSD

namespace
{
// The Xlib calls JUCE has no wrapper for, from the libX11 that JUCE has loaded (the plug-in
// does not link libX11 itself, as JUCE does not). The handle is kept, so that the functions
// stay valid for the life of the process.
struct Xlib
{
    using CopyArea = int (*) (Display*, Drawable, Drawable, GC, int, int, unsigned, unsigned, int, int);
    using CreateGC = GC (*) (Display*, Drawable, unsigned long, XGCValues*);
    using FreeGC = int (*) (Display*, GC);
    using Sync = int (*) (Display*, Bool);
    using CheckTypedWindowEvent = Bool (*) (Display*, Window, int, XEvent*);
    using Predicate = Bool (*) (Display*, XEvent*, XPointer);
    using CheckIfEvent = Bool (*) (Display*, XEvent*, Predicate, XPointer);
    using EventsQueued = int (*) (Display*, int);
    using SendEvent = Status (*) (Display*, Window, Bool, long, XEvent*);
    using Flush = int (*) (Display*);

    CopyArea copyArea = nullptr;
    CreateGC createGC = nullptr;
    FreeGC freeGC = nullptr;
    Sync sync = nullptr;
    CheckTypedWindowEvent checkTypedWindowEvent = nullptr;
    CheckIfEvent checkIfEvent = nullptr;
    EventsQueued eventsQueued = nullptr;
    SendEvent sendEvent = nullptr;
    Flush flush = nullptr;

    static const Xlib* get()
    {
        static const Xlib xlib = load();
        return xlib.copyArea != nullptr && xlib.createGC != nullptr && xlib.freeGC != nullptr &&
                       xlib.sync != nullptr && xlib.checkTypedWindowEvent != nullptr &&
                       xlib.checkIfEvent != nullptr && xlib.eventsQueued != nullptr &&
                       xlib.sendEvent != nullptr && xlib.flush != nullptr
                   ? &xlib
                   : nullptr;
    }

private:
    static Xlib load()
    {
        Xlib xlib;
        void* library = ::dlopen ("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
        if (library == nullptr)
            return xlib;
        xlib.copyArea = reinterpret_cast<CopyArea> (::dlsym (library, "XCopyArea"));
        xlib.createGC = reinterpret_cast<CreateGC> (::dlsym (library, "XCreateGC"));
        xlib.freeGC = reinterpret_cast<FreeGC> (::dlsym (library, "XFreeGC"));
        xlib.sync = reinterpret_cast<Sync> (::dlsym (library, "XSync"));
        xlib.checkTypedWindowEvent =
            reinterpret_cast<CheckTypedWindowEvent> (::dlsym (library, "XCheckTypedWindowEvent"));
        xlib.checkIfEvent = reinterpret_cast<CheckIfEvent> (::dlsym (library, "XCheckIfEvent"));
        xlib.eventsQueued = reinterpret_cast<EventsQueued> (::dlsym (library, "XEventsQueued"));
        xlib.sendEvent = reinterpret_cast<SendEvent> (::dlsym (library, "XSendEvent"));
        xlib.flush = reinterpret_cast<Flush> (::dlsym (library, "XFlush"));
        return xlib;
    }
};

// The component's X window, when the component shows in it at one to one, moved only.
juce::ComponentPeer* unscaledX11Peer (juce::Component& component)
{
    auto* peer = component.getPeer();
    if (peer == nullptr || peer->getNativeHandle() == nullptr || peer->getPlatformScaleFactor() != 1.0 ||
        peer->getComponent().getDesktopScaleFactor() != 1.0f || !component.isShowing())
        return nullptr;
    for (auto* c = &component; c != nullptr; c = c->getParentComponent())
        if (c->isTransformed())
            return nullptr;
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
    if (windowSystem == nullptr || windowSystem->getDisplay() == nullptr || Xlib::get() == nullptr)
        return nullptr;
    return peer;
}

// Whether `area` of the component shows in full in its window: inside every parent, and under
// no later sibling of it or of a parent.
bool showsWhole (juce::Component& component, juce::Rectangle<int> area)
{
    auto* c = &component;
    while (auto* parent = c->getParentComponent())
    {
        area = parent->getLocalArea (c, area);
        if (!parent->getLocalBounds().contains (area))
            return false;
        for (int i = parent->getIndexOfChildComponent (c) + 1; i < parent->getNumChildComponents(); ++i)
            if (auto* above = parent->getChildComponent (i);
                above->isVisible() && above->getBounds().intersects (area))
                return false;
        c = parent;
    }
    return true;
}

// Finds, without taking them, the Expose events of one window still in Xlib's queue: the parts
// of it that were uncovered but not yet painted, whose stale pixels a move would carry along.
struct QueuedExposes
{
    ::Window window;
    juce::RectangleList<int> areas;

    static Bool note (Display*, XEvent* event, XPointer self)
    {
        auto& exposes = *reinterpret_cast<QueuedExposes*> (self);
        if (event->type == Expose && event->xexpose.window == exposes.window)
            exposes.areas.add (
                {event->xexpose.x, event->xexpose.y, event->xexpose.width, event->xexpose.height});
        return False;
    }
};
} // namespace

bool paintWhatTheWindowOwes (juce::Component& component)
{
    auto* peer = unscaledX11Peer (component);
    if (peer == nullptr)
        return false;
    const auto window = (::Window) (juce::pointer_sized_uint)peer->getNativeHandle();
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();

    // While the server has not taken the window's last picture, JUCE paints nothing, so what is
    // owed would stay owed.
    windowSystem->processPendingPaintsForWindow (window);
    if (windowSystem->getNumPaintsPendingForWindow (window) > 0)
        return false;
    peer->performAnyPendingRepaintsNow();
    return true;
}

bool scrollLeft (juce::Component& component, juce::Rectangle<int> area, int dx,
                 juce::RectangleList<int>& toRepaint)
{
    auto* peer = unscaledX11Peer (component);
    if (peer == nullptr || dx <= 0 || dx >= area.getWidth() || area.getHeight() <= 0)
        return false;
    const auto& xlib = *Xlib::get();
    const auto window = (::Window) (juce::pointer_sized_uint)peer->getNativeHandle();
    auto* display = juce::XWindowSystem::getInstanceWithoutCreating()->getDisplay();
    auto& top = peer->getComponent();
    const auto inWindow = top.getLocalArea (&component, area);

    // Only pixels that are the component's own may move: nothing over it, nothing cut off.
    if (!showsWhole (component, area))
        return false;

    {
        const juce::XWindowSystemUtilities::ScopedXLock lock;
        // Asks the server to say which pixels it could not copy (GraphicsExpose).
        XGCValues values{};
        values.graphics_exposures = True;
        auto* gc = xlib.createGC (display, window, GCGraphicsExposures, &values);
        if (gc == nullptr)
            return false;
        xlib.copyArea (display, window, window, gc, inWindow.getX() + dx, inWindow.getY(),
                       (unsigned)(inWindow.getWidth() - dx), (unsigned)inWindow.getHeight(), inWindow.getX(),
                       inWindow.getY());
        xlib.freeGC (display, gc);

        // The answers come before the round trip ends; JUCE would discard them unread.
        xlib.sync (display, False);
        XEvent event;
        while (xlib.checkTypedWindowEvent (display, window, GraphicsExpose, &event))
        {
            const auto& e = event.xgraphicsexpose;
            toRepaint.add (component.getLocalArea (&top, juce::Rectangle<int> (e.x, e.y, e.width, e.height)));
        }
        while (xlib.checkTypedWindowEvent (display, window, NoExpose, &event))
        {
        }

        // Uncovered parts JUCE has not painted yet were moved as they were: paint them where
        // they are and where they went (JUCE paints the first when it reads their events).
        QueuedExposes exposes{window, {}};
        xlib.checkIfEvent (display, &event, &QueuedExposes::note, reinterpret_cast<XPointer> (&exposes));
        for (const auto& exposed : exposes.areas)
        {
            const auto inComponent = component.getLocalArea (&top, exposed);
            toRepaint.add (inComponent);
            toRepaint.add (inComponent.translated (-dx, 0));
        }

        // The round trip may have read events into Xlib's queue, where JUCE, which waits for
        // the connection to become readable, would leave them until other traffic came. An
        // event of no meaning to JUCE, sent to the window, brings it to read them.
        if (xlib.eventsQueued (display, QueuedAlready) > 0)
        {
            XEvent wake{};
            wake.xclient.type = ClientMessage;
            wake.xclient.window = window;
            wake.xclient.format = 32;
            xlib.sendEvent (display, window, False, NoEventMask, &wake);
            xlib.flush (display);
        }
    }

    toRepaint.add (area.withLeft (area.getRight() - dx));
    ++numScrolls;
    return true;
}

#else

bool paintWhatTheWindowOwes (juce::Component&)
{
    return false;
}

bool scrollLeft (juce::Component&, juce::Rectangle<int>, int, juce::RectangleList<int>&)
{
    return false;
}

#endif

} // namespace varnelle::editor::windowscroll
