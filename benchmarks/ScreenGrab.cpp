// JUCE's display connection and its lock come with the X headers, which only this file sees.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "ScreenGrab.h"

#include "XErrorHandling.h"

juce::Image grabWindowArea (juce::Component& window, juce::Rectangle<int> area)
{
    using GetImage = XImage* (*)(Display*, Drawable, int, int, unsigned, unsigned, unsigned long, int);
    using Sync = int (*) (Display*, Bool);
    auto* getImage = varnelle::hostcheck::findX11Function<GetImage> ("XGetImage");
    auto* sync = varnelle::hostcheck::findX11Function<Sync> ("XSync");
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
    auto* peer = window.getPeer();
    if (getImage == nullptr || sync == nullptr || windowSystem == nullptr || peer == nullptr ||
        area.isEmpty())
        return {};

    XImage* shown = nullptr;
    {
        const juce::XWindowSystemUtilities::ScopedXLock lock;
        auto* display = windowSystem->getDisplay();
        sync (display, False);
        shown = getImage (display, (Drawable)(juce::pointer_sized_uint)peer->getNativeHandle(), area.getX(),
                          area.getY(), (unsigned)area.getWidth(), (unsigned)area.getHeight(), ~0ul, ZPixmap);
    }
    if (shown == nullptr)
        return {};

    // XGetPixel and XDestroyImage are the image's own functions (Xlib's macros for them).
    juce::Image image (juce::Image::RGB, area.getWidth(), area.getHeight(), false);
    for (int y = 0; y < area.getHeight(); ++y)
        for (int x = 0; x < area.getWidth(); ++x)
            image.setPixelAt (x, y,
                              juce::Colour ((juce::uint32) (shown->f.get_pixel (shown, x, y) | 0xff000000)));
    shown->f.destroy_image (shown);
    return image;
}
