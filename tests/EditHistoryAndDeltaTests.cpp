#include "engine/EditHistory.h"
#include "helpers/EditorTestHelpers.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

using varnelle::EditHistory;
namespace test = varnelle::test;

namespace
{
float valueOf (VarnelleAudioProcessor& processor, const char* id)
{
    return processor.parameters.getRawParameterValue (id)->load();
}

/** What a knob drag does: one gesture around a few value changes. */
void drag (VarnelleAudioProcessor& processor, const char* id, std::initializer_list<float> values)
{
    auto* parameter = processor.parameters.getParameter (id);
    parameter->beginChangeGesture();
    for (const float value : values)
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    parameter->endChangeGesture();
}

/** Processes mono `samples` in place in blocks of 1000 (a whole number of them), calling
    `beforeBlock` with each block's first sample first: a switch thrown between blocks. */
void processSwitching (VarnelleAudioProcessor& processor, std::vector<float>& samples,
                       const std::function<void (int)>& beforeBlock)
{
    juce::MidiBuffer midi;
    for (int start = 0; start + 1000 <= (int)samples.size(); start += 1000)
    {
        beforeBlock (start);
        juce::AudioBuffer<float> buffer (std::array<float*, 1>{samples.data() + start}.data(), 1, 1000);
        processor.processBlock (buffer, midi);
    }
}
} // namespace

TEST (EditHistory, GesturesAreStepsAndUndoRedoAreGesturesOfTheirOwn)
{
    VarnelleAudioProcessor processor;
    auto& history = processor.getEditHistory();
    EXPECT_FALSE (history.canUndo());

    drag (processor, "band2_gain", {-3.0f, -8.0f, -12.0f});
    test::setParameter (processor, "band1_gain", 5.0f); // the host's automation: no gesture
    EXPECT_EQ (history.getNumUndoSteps(), 1);
    EXPECT_EQ (history.getUndoName(), "Band 2 Gain");

    std::optional<test::ParameterRecorder> gain2Record;
    gain2Record.emplace (*processor.parameters.getParameter ("band2_gain"));
    ASSERT_TRUE (history.undo());
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), 0.0f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), 5.0f); // automation is not undone
    EXPECT_EQ (gain2Record->gestureBegins, 1);
    EXPECT_EQ (gain2Record->gestureEnds, 1);
    EXPECT_FALSE (history.canUndo()); // the undo's own gesture was not recorded
    EXPECT_EQ (history.getRedoName(), "Band 2 Gain");

    ASSERT_TRUE (history.redo());
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), -12.0f);
    EXPECT_EQ (gain2Record->gestureBegins, 2);
    gain2Record.reset();

    // The host automating another parameter during a drag is not part of the drag's step.
    auto* gain2 = processor.parameters.getParameter ("band2_gain");
    gain2->beginChangeGesture();
    gain2->setValueNotifyingHost (gain2->convertTo0to1 (-20.0f));
    test::setParameter (processor, "band1_gain", -3.0f);
    gain2->endChangeGesture();
    history.undo();
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), -12.0f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), -3.0f);
    history.redo();

    // A gesture that changes nothing is no step; a new edit ends what could be redone.
    drag (processor, "band3_attackMs", {40.0f, 25.0f});
    EXPECT_EQ (history.getNumUndoSteps(), 2);
    history.undo();
    drag (processor, "band4_releaseMs", {400.0f});
    EXPECT_FALSE (history.canRedo());
    EXPECT_EQ (history.getUndoName(), "Band 4 Release");
}

TEST (EditHistory, NamedStepsGroupChangesAndTheHistoryIsBoundedAndClearedByARestore)
{
    VarnelleAudioProcessor processor;
    auto& history = processor.getEditHistory();
    {
        const EditHistory::ScopedStep step (history, "Load Preset 'Drums'");
        drag (processor, "band1_gain", {6.0f});
        drag (processor, "band5_freqLow", {9000.0f});
    }
    EXPECT_EQ (history.getNumUndoSteps(), 1);
    EXPECT_EQ (history.getUndoName(), "Load Preset 'Drums'");
    history.undo();
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), 0.0f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band5_freqLow"), 7000.0f);

    for (int i = 0; i < EditHistory::maxSteps + 5; ++i)
        drag (processor, "band2_gain", {(float)(i % 20) - 10.0f});
    EXPECT_EQ (history.getNumUndoSteps(), EditHistory::maxSteps);

    juce::MemoryBlock state;
    processor.getStateInformation (state);
    processor.setStateInformation (state.getData(), (int)state.getSize());
    EXPECT_FALSE (history.canUndo());
    EXPECT_FALSE (history.undo());
}

// Listening to the change: processed output minus the input delayed by the latency.
TEST (DeltaListening, IsTheDifferenceExactlyNothingAtUnityAndSwitchesWithoutAClick)
{
    constexpr int total = 60000, switchOn = 20000, switchOff = 40000, crossfade = 480;
    const std::vector<int> blockSizes{317, 1001, 64, 773};
    const auto input = test::makeWhiteNoise (total, 0.5f, 4);

    // Every band at 0 dB, listening from the start: silence once the frames are complete.
    VarnelleAudioProcessor unity;
    unity.setRateAndBufferSizeDetails (48000.0, 1001);
    unity.prepareToPlay (48000.0, 1001);
    unity.setListeningToChange (true);
    std::vector<std::vector<float>> unityOut{input};
    test::processInBlocks (unity, unityOut, blockSizes);
    for (int i = 2 * varnelle::latencySamples; i < total; ++i)
        ASSERT_EQ (unityOut[0][(size_t)i], 0.0f) << "sample " << i;

    // Bands at work: the same processor with and without listening, switched mid-stream.
    VarnelleAudioProcessor plain, listening;
    std::vector<std::vector<float>> plainOut{input}, listeningOut{input};
    for (auto* processor : {&plain, &listening})
    {
        processor->setRateAndBufferSizeDetails (48000.0, 1001);
        processor->prepareToPlay (48000.0, 1001);
        test::setParameter (*processor, "band3_gain", -24.0f);
        test::setParameter (*processor, "band5_gain", 9.0f);
    }
    test::processInBlocks (plain, plainOut, {1000});
    processSwitching (listening, listeningOut[0],
                      [&] (int start)
                      { listening.setListeningToChange (start >= switchOn && start < switchOff); });

    double changeEnergy = 0.0;
    for (int i = 0; i < total; ++i)
    {
        const float processed = plainOut[0][(size_t)i];
        const float out = listeningOut[0][(size_t)i];
        const float delayed =
            i >= varnelle::latencySamples ? input[(size_t)(i - varnelle::latencySamples)] : 0.0f;
        if (i < switchOn || i >= switchOff + crossfade)
            ASSERT_EQ (out, processed) << "sample " << i;
        else if (i >= switchOn + crossfade && i < switchOff)
            ASSERT_NEAR (out, processed - delayed, 1.0e-6f) << "sample " << i;
        else // the fades: a blend, never a jump
            ASSERT_LE (std::abs (out - processed), std::abs (delayed) + 1.0e-6f) << "sample " << i;
        if (i >= switchOn + crossfade && i < switchOff)
            changeEnergy += (double)out * out;
    }
    EXPECT_GT (changeEnergy, 1.0); // the bands do change the sound
}

// Listening to one band: what that band alone adds or removes.
TEST (DeltaListening, OneBandAloneIsWhatOnlyItsGainsGiveAndExactlyNothingWhereItChangesNothing)
{
    constexpr int total = 72000, switchOn = 20000, switchOff = 50000;
    const int crossfade = 480, formed = varnelle::fftSize; // the band's output is ready 4 frames on
    const auto input = test::makeWhiteNoise (total, 0.5f, 9);
    const auto delayed = [&] (int i)
    { return i >= varnelle::latencySamples ? input[(size_t)(i - varnelle::latencySamples)] : 0.0f; };

    // Each band's gains follow the input alone, so band 3's output on its own is what a
    // processor with only band 3 at work gives.
    VarnelleAudioProcessor plain, bandThreeOnly, listening, quietBand;
    for (auto* processor : {&plain, &bandThreeOnly, &listening, &quietBand})
    {
        processor->setRateAndBufferSizeDetails (48000.0, 1000);
        processor->prepareToPlay (48000.0, 1000);
        test::setParameter (*processor, "band3_gain", -24.0f);
        if (processor != &bandThreeOnly)
            test::setParameter (*processor, "band5_gain", 9.0f);
    }
    std::vector<std::vector<float>> plainOut{input}, bandOut{input}, listeningOut{input}, quietOut{input};
    test::processInBlocks (plain, plainOut, {1000});
    test::processInBlocks (bandThreeOnly, bandOut, {1000});
    quietBand.setListeningToBand (1); // band 2 stays at 0 dB
    test::processInBlocks (quietBand, quietOut, {1000});
    processSwitching (listening, listeningOut[0],
                      [&] (int start)
                      { listening.setListeningToBand (start >= switchOn && start < switchOff ? 2 : -1); });

    double bandEnergy = 0.0;
    for (int i = 0; i < total; ++i)
    {
        const float out = listeningOut[0][(size_t)i];
        if (i < switchOn || i >= switchOff + formed + crossfade)
        {
            ASSERT_EQ (out, plainOut[0][(size_t)i]) << "sample " << i;
        }
        else if (i >= switchOn + formed + crossfade && i < switchOff)
        {
            ASSERT_NEAR (out, bandOut[0][(size_t)i] - delayed (i), 1.0e-6f) << "sample " << i;
            bandEnergy += (double)out * out;
        }
        if (i >= 2 * varnelle::latencySamples + formed)
        {
            ASSERT_EQ (quietOut[0][(size_t)i], 0.0f) << "sample " << i;
        }
    }
    EXPECT_GT (bandEnergy, 1.0); // band 3 does change the sound
}

// Held keys and wheel ticks: a run on one control from one source, each change less than half
// a second after the one before, is one step; a pause, another control, another source, a drag
// or an undo ends it. Each change is still a gesture of its own for the host.
TEST (EditHistory, RunsOfKeyPressesOrWheelTicksOnOneControlAreOneStep)
{
    using Source = EditHistory::Source;
    VarnelleAudioProcessor processor;
    auto& history = processor.getEditHistory();
    double now = 1000.0;
    history.setClock ([&] { return now; });
    auto change = [&] (Source source, const char* id, float value, double msLater = 50.0)
    {
        now += msLater;
        history.noteNextSource (source);
        drag (processor, id, {value});
    };

    // A key held for three seconds: 60 presses, one step, undone at once.
    test::ParameterRecorder gestures (*processor.parameters.getParameter ("band2_gain"));
    for (int i = 1; i <= 60; ++i)
        change (Source::key, "band2_gain", -0.5f * (float)i);
    EXPECT_EQ (history.getNumUndoSteps(), 1);
    EXPECT_EQ (gestures.gestureBegins, 60);
    ASSERT_TRUE (history.undo());
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), 0.0f);
    ASSERT_TRUE (history.redo());
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), -30.0f);

    change (Source::key, "band2_gain", -31.0f); // after a redo: a new run
    change (Source::key, "band2_gain", -32.0f, 499.0);
    EXPECT_EQ (history.getNumUndoSteps(), 2);
    change (Source::key, "band2_gain", -33.0f, 501.0); // a pause
    EXPECT_EQ (history.getNumUndoSteps(), 3);
    change (Source::key, "band3_gain", -3.0f);  // another control
    change (Source::key, "band2_gain", -34.0f); // and back
    EXPECT_EQ (history.getNumUndoSteps(), 5);
    change (Source::wheel, "band2_gain", -35.0f); // another source
    change (Source::wheel, "band2_gain", -36.0f);
    EXPECT_EQ (history.getNumUndoSteps(), 6);
    change (Source::drag, "band2_gain", -37.0f); // drags never join
    change (Source::drag, "band2_gain", -38.0f);
    change (Source::other, "band2_gain", -39.0f);
    change (Source::other, "band2_gain", -40.0f);
    EXPECT_EQ (history.getNumUndoSteps(), 10);

    // The wheel run holds its start and its end.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE (history.undo());
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), -36.0f);
    ASSERT_TRUE (history.undo());
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), -34.0f);

    // A run that ends where it began leaves no step behind.
    const int before = history.getNumUndoSteps();
    change (Source::wheel, "band1_gain", 1.0f);
    change (Source::wheel, "band1_gain", 0.0f);
    EXPECT_EQ (history.getNumUndoSteps(), before);
}
