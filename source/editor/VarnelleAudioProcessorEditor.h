#pragma once

#include "editor/ActivityMeters.h"
#include "editor/EditorBackground.h"
#include "editor/KeyboardControls.h"
#include "editor/TopBar.h"
#include "engine/VarnelleAudioProcessor.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <memory>

namespace varnelle::editor
{
class SpectrogramComponent;
}

/** The plug-in window: top bar (banner, presets, view buttons), the spectrum display and the
    control panel with the Width dial, the Lookahead knob and five band columns.

    Message thread only. The processor outlives the editor. No editor setting (selected band,
    view, Width, current preset) is saved: every window starts with band 1, "Before" and Width 4.
*/
class VarnelleAudioProcessorEditor : public juce::AudioProcessorEditor
{
public:
    /** `checkForUpdates` false keeps the window off the network (offline tools). */
    explicit VarnelleAudioProcessorEditor (VarnelleAudioProcessor& processorToEdit,
                                           bool checkForUpdates = true);
    ~VarnelleAudioProcessorEditor() override;

    void mouseDown (const juce::MouseEvent& event) override;
    void paint (juce::Graphics& g) override;
    void paintOverChildren (juce::Graphics& g) override;
    void focusOfChildComponentChanged (FocusChangeType cause) override;
    void resized() override;

    /** Ctrl+Z undoes the last edit made in the window, Ctrl+Shift+Z and Ctrl+Y redo, D switches
        "Listen to the Change". */
    bool keyPressed (const juce::KeyPress& key) override;

    /** Switches "Listen to the Change" and shows it in the top bar. */
    void setListeningToChange (bool shouldListen);
    /** Where the top bar shows that "Listen to the Change" is on (inside the banner's area, at
        its right end, so that nothing moves). */
    juce::Rectangle<int> getListeningIndicatorBounds() const { return topBar.getListeningIndicatorBounds(); }
    /** The meters of how much each band changes, in the band cards. */
    varnelle::editor::ActivityMeters& getActivityMeters() noexcept { return activityMeters; }

    /** Highlights band `bandIndex` (clamped to 0..4) and lets the display edit its edges. */
    void selectBand (int bandIndex);
    int getSelectedBand() const noexcept { return selectedBand; }

    // Read-only access for tests and tools that inspect the window.
    juce::Rectangle<int> getBannerBounds() const noexcept { return topBar.getBannerBounds(); }
    varnelle::editor::BannerClickTarget& getBannerClickTarget() noexcept
    {
        return topBar.getBannerClickTarget();
    }
    bool isUpdateAvailable() const noexcept { return topBar.isUpdateAvailable(); }
    int getSeparatorY() const noexcept { return separatorY; }
    varnelle::editor::SpectrogramComponent& getSpectrogram() noexcept { return *spectrogram; }

    enum class KnobRow
    {
        gain = 0,
        upperKnee,
        attack,
        lowerKnee,
        release
    };
    juce::Slider& getBandKnob (int bandIndex, KnobRow row);
    juce::TextButton* getBandButton (int bandIndex) noexcept;
    juce::Slider& getWidthSlider() noexcept { return widthSlider; }
    juce::Slider& getLookaheadSlider() noexcept { return lookaheadSlider; }
    juce::TextButton& getBeforeButton() noexcept { return topBar.getBeforeButton(); }
    juce::TextButton& getAfterButton() noexcept { return topBar.getAfterButton(); }
    /** Shows the display's Change view, or leaves it for the spectrum view shown before; the C
        key and the menu's "View: Change" switch it. */
    void showChangeView (bool shouldShow);
    juce::ComboBox& getPresetBox() noexcept { return topBar.getPresetBox(); }
    juce::TextButton& getPresetMenuButton() noexcept { return topBar.getPresetMenuButton(); }
    varnelle::editor::PresetMenu& getPresetMenu() noexcept { return topBar.getPresetMenu(); }
    juce::Label& getRowLabel (KnobRow row) noexcept;
    juce::Label& getWidthLabel() noexcept { return widthLabel; }
    juce::Label& getLookaheadLabel() noexcept { return lookaheadLabel; }

    /** The ID of a global lookahead parameter, if the parameter set has one. */
    juce::String findLookaheadParameterId() const;

private:
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;

    void configureWidthDial();
    void configureLookaheadKnob();
    void bindLookaheadKnob();
    void configureRowLabels();
    void configureBandColumns();
    void configureBandKnob (juce::Slider& slider, const juce::String& suffix);
    void configureBandButton (int bandIndex);
    void setUpKeyboardAccess();
    void attachBandKnobs();
    void toggleBandBypass (int bandIndex);
    void refreshBypassState();
    void applyBypassLook (int bandIndex, bool bypassed);
    juce::Rectangle<int> getKnobArea (int bandIndex) const;
    varnelle::editor::BandCards getBandCards() const;

    std::array<juce::Slider*, 5> knobsOf (int bandIndex);
    void toggleChangeView();

    int separatorY = 0;

    VarnelleAudioProcessor& processorRef;
    std::unique_ptr<varnelle::editor::SpectrogramComponent> spectrogram;
    std::function<void (float)> onWidthChanged;
    std::function<void (bool)> onViewChanged;
    std::function<void (int)> onSelectedBandChanged;
    std::function<void (bool)> onChangeViewChanged; // the Change view on (true) or off

    using KeyboardKnob = varnelle::editor::KeyboardKnob;
    KeyboardKnob gainSliders[5];
    KeyboardKnob attackSliders[5];
    KeyboardKnob releaseSliders[5];
    KeyboardKnob upperKneeSliders[5];
    KeyboardKnob lowerKneeSliders[5];
    KeyboardKnob widthSlider;
    KeyboardKnob lookaheadSlider;
    std::unique_ptr<SliderAttachment> lookaheadAttachment;
    juce::String globalLookaheadId; // empty: the knob follows the selected band's lookahead

    varnelle::editor::TopBar topBar{processorRef, *this};
    std::unique_ptr<varnelle::editor::BandBypassButton> bandButtons[5];

    juce::Label widthLabel, gainLabel, attackLabel, releaseLabel, lookaheadLabel, upperKneeLabel,
        lowerKneeLabel;

    std::unique_ptr<SliderAttachment> gainAttachments[5];
    std::unique_ptr<SliderAttachment> attackAttachments[5];
    std::unique_ptr<SliderAttachment> releaseAttachments[5];
    std::unique_ptr<SliderAttachment> upperKneeAttachments[5];
    std::unique_ptr<SliderAttachment> lowerKneeAttachments[5];

    int selectedBand = 0;
    bool focusOutlineShown = false; // focus that came by Tab or a screen reader, not a click

    varnelle::editor::EditorBackground background;
    varnelle::editor::ActivityMeters activityMeters{processorRef, *this};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VarnelleAudioProcessorEditor)
};
