#pragma once

#include "editor/BannerClickTarget.h"
#include "editor/KeyboardControls.h"
#include "editor/PresetMenu.h"

#include <juce_gui_basics/juce_gui_basics.h>

class VarnelleAudioProcessor;

namespace varnelle::editor
{

/** The window's top bar: the banner (image or product name) with its click target and the
    update dot, the "Listening to the Change" indicator at the banner's right end, the preset
    box with its "..." menu button, and the Before and After buttons.

    Not a component of its own: its controls are children of the window, laid out and painted
    in the window's coordinates, so that the window keeps its focus order and its pixels.
    Owned by the editor, whose processor outlives it; message thread only. */
class TopBar
{
public:
    TopBar (VarnelleAudioProcessor& processor, juce::Component& window);

    /** The click target, over the banner. */
    void addBannerToWindow();
    /** The preset box and its menu button, then the view buttons. */
    void addControlsToWindow();

    /** Places the controls in `bar` (the window's top strip): from the right After, Before,
        the menu button and the preset box; the banner gets what is left. */
    void layOut (juce::Rectangle<int> bar);

    /** The banner or name, the update dot if a newer version was found, and the indicator
        while the processor is listening to the change. */
    void paint (juce::Graphics& g, int windowWidth) const;

    /** Asks the feed of the site at `makerSiteUrl`, in the background, whether there is a
        newer version; if so the dot shows from then on (the window repaints). A result that
        arrives after this bar has gone is dropped. */
    void startUpdateCheck (const juce::String& makerSiteUrl = getMakerSiteUrl());

    /** Inside the banner's area, at its right end and left of where the dot may show, so that
        nothing moves when it appears: the area the indicator may take (naming a band, it is
        wider than for the change of all bands). */
    juce::Rectangle<int> getListeningIndicatorBounds() const;
    juce::Rectangle<int> getIndicatorBounds (bool namesABand) const;

    juce::Rectangle<int> getBannerBounds() const noexcept { return bannerBounds; }
    BannerClickTarget& getBannerClickTarget() noexcept { return bannerClickTarget; }
    bool isUpdateAvailable() const noexcept { return updateAvailable; }
    juce::ComboBox& getPresetBox() noexcept { return presetBox; }
    juce::TextButton& getPresetMenuButton() noexcept { return presetMenuButton; }
    PresetMenu& getPresetMenu() noexcept { return presetMenu; }
    juce::TextButton& getBeforeButton() noexcept { return beforeButton; }
    juce::TextButton& getAfterButton() noexcept { return afterButton; }

private:
    void configureViewButton (juce::TextButton& button, const juce::String& text);

    VarnelleAudioProcessor& processor;
    juce::Component& window;

    bool updateAvailable = false;
    juce::Image bannerImage;
    BannerClickTarget bannerClickTarget;
    juce::Rectangle<int> bannerBounds;

    TitledComboBox presetBox;
    juce::TextButton presetMenuButton;
    PresetMenu presetMenu{processor, window, presetBox, presetMenuButton};
    juce::TextButton beforeButton;
    juce::TextButton afterButton;

    JUCE_DECLARE_NON_COPYABLE (TopBar)
};

} // namespace varnelle::editor
