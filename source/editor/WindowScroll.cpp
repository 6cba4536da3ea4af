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

    CopyArea copyArea = nullptr;
    CreateGC createGC = nullptr;
    FreeGC freeGC = nullptr;
    Sync sync = nullptr;
    CheckTypedWindowEvent checkTypedWindowEvent = nullptr;

    static const Xlib* get()
    {
        static const Xlib xlib = load();
        return xlib.copyArea != nullptr && xlib.createGC != nullptr && xlib.freeGC != nullptr &&
                       xlib.sync != nullptr && xlib.checkTypedWindowEvent != nullptr
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
        return xlib;
    }
};

// The component's X window, when its pixels are the component's own at one to one.
juce::ComponentPeer* unscaledX11Peer (juce::Component& component)
{
    auto* peer = component.getPeer();
    if (peer == nullptr || peer->getNativeHandle() == nullptr || peer->getPlatformScaleFactor() != 1.0 ||
        juce::Component::getApproximateScaleFactorForComponent (&component) != 1.0f ||
        peer->getComponent().getDesktopScaleFactor() != 1.0f)
        return nullptr;
    if (juce::XWindowSystem::getInstanceWithoutCreating() == nullptr || Xlib::get() == nullptr)
        return nullptr;
    return peer;
}
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
