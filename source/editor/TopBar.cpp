#include "TopBar.h"

#include "editor/BannerImage.h"
#include "editor/EditorShared.h"
#include "editor/UpdateCheck.h"
#include "engine/VarnelleAudioProcessor.h"

namespace varnelle::editor
{

TopBar::TopBar (VarnelleAudioProcessor& processorToShow, juce::Component& windowToUse)
    : processor (processorToShow), window (windowToUse), bannerImage (loadBannerImage())
{
}

void TopBar::addBannerToWindow()
{
    window.addAndMakeVisible (bannerClickTarget);
}

void TopBar::addControlsToWindow()
{
    configureViewButton (beforeButton, "Before");
    configureViewButton (afterButton, "After");

    window.addAndMakeVisible (presetBox);
    window.addAndMakeVisible (presetMenuButton);
    presetMenu.setUpControls();
}

void TopBar::configureViewButton (juce::TextButton& button, const juce::String& text)
{
    button.setButtonText (text);
    button.setClickingTogglesState (true);
    button.setRadioGroupId (2001);
    button.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff1d2a43));
    button.setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff4ea8ff));
    button.setColour (juce::TextButton::textColourOffId, juce::Colours::white.withAlpha (0.82f));
    button.setColour (juce::TextButton::textColourOnId, juce::Colours::white);
    window.addAndMakeVisible (button);
}

void TopBar::layOut (juce::Rectangle<int> bar)
{
    auto placeInBar = [&bar] (juce::Component& component, int width)
    {
        const auto strip = bar.removeFromRight (width);
        component.setBounds (strip.getX(), bar.getY() + (bar.getHeight() - 28) / 2, strip.getWidth(), 28);
    };
    placeInBar (afterButton, 86);
    bar.removeFromRight (8);
    placeInBar (beforeButton, 86);
    bar.removeFromRight (10);
    placeInBar (presetMenuButton, 84);
    bar.removeFromRight (8);
    placeInBar (presetBox, 260);

    bannerBounds = bar.reduced (0, 2);
    bannerClickTarget.setBounds (bannerBounds);
}

void TopBar::paint (juce::Graphics& g, int windowWidth) const
{
    drawBanner (g, bannerImage, bannerBounds, windowWidth);
    if (updateAvailable && !bannerBounds.isEmpty())
        drawUpdateDot (g, bannerBounds);

    // Nobody should mix with the difference left on by mistake.
    const int band = processor.getListeningBand();
    if (band >= 0 || processor.isListeningToChange())
    {
        const auto indicator = getIndicatorBounds (band >= 0).toFloat();
        g.setColour (cutColour);
        g.fillRoundedRectangle (indicator, 4.0f);
        g.setColour (juce::Colour (0xff1a1206));
        g.setFont (makeFont (12.0f, true));
        g.drawText (band >= 0 ? "Listening to Band " + juce::String (band + 1) + "'s Change"
                              : juce::String ("Listening to the Change"),
                    indicator, juce::Justification::centred, true);
    }
}

void TopBar::startUpdateCheck (const juce::String& makerSiteUrl)
{
    // The click target lives exactly as long as this bar, so the result is dropped once the
    // bar has gone, whoever owns it; the window that owns the bar outlives it.
    varnelle::editor::startUpdateCheck (
        bannerClickTarget,
        [this]
        {
            updateAvailable = true;
            window.repaint();
        },
        makerSiteUrl);
}

juce::Rectangle<int> TopBar::getListeningIndicatorBounds() const
{
    return getIndicatorBounds (true);
}

// A band's name takes a wider pill; both end where the banner's area does.
juce::Rectangle<int> TopBar::getIndicatorBounds (bool namesABand) const
{
    const int width = juce::jmin (namesABand ? 200 : 150, juce::jmax (0, bannerBounds.getWidth() - 24));
    return {bannerBounds.getRight() - 24 - width, bannerBounds.getCentreY() - 10, width, 20};
}

} // namespace varnelle::editor
