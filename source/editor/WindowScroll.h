#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace varnelle::editor
{

/** Moving pixels that are already on screen instead of painting them again, for a picture that
    scrolls: the display server copies them within the window, and only what comes into view is
    painted. JUCE repaints a scrolled area in full (clearing it, painting it, converting and
    sending every pixel), which for a large plot 30 times a second is most of the window's cost.

    Only on X11, for an unscaled window; elsewhere every call returns false and the caller
    repaints as usual. Message thread only. */
namespace windowscroll
{
/** Paints what the component's window still owes, so that its screen pixels are what its
    components show now. False when that cannot be done at this moment (the window waits for the
    server to take its previous picture) or when the window cannot be scrolled on screen. */
bool paintWhatTheWindowOwes (juce::Component& component);

/** Moves the screen pixels of `area` (component coordinates) left by `dx` within the window.
    Pixels whose source was not on screen (covered, or outside the window) are added to
    `toRepaint`, as is the strip of width dx at the right that the move leaves. Returns false,
    and moves nothing, where this cannot be done. Call paintWhatTheWindowOwes first in the same
    message-thread call, or the move carries stale pixels. */
bool scrollLeft (juce::Component& component, juce::Rectangle<int> area, int dx,
                 juce::RectangleList<int>& toRepaint);

/** How many times scrollLeft moved pixels in this process (for the window's own checks). */
int getNumScrolls() noexcept;
} // namespace windowscroll

} // namespace varnelle::editor
