#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace varnelle::test
{

/** A stand-in window so components can be put under the main mouse source without a display:
    mouse events fed to it reach the components like real ones do. As a focused window it also
    takes keyboard focus, delivers key presses and has a handle, so accessibility handlers exist
    (JUCE makes none for components outside a window). */
class FakePeer : public juce::ComponentPeer
{
public:
    explicit FakePeer (juce::Component& c, bool actsAsFocusedWindow = false)
        : juce::ComponentPeer (c, 0), focusedWindow (actsAsFocusedWindow)
    {
    }

    void moveMouseTo (juce::Point<float> p, juce::ModifierKeys mods = {})
    {
        handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, p, mods,
                          juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                          juce::Time::currentTimeMillis());
    }

    void* getNativeHandle() const override { return focusedWindow ? (void*)this : nullptr; }
    void setVisible (bool) override {}
    void setTitle (const juce::String&) override {}
    void setBounds (const juce::Rectangle<int>&, bool) override {}
    juce::Rectangle<int> getBounds() const override { return component.getLocalBounds(); }
    juce::Point<float> localToGlobal (juce::Point<float> p) override { return p; }
    juce::Point<float> globalToLocal (juce::Point<float> p) override { return p; }
    void setMinimised (bool) override {}
    bool isMinimised() const override { return false; }
    void setFullScreen (bool) override {}
    bool isFullScreen() const override { return false; }
    void setIcon (const juce::Image&) override {}
    bool contains (juce::Point<int> p, bool) const override
    {
        return component.getLocalBounds().contains (p);
    }
    OptionalBorderSize getFrameSizeIfPresent() const override { return {}; }
    juce::BorderSize<int> getFrameSize() const override { return {}; }
    bool setAlwaysOnTop (bool) override { return false; }
    void toFront (bool) override {}
    void toBehind (juce::ComponentPeer*) override {}
    bool isFocused() const override { return focusedWindow; }
    void grabFocus() override {}
    void textInputRequired (juce::Point<int>, juce::TextInputTarget&) override {}
    void repaint (const juce::Rectangle<int>& area) override { repainted.add (area); }
    void performAnyPendingRepaintsNow() override {}
    void setAlpha (float) override {}
    juce::StringArray getAvailableRenderingEngines() override { return {}; }

    /** Every area the window was asked to repaint, in its own coordinates. */
    juce::RectangleList<int> repainted;

private:
    const bool focusedWindow;
};

} // namespace varnelle::test
