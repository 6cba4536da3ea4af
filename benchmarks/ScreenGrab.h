#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The pixels the display shows of `area` (in the window's own coordinates) of an X11 window,
    read back from the server after everything sent to it has been carried out; null where that
    cannot be done. The area must lie on the screen. */
juce::Image grabWindowArea (juce::Component& window, juce::Rectangle<int> area);
