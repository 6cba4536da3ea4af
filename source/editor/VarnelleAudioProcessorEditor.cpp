#include "VarnelleAudioProcessorEditor.h"

#include "editor/EditorShared.h"
#include "editor/KeyboardControls.h"
#include "editor/KnobGridLayout.h"
#include "editor/ModernKnobLookAndFeel.h"
#include "editor/SpectrogramComponent.h"
#include "engine/BandParameters.h"

using namespace varnelle::editor;
using varnelle::BandParam;
using varnelle::getBandParameterName;

namespace
{
constexpr int panelHeight = 250;
constexpr float bypassedKnobAlpha = 0.62f;

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
    topBar.addBannerToWindow();

    spectrogram = std::make_unique<SpectrogramComponent> (processorRef);
    auto* display = spectrogram.get();
    onWidthChanged = [display] (float zoom) { display->setTimeZoom (juce::jlimit (4.0f, 20.0f, zoom)); };
    onViewChanged = [display] (bool showAfter) { display->setShowAfterGain (showAfter); };
    onSelectedBandChanged = [display] (int band) { display->setSelectedBand (juce::jlimit (0, 4, band)); };
    onChangeViewChanged = [display] (bool showChange) { display->setShowChange (showChange); };
    addAndMakeVisible (*spectrogram);

    for (auto* knobs : {gainSliders, attackSliders, releaseSliders, upperKneeSliders, lowerKneeSliders})
        for (int band = 0; band < 5; ++band)
            knobs[band].setEditHistory (&processorRef.getEditHistory());
    lookaheadSlider.setEditHistory (&processorRef.getEditHistory());
    configureWidthDial();
    configureLookaheadKnob();
    configureRowLabels();
    topBar.addControlsToWindow();
    configureBandColumns();
    attachBandKnobs();
    refreshBypassState();
    setUpKeyboardAccess();

    topBar.getBeforeButton().onClick = [this]
    {
        if (onViewChanged)
            onViewChanged (false);
    };
    topBar.getAfterButton().onClick = [this]
    {
        if (onViewChanged)
            onViewChanged (true);
    };
    topBar.getBeforeButton().setToggleState (true, juce::dontSendNotification);
    topBar.getAfterButton().setToggleState (false, juce::dontSendNotification);
    onViewChanged (false);

    selectedBand = 0;
    repaint();
    onSelectedBandChanged (0);

    if (checkForUpdates)
        topBar.startUpdateCheck();

    topBar.getPresetMenu().onListeningToChangeSwitched = [this] { repaint (getListeningIndicatorBounds()); };
    topBar.getPresetMenu().isShowingChange = [display] { return display->getShowChange(); };
    topBar.getPresetMenu().onChangeViewToggled = [this] { toggleChangeView(); };
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

void VarnelleAudioProcessorEditor::configureRowLabels()
{
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
}

void VarnelleAudioProcessorEditor::configureBandColumns()
{
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

void VarnelleAudioProcessorEditor::setUpKeyboardAccess()
{
    widthSlider.setTitle ("Width");
    lookaheadSlider.setTitle ("Lookahead");
    auto& presetBox = topBar.getPresetBox();
    auto& presetMenuButton = topBar.getPresetMenuButton();
    presetBox.setTitle ("Preset");
    presetMenuButton.setTitle (presetMenuButton.getTooltip());
    spectrogram->onBandKey = [this] (int band) { selectBand (band); };

    // Tab follows reading order: the top bar, the display, each band's column, the left column.
    int order = 1;
    for (juce::Component* c :
         std::initializer_list<juce::Component*>{&presetBox, &presetMenuButton, &topBar.getBeforeButton(),
                                                 &topBar.getAfterButton(), spectrogram.get()})
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

    if (letter == 'D' && !modifiers.isCommandDown() && !modifiers.isAltDown() && !modifiers.isCtrlDown())
    {
        // D: the change of all bands; Shift+D: the selected band's alone.
        processorRef.switchListeningTo (modifiers.isShiftDown() ? selectedBand : -1);
        repaint (getListeningIndicatorBounds());
        return true;
    }
    if (letter == 'C' && !modifiers.isAnyModifierKeyDown())
    {
        toggleChangeView();
        return true;
    }
    return false;
}

void VarnelleAudioProcessorEditor::showChangeView (bool shouldShow)
{
    if (onChangeViewChanged)
        onChangeViewChanged (shouldShow);
}

void VarnelleAudioProcessorEditor::toggleChangeView()
{
    showChangeView (!spectrogram->getShowChange());
}

void VarnelleAudioProcessorEditor::setListeningToChange (bool shouldListen)
{
    processorRef.setListeningToBand (-1);
    processorRef.setListeningToChange (shouldListen);
    repaint (getListeningIndicatorBounds());
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

BandCards VarnelleAudioProcessorEditor::getBandCards() const
{
    BandCards cards;
    cards.selectedBand = selectedBand;
    for (int band = 0; band < 5; ++band)
    {
        auto& area = cards.controlAreas[(size_t)band];
        area = getKnobArea (band);
        if (const auto* button = bandButtons[band].get())
            area = area.getUnion (button->getBounds());
        cards.bypassed[(size_t)band] = isBandBypassed (processorRef.parameters, band);
    }
    return cards;
}

void VarnelleAudioProcessorEditor::paint (juce::Graphics& g)
{
    refreshBypassState();
    background.paint (g, getWidth(), getHeight(), getBandCards());

    topBar.paint (g, getWidth());

    const float y = (float)(separatorY <= 0 ? 58 : separatorY);
    g.setColour (juce::Colours::white.withAlpha (0.08f));
    g.drawLine (14.0f, y, (float)getWidth() - 14.0f, y, 1.0f);
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
    auto area = getLocalBounds().reduced (6, 4);

    topBar.layOut (area.removeFromTop (32));
    area.removeFromTop (4);
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

    const auto grid = layOutKnobGrid (inner, panel.getY());
    juce::Label* rowLabels[] = {&gainLabel, &upperKneeLabel, &attackLabel, &lowerKneeLabel, &releaseLabel};
    for (size_t row = 0; row < 5; ++row)
        rowLabels[row]->setBounds (grid.rowLabels[row]);

    for (int band = 0; band < 5; ++band)
    {
        const auto knobs = knobsOf (band);
        for (size_t row = 0; row < 5; ++row)
            knobs[row]->setBounds (grid.knobs[(size_t)band][row]);

        if (auto* button = bandButtons[band].get())
            button->setBounds (grid.bandButtons[(size_t)band]);
        activityMeters.getMeter (band).setBounds (grid.activityMeters[(size_t)band]);
    }
}
