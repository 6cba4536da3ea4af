#include "VarnelleAudioProcessorEditor.h"

#include "editor/BannerImage.h"
#include "editor/EditorShared.h"
#include "editor/KeyboardControls.h"
#include "editor/ModernKnobLookAndFeel.h"
#include "editor/SpectrogramComponent.h"
#include "editor/UpdateCheck.h"
#include "engine/BandParameters.h"

using namespace varnelle::editor;
using varnelle::BandParam;
using varnelle::getBandParameterName;

namespace
{
constexpr int panelHeight = 250;
constexpr int knobHeight = 55;
constexpr float bypassedKnobAlpha = 0.62f;
const juce::Colour bypassedOutlineColour (0xfff15b6b);

// Knob colours shared by the band knobs and the two left-column knobs.
void setKnobColours (juce::Slider& slider)
{
    slider.setColour (juce::Slider::rotarySliderFillColourId, juce::Colour (0xff63b7ff));
    slider.setColour (juce::Slider::thumbColourId, juce::Colour (0xffffe5b1));
    slider.setColour (juce::Slider::textBoxTextColourId, juce::Colours::white);
    slider.setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0x00000000));
}

// The Width dial and the Lookahead knob: the shared knob look with a larger text box.
void setUpLeftColumnKnob (juce::Slider& slider, juce::NormalisableRange<double> range, double midPoint,
                          const char* suffix, double doubleClickValue)
{
    slider.setLookAndFeel (&getKnobLookAndFeel());
    slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 72, 18);
    setKnobColours (slider);
    slider.setRange (range.start, range.end, range.interval);
    slider.setSkewFactorFromMidPoint (midPoint);
    slider.setTextValueSuffix (suffix);
    slider.setDoubleClickReturnValue (true, doubleClickValue);
}

juce::String bandParameterId (int bandIndex, const char* name)
{
    return "band" + juce::String (bandIndex + 1) + "_" + name;
}
} // namespace

VarnelleAudioProcessorEditor::VarnelleAudioProcessorEditor (VarnelleAudioProcessor& processorToEdit,
                                                            bool checkForUpdates)
    : juce::AudioProcessorEditor (processorToEdit), processorRef (processorToEdit)
{
    bannerImage = loadBannerImage();
    bannerClickTarget = std::make_unique<BannerClickTarget>();
    addAndMakeVisible (*bannerClickTarget);

    spectrogram = std::make_unique<SpectrogramComponent> (processorRef);
    auto* display = spectrogram.get();
    onWidthChanged = [display] (float zoom) { display->setTimeZoom (juce::jlimit (4.0f, 20.0f, zoom)); };
    onViewChanged = [display] (bool showAfter) { display->setShowAfterGain (showAfter); };
    onSelectedBandChanged = [display] (int band) { display->setSelectedBand (juce::jlimit (0, 4, band)); };
    addAndMakeVisible (*spectrogram);

    configureWidthDial();
    configureLookaheadKnob();

    const std::pair<juce::Label*, const char*> rowLabels[] = {
        {&gainLabel, "Gain"},           {&attackLabel, "Attack"},        {&releaseLabel, "Release"},
        {&lookaheadLabel, "Lookahead"}, {&upperKneeLabel, "Upper Knee"}, {&lowerKneeLabel, "Lower Knee"}};
    for (const auto& [label, text] : rowLabels)
    {
        addAndMakeVisible (*label);
        label->setText (text, juce::dontSendNotification);
        label->setJustificationType (label == &lookaheadLabel ? juce::Justification::centred
                                                              : juce::Justification::centredLeft);
        label->setColour (juce::Label::textColourId, juce::Colours::white.withAlpha (0.82f));
    }

    configureViewButton (beforeButton, "Before");
    configureViewButton (afterButton, "After");

    addAndMakeVisible (presetBox);
    addAndMakeVisible (presetMenuButton);
    presetMenu.setUpControls();

    for (int band = 0; band < 5; ++band)
    {
        configureBandButton (band);
        configureBandKnob (gainSliders[band], " dB");
        configureBandKnob (upperKneeSliders[band], " dB");
        configureBandKnob (attackSliders[band], " ms");
        configureBandKnob (lowerKneeSliders[band], " dB");
        configureBandKnob (releaseSliders[band], " ms");
        for (auto* knob : knobsOf (band))
            knob->onDragStart = [this, band] { selectBand (band); };
    }

    attachBandKnobs();
    refreshBypassState();
    setUpKeyboardAccess();

    beforeButton.onClick = [this]
    {
        if (onViewChanged)
            onViewChanged (false);
    };
    afterButton.onClick = [this]
    {
        if (onViewChanged)
            onViewChanged (true);
    };
    beforeButton.setToggleState (true, juce::dontSendNotification);
    afterButton.setToggleState (false, juce::dontSendNotification);
    onViewChanged (false);

    selectedBand = 0;
    repaint();
    onSelectedBandChanged (0);

    updateAvailable = false;
    if (checkForUpdates)
        checkForUpdatesAsync();

    presetMenu.onListeningToChangeSwitched = [this] { repaint (getListeningIndicatorBounds()); };
    // The window takes the keys its controls leave: undo, redo and delta listening.
    setWantsKeyboardFocus (true);

    setResizable (true, true);
    setResizeLimits (900, 620, 2400, 1600);
    setSize (1140, 760);
}

VarnelleAudioProcessorEditor::~VarnelleAudioProcessorEditor()
{
    // A drag still in progress when the window closes would never end: a knob's attachment
    // goes before the knob. The display ends its own; the history ends what is left, so the
    // host sees every edit end and the history keeps the step.
    spectrogram->endDrag();
    processorRef.getEditHistory().endOpenGestures();

    // The shared look-and-feel outlives every editor; no knob may still point at it when the
    // knobs die.
    widthSlider.setLookAndFeel (nullptr);
    lookaheadSlider.setLookAndFeel (nullptr);
    for (int band = 0; band < 5; ++band)
        for (auto* knob : knobsOf (band))
            knob->setLookAndFeel (nullptr);
}

std::array<juce::Slider*, 5> VarnelleAudioProcessorEditor::knobsOf (int bandIndex)
{
    const auto b = (size_t)juce::jlimit (0, 4, bandIndex);
    return {&gainSliders[b], &upperKneeSliders[b], &attackSliders[b], &lowerKneeSliders[b],
            &releaseSliders[b]};
}

juce::Slider& VarnelleAudioProcessorEditor::getBandKnob (int bandIndex, KnobRow row)
{
    return *knobsOf (bandIndex)[(size_t)row];
}

juce::TextButton* VarnelleAudioProcessorEditor::getBandButton (int bandIndex) noexcept
{
    return bandButtons[juce::jlimit (0, 4, bandIndex)].get();
}

juce::Label& VarnelleAudioProcessorEditor::getRowLabel (KnobRow row) noexcept
{
    juce::Label* labels[] = {&gainLabel, &upperKneeLabel, &attackLabel, &lowerKneeLabel, &releaseLabel};
    return *labels[(int)row];
}

void VarnelleAudioProcessorEditor::checkForUpdatesAsync()
{
    // The result arrives on the message thread, and only while this editor still exists.
    startUpdateCheck (*this,
                      [this]
                      {
                          updateAvailable = true;
                          repaint();
                      });
}

//==============================================================================
void VarnelleAudioProcessorEditor::configureWidthDial()
{
    addAndMakeVisible (widthSlider);
    setUpLeftColumnKnob (widthSlider, {4.0, 20.0, 0.01}, 8.0, " x", 4.0);
    widthSlider.onValueChange = [this]
    {
        if (onWidthChanged)
            onWidthChanged ((float)widthSlider.getValue());
    };
    widthSlider.setValue (4.0, juce::dontSendNotification);
    if (onWidthChanged)
        onWidthChanged (4.0f);

    addAndMakeVisible (widthLabel);
    widthLabel.setText ("Width", juce::dontSendNotification);
    widthLabel.setJustificationType (juce::Justification::centred);
    widthLabel.setColour (juce::Label::textColourId, juce::Colours::white.withAlpha (0.85f));
}

juce::String VarnelleAudioProcessorEditor::findLookaheadParameterId() const
{
    static const char* const candidates[] = {
        "lookaheadMs",         "lookahead_ms",        "lookahead",         "LookaheadMs",
        "Lookahead",           "global_lookahead_ms", "globalLookaheadMs", "detector_lookahead_ms",
        "detectorLookaheadMs", "analysisLookaheadMs"};
    for (const char* id : candidates)
        if (processorRef.parameters.getParameter (id) != nullptr)
            return id;
    return {};
}

void VarnelleAudioProcessorEditor::configureLookaheadKnob()
{
    addAndMakeVisible (lookaheadSlider);
    setUpLeftColumnKnob (lookaheadSlider, {0.0, 30.0, 0.1}, 10.0, " ms", 10.0);

    globalLookaheadId = findLookaheadParameterId();
    bindLookaheadKnob();
}

void VarnelleAudioProcessorEditor::bindLookaheadKnob()
{
    // Without a global lookahead parameter the knob edits the highlighted band's lookahead, so
    // it always changes something the engine uses.
    const auto id =
        globalLookaheadId.isNotEmpty() ? globalLookaheadId : bandParameterId (selectedBand, "lookaheadMs");
    lookaheadAttachment.reset();
    if (processorRef.parameters.getParameter (id) != nullptr)
        lookaheadAttachment =
            std::make_unique<SliderAttachment> (processorRef.parameters, id, lookaheadSlider);
}

void VarnelleAudioProcessorEditor::configureBandKnob (juce::Slider& slider, const juce::String& suffix)
{
    addAndMakeVisible (slider);
    slider.setLookAndFeel (&getKnobLookAndFeel());
    slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 54, 16);
    setKnobColours (slider);
    slider.setTextValueSuffix (suffix);
}

void VarnelleAudioProcessorEditor::configureBandButton (int bandIndex)
{
    const auto name = "Band" + juce::String (bandIndex + 1);
    auto button = std::make_unique<BandBypassButton> (name);
    button->setButtonText (name);
    button->setClickingTogglesState (true);
    button->setColour (juce::TextButton::buttonColourId, juce::Colour (0xff0f1727).withAlpha (0.55f));
    button->setColour (juce::TextButton::buttonOnColourId,
                       juce::Colour (0xff131d31).interpolatedWith (getBandColour (bandIndex), 0.28f));
    button->setColour (juce::TextButton::textColourOffId, juce::Colours::white.withAlpha (0.88f));
    button->setColour (juce::TextButton::textColourOnId, juce::Colours::white);
    button->onClick = [this, bandIndex] { toggleBandBypass (bandIndex); };
    addAndMakeVisible (*button);
    bandButtons[bandIndex] = std::move (button);
}

void VarnelleAudioProcessorEditor::configureViewButton (juce::TextButton& button, const juce::String& text)
{
    button.setButtonText (text);
    button.setClickingTogglesState (true);
    button.setRadioGroupId (2001);
    button.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff1d2a43));
    button.setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff4ea8ff));
    button.setColour (juce::TextButton::textColourOffId, juce::Colours::white.withAlpha (0.82f));
    button.setColour (juce::TextButton::textColourOnId, juce::Colours::white);
    addAndMakeVisible (button);
}

void VarnelleAudioProcessorEditor::setUpKeyboardAccess()
{
    widthSlider.setTitle ("Width");
    lookaheadSlider.setTitle ("Lookahead");
    presetBox.setTitle ("Preset");
    presetMenuButton.setTitle (presetMenuButton.getTooltip());
    spectrogram->onBandKey = [this] (int band) { selectBand (band); };

    // Tab follows reading order: the top bar, the display, each band's column, the left column.
    int order = 1;
    for (juce::Component* c : std::initializer_list<juce::Component*>{
             &presetBox, &presetMenuButton, &beforeButton, &afterButton, spectrogram.get()})
        c->setExplicitFocusOrder (order++);
    for (int band = 0; band < 5; ++band)
    {
        bandButtons[band]->setTitle (getBandParameterName (band, BandParam::bypass));
        bandButtons[band]->setExplicitFocusOrder (order++);
        const BandParam slots[] = {BandParam::gain, BandParam::upperKneeDb, BandParam::attackMs,
                                   BandParam::lowerKneeDb, BandParam::releaseMs};
        const auto knobs = knobsOf (band);
        for (size_t row = 0; row < knobs.size(); ++row)
        {
            knobs[row]->setTitle (getBandParameterName (band, slots[row]));
            knobs[row]->setExplicitFocusOrder (order++);
        }
    }
    widthSlider.setExplicitFocusOrder (order++);
    lookaheadSlider.setExplicitFocusOrder (order);
}

void VarnelleAudioProcessorEditor::attachBandKnobs()
{
    auto& parameters = processorRef.parameters;
    for (int band = 0; band < 5; ++band)
    {
        const std::tuple<std::unique_ptr<SliderAttachment>&, juce::Slider&, const char*> bindings[] = {
            {gainAttachments[band], gainSliders[band], "gain"},
            {attackAttachments[band], attackSliders[band], "attackMs"},
            {releaseAttachments[band], releaseSliders[band], "releaseMs"},
            {upperKneeAttachments[band], upperKneeSliders[band], "upperKneeDb"},
            {lowerKneeAttachments[band], lowerKneeSliders[band], "lowerKneeDb"},
        };
        for (const auto& [attachment, slider, name] : bindings)
        {
            attachment.reset();
            if (parameters.getParameter (bandParameterId (band, name)) != nullptr)
                attachment =
                    std::make_unique<SliderAttachment> (parameters, bandParameterId (band, name), slider);
        }
    }
}

//==============================================================================
void VarnelleAudioProcessorEditor::selectBand (int bandIndex)
{
    selectedBand = juce::jlimit (0, 4, bandIndex);
    if (globalLookaheadId.isEmpty())
        bindLookaheadKnob();
    repaint();
    if (onSelectedBandChanged)
        onSelectedBandChanged (selectedBand);
}

void VarnelleAudioProcessorEditor::toggleBandBypass (int bandIndex)
{
    auto* button = bandButtons[bandIndex].get();
    const bool on = button != nullptr && button->getToggleState();
    const auto id = findBypassParameterId (processorRef.parameters, bandIndex);
    if (auto* parameter = id.isNotEmpty() ? processorRef.parameters.getParameter (id) : nullptr)
    {
        parameter->beginChangeGesture();
        parameter->setValueNotifyingHost (on ? 0.0f : 1.0f);
        parameter->endChangeGesture();
    }
    applyBypassLook (bandIndex, isBandBypassed (processorRef.parameters, bandIndex));
    repaint();
}

void VarnelleAudioProcessorEditor::applyBypassLook (int bandIndex, bool bypassed)
{
    for (auto* knob : knobsOf (bandIndex))
    {
        knob->getProperties().set ("bandBypassed", bypassed);
        knob->setAlpha (bypassed ? bypassedKnobAlpha : 1.0f);
    }
}

void VarnelleAudioProcessorEditor::refreshBypassState()
{
    // Runs on every paint: host automation of a bypass shows up at the next repaint without a
    // listener or timer of the editor's own.
    for (int band = 0; band < 5; ++band)
    {
        const bool bypassed = isBandBypassed (processorRef.parameters, band);
        if (auto* button = bandButtons[band].get();
            button != nullptr && button->getToggleState() != !bypassed)
            button->setToggleState (!bypassed, juce::dontSendNotification);
        applyBypassLook (band, bypassed);
    }
}

//==============================================================================
juce::Rectangle<int> VarnelleAudioProcessorEditor::getKnobArea (int bandIndex) const
{
    const auto b = (size_t)bandIndex;
    return gainSliders[b]
        .getBounds()
        .getUnion (upperKneeSliders[b].getBounds())
        .getUnion (attackSliders[b].getBounds())
        .getUnion (lowerKneeSliders[b].getBounds())
        .getUnion (releaseSliders[b].getBounds());
}

bool VarnelleAudioProcessorEditor::keyPressed (const juce::KeyPress& key)
{
    const auto modifiers = key.getModifiers();
    const auto letter = juce::CharacterFunctions::toUpperCase ((juce::juce_wchar)key.getKeyCode());
    auto& history = processorRef.getEditHistory();

    if (modifiers.isCommandDown() && !modifiers.isAltDown())
    {
        if (letter == 'Z')
        {
            if (modifiers.isShiftDown())
                history.redo();
            else
                history.undo();
            return true;
        }
        if (letter == 'Y' && !modifiers.isShiftDown())
        {
            history.redo();
            return true;
        }
        return false;
    }

    if (letter == 'D' && !modifiers.isAnyModifierKeyDown())
    {
        setListeningToChange (!processorRef.isListeningToChange());
        return true;
    }
    return false;
}

void VarnelleAudioProcessorEditor::setListeningToChange (bool shouldListen)
{
    processorRef.setListeningToChange (shouldListen);
    repaint (getListeningIndicatorBounds());
}

juce::Rectangle<int> VarnelleAudioProcessorEditor::getListeningIndicatorBounds() const
{
    // Left of where the update dot may show.
    const int width = juce::jmin (150, juce::jmax (0, bannerBounds.getWidth() - 24));
    return {bannerBounds.getRight() - 24 - width, bannerBounds.getCentreY() - 10, width, 20};
}

void VarnelleAudioProcessorEditor::mouseDown (const juce::MouseEvent& event)
{
    if (event.eventComponent != this)
        return;

    grabKeyboardFocus();

    for (int band = 0; band < 5; ++band)
    {
        if (getKnobArea (band).expanded (6).contains (event.getPosition()))
        {
            selectBand (band);
            repaint();
            return;
        }
    }
}

void VarnelleAudioProcessorEditor::paintBandCard (juce::Graphics& g, int bandIndex) const
{
    auto united = getKnobArea (bandIndex);
    if (const auto* button = bandButtons[bandIndex].get())
        united = united.getUnion (button->getBounds());

    const juce::Rectangle<float> card ((float)(united.getX() - 5), (float)(united.getY() - 6),
                                       (float)juce::jmax (0, united.getWidth() + 10),
                                       (float)juce::jmax (0, juce::jmax (0, united.getHeight() + 12) - 3));
    const auto inner = card.reduced (1.0f);
    const auto colour = getBandColour (bandIndex);
    const bool selected = bandIndex == selectedBand;
    const bool bypassed = isBandBypassed (processorRef.parameters, bandIndex);

    g.setGradientFill (juce::ColourGradient (
        juce::Colour (0xff11192b).interpolatedWith (colour, selected ? 0.1f : 0.04f), inner.getTopLeft(),
        juce::Colour (0xff0a101b).interpolatedWith (colour, selected ? 0.04f : 0.015f),
        inner.getBottomRight(), false));
    g.fillRoundedRectangle (inner, 10.0f);

    g.setColour (colour.withAlpha (selected ? 0.55f : 0.22f));
    g.fillRoundedRectangle (inner.withHeight (5.0f), 6.0f);

    if (selected)
    {
        g.setColour (colour.withAlpha (0.14f));
        g.drawRoundedRectangle (card.getX() - 1.5f, card.getY() - 1.5f,
                                juce::jmax (0.0f, card.getWidth() + 3.0f),
                                juce::jmax (0.0f, card.getHeight() + 3.0f), 11.0f, 3.0f);
    }

    g.setColour ((bypassed ? bypassedOutlineColour : colour).withAlpha (selected ? 0.95f : 0.5f));
    g.drawRoundedRectangle (card, 10.0f, selected ? 1.8f : 1.0f);
}

void VarnelleAudioProcessorEditor::paintBackground (juce::Graphics& g) const
{
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff1a2236), 0.0f, 0.0f, juce::Colour (0xff0b101c),
                                             0.0f, (float)getHeight(), false));
    g.fillAll();

    for (int band = 0; band < 5; ++band)
        paintBandCard (g, band);
}

const juce::Image& VarnelleAudioProcessorEditor::getCachedBackground (float pixelScale)
{
    int key = selectedBand;
    for (int band = 0; band < 5; ++band)
        if (isBandBypassed (processorRef.parameters, band))
            key |= 8 << band;

    const int width = juce::roundToInt ((float)getWidth() * pixelScale);
    const int height = juce::roundToInt ((float)getHeight() * pixelScale);

    if (key != cachedBackgroundKey || pixelScale != cachedBackgroundScale || !cachedBackground.isValid() ||
        cachedBackground.getWidth() != width || cachedBackground.getHeight() != height)
    {
        // Opaque, so that copying it is a plain pixel copy; drawn at the display's pixel scale
        // so that it stays as sharp as drawing directly.
        if (!cachedBackground.isValid() || cachedBackground.getWidth() != width ||
            cachedBackground.getHeight() != height)
            cachedBackground = juce::Image (juce::Image::RGB, width, height, false);

        juce::Graphics cacheGraphics (cachedBackground);
        cacheGraphics.addTransform (juce::AffineTransform::scale (pixelScale));
        paintBackground (cacheGraphics);
        cachedBackgroundKey = key;
        cachedBackgroundScale = pixelScale;
    }

    return cachedBackground;
}

void VarnelleAudioProcessorEditor::paint (juce::Graphics& g)
{
    refreshBypassState();

    // The cache is skipped where it would cost more memory than it saves time (very large
    // windows at high display scales) and for scales that make no sense.
    constexpr double maxCachedPixels = 3840.0 * 2160.0;
    const float pixelScale = g.getInternalContext().getPhysicalPixelScaleFactor();
    const double cachedPixels = (double)getWidth() * getHeight() * pixelScale * pixelScale;

    if (getWidth() <= 0 || getHeight() <= 0 || !(pixelScale > 0.0f) || cachedPixels > maxCachedPixels)
    {
        paintBackground (g);
    }
    else
    {
        // Mapped exactly onto the window, whatever the rounding of its pixel size; at scale 1
        // the mapping is the identity and the renderer copies the pixels straight.
        const auto& background = getCachedBackground (pixelScale);
        g.drawImageTransformed (
            background, juce::AffineTransform::scale ((float)getWidth() / (float)background.getWidth(),
                                                      (float)getHeight() / (float)background.getHeight()));
    }

    drawBanner (g, bannerImage, bannerBounds, getWidth());
    if (updateAvailable && !bannerBounds.isEmpty())
        drawUpdateDot (g, bannerBounds);

    const float y = (float)(separatorY <= 0 ? 58 : separatorY);
    g.setColour (juce::Colours::white.withAlpha (0.08f));
    g.drawLine (14.0f, y, (float)getWidth() - 14.0f, y, 1.0f);

    // Nobody should mix with the difference left on by mistake.
    if (processorRef.isListeningToChange())
    {
        const auto indicator = getListeningIndicatorBounds().toFloat();
        g.setColour (juce::Colour (0xfff2a33a));
        g.fillRoundedRectangle (indicator, 4.0f);
        g.setColour (juce::Colour (0xff1a1206));
        g.setFont (makeFont (12.0f, true));
        g.drawText ("Listening to the Change", indicator, juce::Justification::centred, true);
    }
}

void VarnelleAudioProcessorEditor::paintOverChildren (juce::Graphics& g)
{
    // The display's edge elements draw their own outline, inside the display.
    const auto* focused = juce::Component::getCurrentlyFocusedComponent();
    if (focusOutlineShown && focused != nullptr && focused->getParentComponent() == this)
        drawFocusOutline (g, focused->getBounds().toFloat().expanded (3.0f));
}

void VarnelleAudioProcessorEditor::focusOfChildComponentChanged (FocusChangeType cause)
{
    focusOutlineShown = cause != focusChangedByMouseClick;
    repaint();
}

void VarnelleAudioProcessorEditor::resized()
{
    cachedBackgroundKey = -1; // the cards follow the knobs laid out here

    auto area = getLocalBounds().reduced (6, 4);

    auto bar = area.removeFromTop (32);
    area.removeFromTop (4);
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
    if (bannerClickTarget != nullptr)
        bannerClickTarget->setBounds (bannerBounds);
    separatorY = area.getY() - 2;

    const auto panel = area.removeFromBottom (panelHeight);
    auto display = area;
    if (display.getHeight() > 8)
        display.removeFromBottom (8);
    spectrogram->setBounds (display);

    auto inner = panel.reduced (6, 6);
    inner.removeFromTop (2);

    auto leftColumn = inner.removeFromLeft (110);
    inner.removeFromLeft (6);
    auto upperHalf = leftColumn.removeFromTop (leftColumn.getHeight() / 2);
    leftColumn.removeFromTop (6);
    auto lowerHalf = leftColumn;
    widthLabel.setBounds (upperHalf.removeFromTop (18));
    widthSlider.setBounds (upperHalf.removeFromTop (66).reduced (6, 4));
    lookaheadLabel.setBounds (lowerHalf.removeFromTop (18));
    lookaheadSlider.setBounds (lowerHalf.removeFromTop (66).reduced (6, 4));
    lookaheadLabel.setJustificationType (juce::Justification::centred);

    auto grid = inner;
    grid.removeFromTop (18);
    grid.removeFromTop (4);
    const int rowsTop = grid.getY();
    const int gridHeight = grid.getHeight();
    auto labelColumn = grid.removeFromLeft (56);
    grid.removeFromLeft (14);
    const int rowHeight = juce::jmax (28, juce::jmax (0, gridHeight - 6) / 5);
    juce::Label* rowLabels[] = {&gainLabel, &upperKneeLabel, &attackLabel, &lowerKneeLabel, &releaseLabel};
    for (int row = 0; row < 5; ++row)
        rowLabels[row]->setBounds (labelColumn.getX(), rowsTop + row * rowHeight, labelColumn.getWidth(),
                                   rowHeight);

    const int columnWidth = juce::jmax (72, (grid.getWidth() - 16) / 5);
    const int cellWidth = juce::jmax (0, columnWidth - 8);
    int gap = juce::jmax (8, (int)std::round ((float)cellWidth * 0.18f));
    int knobWidth = (cellWidth - gap) / 2;
    if (knobWidth < 52)
    {
        knobWidth = juce::jmax (44, cellWidth / 2);
        gap = juce::jmax (4, cellWidth - 2 * knobWidth);
    }
    const int inset = juce::jmin (10, juce::jmax (0, (gap - 2) / 2));
    const int knobBoundsWidth = juce::jmax (0, knobWidth - 4);

    for (int band = 0; band < 5; ++band)
    {
        const int x = grid.getX() + band * (columnWidth + 4);
        const int leftX = x + 6 + inset;
        const int rightX = x + 6 + knobWidth + gap - inset;
        const auto knobs = knobsOf (band);
        for (int row = 0; row < 5; ++row)
        {
            int y = rowsTop + row * rowHeight + (rowHeight - knobHeight) / 2;
            if (row == 0)
                y += 3;
            else if (row == 4)
                y -= 3;
            const bool rightSide = row == 1 || row == 3;
            knobs[(size_t)row]->setBounds (rightSide ? rightX : leftX, y, knobBoundsWidth, knobHeight);
        }

        if (auto* button = bandButtons[band].get())
            button->setBounds (x + 4, panel.getY() + 2, juce::jmax (36, columnWidth - 8), 18);
    }
}
