#include "editor/DisplayBands.h"
#include "editor/EditorShared.h"
#include "editor/SpectrogramComponent.h"
#include "editor/SpectrumHistory.h"
#include "helpers/FakePeer.h"
#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using varnelle::editor::SpectrogramComponent;

namespace
{
const juce::Colour emptyColour (0xff0b1220);
const juce::Colour hottestColour (0xfff34e37);

struct Fixture
{
    explicit Fixture (int width, int height, double sampleRate = 48000.0)
        : processor (varnelle::test::makePreparedProcessor (1, sampleRate)),
          display (std::make_unique<SpectrogramComponent> (*processor))
    {
        display->setSize (width, height);
    }

    void set (const juce::String& id, float value) { varnelle::test::setParameter (*processor, id, value); }

    void feed (std::vector<float> samples)
    {
        std::vector<std::vector<float>> audio{std::move (samples)};
        varnelle::test::processInBlocks (*processor, audio, {512});
    }

    std::unique_ptr<VarnelleAudioProcessor> processor;
    std::unique_ptr<SpectrogramComponent> display;
};

juce::String id (int band, const char* slot)
{
    return "band" + juce::String (band + 1) + "_" + slot;
}

juce::Image render (SpectrogramComponent& display)
{
    juce::Image image (juce::Image::ARGB, display.getWidth(), display.getHeight(), true);
    juce::Graphics g (image);
    display.paint (g);
    return image;
}

std::vector<float> spectrumWithBin (int bin, float value = 1.0f)
{
    std::vector<float> values ((size_t)varnelle::numDisplayBins, 0.0f);
    values[(size_t)bin] = value;
    return values;
}

std::vector<int> litRows (const juce::Image& image, int x)
{
    std::vector<int> rows;
    for (int y = 0; y < image.getHeight(); ++y)
        if (image.getPixelAt (x, y) != emptyColour)
            rows.push_back (y);
    return rows;
}

bool isUniformlyEmpty (const juce::Image& image)
{
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y) != emptyColour)
                return false;
    return true;
}

bool columnIsEmpty (const juce::Image& image, int x)
{
    return litRows (image, x).empty();
}

::testing::AssertionResult coloursNear (juce::Colour actual, juce::Colour expected, int tolerance)
{
    const int dr = std::abs ((int)actual.getRed() - (int)expected.getRed());
    const int dg = std::abs ((int)actual.getGreen() - (int)expected.getGreen());
    const int db = std::abs ((int)actual.getBlue() - (int)expected.getBlue());
    if (dr <= tolerance && dg <= tolerance && db <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got " << actual.toDisplayString (false) << ", expected " << expected.toDisplayString (false);
}

// The history row of a frequency: row 0 is 20 kHz, the bottom row 20 Hz.
int rowForFrequency (const juce::Image& image, double frequencyHz)
{
    const double t = std::log10 (frequencyHz / 20.0) / 3.0;
    return (int)std::lround ((1.0 - t) * (image.getHeight() - 1));
}

//==============================================================================
TEST (SpectrogramLayout, RectanglesFollowTheBounds)
{
    for (auto [w, h] : {std::pair{1120, 520}, std::pair{900, 400}, std::pair{2380, 1050}})
    {
        Fixture f (w, h);
        const auto& d = *f.display;
        SCOPED_TRACE (juce::String (w) + "x" + juce::String (h));
        EXPECT_EQ (d.getLayout().content, juce::Rectangle<int> (10, 22, w - 20, h - 32));
        EXPECT_EQ (d.getLayout().plot, juce::Rectangle<int>::leftTopRightBottom (10, 22, w - 120, h - 10));
        EXPECT_EQ (d.getLayout().legend,
                   juce::Rectangle<int>::leftTopRightBottom (w - 98, 22, w - 68, h - 10));
        EXPECT_EQ (d.getLayout().levelBox,
                   juce::Rectangle<int>::leftTopRightBottom (w - 56, 22, w - 14, h - 10));

        // The histories always have the plot's pixel size.
        for (bool after : {false, true})
        {
            const auto& image = d.getHistory().getImage (after);
            ASSERT_TRUE (image.isValid());
            EXPECT_EQ (image.getFormat(), juce::Image::RGB);
            EXPECT_EQ (image.getBounds().withZeroOrigin(), d.getLayout().plot.withZeroOrigin());
        }
    }
}

TEST (SpectrogramLayout, TinyBoundsShrinkToNothingAndCreateNoImages)
{
    Fixture f (50, 20);
    auto& d = *f.display;
    // Removals take only what is left: 10 from the left, 10 from the right, then the bottom
    // 10 and what remains of the height for the top.
    EXPECT_EQ (d.getLayout().content, juce::Rectangle<int> (10, 10, 30, 0));
    EXPECT_TRUE (d.getLayout().plot.isEmpty());
    EXPECT_GE (d.getLayout().plot.getWidth(), 0);
    EXPECT_FALSE (d.getHistory().getImage (false).isValid());
    EXPECT_FALSE (d.getHistory().getImage (true).isValid());

    // A plot too narrow for the legend column still never goes negative.
    d.setSize (100, 300);
    EXPECT_EQ (d.getLayout().plot.getWidth(), 0);
    EXPECT_EQ (d.getLayout().legend, juce::Rectangle<int> (10, 22, 22, 268));
    EXPECT_EQ (d.getLayout().levelBox, juce::Rectangle<int> (44, 22, 42, 268));
    EXPECT_FALSE (d.getHistory().getImage (false).isValid());

    // Drawing and polling without images is harmless, even with data waiting.
    f.feed (varnelle::test::makeSine (1000, 48000, 4096));
    d.timerCallback();
    EXPECT_FALSE (d.getHistory().getImage (false).isValid());
    const auto image = render (d);
    EXPECT_EQ (image.getWidth(), 100);
}

//==============================================================================
TEST (SpectrogramAxes, FrequencyIsLogarithmicOverThePlot)
{
    Fixture f (1000, 332); // plot y 22..322, 300 high
    const auto& d = *f.display;
    EXPECT_FLOAT_EQ (d.getLayout().yForFrequency (20.0f), 322.0f);
    EXPECT_NEAR (d.getLayout().yForFrequency (20000.0f), 22.0f, 1e-3f);
    EXPECT_NEAR (d.getLayout().yForFrequency (632.4555f), 172.0f, 1e-3f); // geometric middle
    EXPECT_NEAR (d.getLayout().yForFrequency (200.0f), 222.0f, 1e-3f);    // one decade = a third
    EXPECT_NEAR (d.getLayout().yForFrequency (2000.0f), 122.0f, 1e-3f);
    // Outside the range: the nearest end; a missing parameter's 0 lands at 20 Hz.
    EXPECT_FLOAT_EQ (d.getLayout().yForFrequency (5.0f), 322.0f);
    EXPECT_FLOAT_EQ (d.getLayout().yForFrequency (0.0f), 322.0f);
    EXPECT_NEAR (d.getLayout().yForFrequency (96000.0f), 22.0f, 1e-3f);
}

TEST (SpectrogramAxes, LevelIsLinearOverTheLegend)
{
    Fixture f (1000, 332); // legend y 22..322
    const auto& d = *f.display;
    EXPECT_FLOAT_EQ (d.getLayout().yForLevel (-80.0f), 322.0f);
    EXPECT_FLOAT_EQ (d.getLayout().yForLevel (0.0f), 22.0f);
    EXPECT_FLOAT_EQ (d.getLayout().yForLevel (-40.0f), 172.0f);
    EXPECT_FLOAT_EQ (d.getLayout().yForLevel (-20.0f), 97.0f);
    EXPECT_FLOAT_EQ (d.getLayout().yForLevel (-120.0f), 322.0f);
    EXPECT_FLOAT_EQ (d.getLayout().yForLevel (6.0f), 22.0f);
}

//==============================================================================
TEST (SpectrogramColourMap, StopsAreExactAndOutsideValuesAreLimited)
{
    const std::pair<float, juce::uint32> stops[] = {{0.0f, 0xff0b1220}, {0.18f, 0xff173f9d},
                                                    {0.4f, 0xff00a7cc}, {0.62f, 0xff58c96b},
                                                    {0.8f, 0xfff0be3d}, {1.0f, 0xfff34e37}};
    for (auto [position, argb] : stops)
        EXPECT_EQ (varnelle::editor::spectrumColour (position), juce::Colour (argb)) << position;

    EXPECT_EQ (varnelle::editor::spectrumColour (-0.5f), juce::Colour (0xff0b1220));
    EXPECT_EQ (varnelle::editor::spectrumColour (3.0f), juce::Colour (0xfff34e37));
    EXPECT_EQ (varnelle::editor::spectrumColour (std::nanf ("")), juce::Colour (0xff0b1220));
}

TEST (SpectrogramColourMap, BlendsLinearlyBetweenNeighbouringStops)
{
    // Halfway between 0 (0b1220) and 0.18 (173f9d).
    EXPECT_TRUE (coloursNear (varnelle::editor::spectrumColour (0.09f), juce::Colour (17, 40, 94), 1));
    // Halfway between 0.62 (58c96b) and 0.8 (f0be3d).
    EXPECT_TRUE (coloursNear (varnelle::editor::spectrumColour (0.71f), juce::Colour (164, 195, 84), 1));
    // A quarter of the way from 0.8 (f0be3d) to 1.0 (f34e37).
    EXPECT_TRUE (coloursNear (varnelle::editor::spectrumColour (0.85f), juce::Colour (241, 162, 60), 1));
    // Halfway between 0.18 (173f9d) and 0.4 (00a7cc).
    EXPECT_TRUE (coloursNear (varnelle::editor::spectrumColour (0.29f), juce::Colour (12, 115, 180), 1));
}

//==============================================================================
// A history of the given size with one column pushed into both views, as the display's poll
// pushes them; returns the shown before-gain picture.
struct History
{
    History (int width, int height, double rate) : sampleRate (rate) { history.setSize (width, height); }

    juce::Image push (const std::vector<float>& values)
    {
        history.pushColumns (values.data(), values.data(), sampleRate);
        return history.getImage (false);
    }

    varnelle::editor::SpectrumHistory history;
    double sampleRate;
};

TEST (SpectrogramHistory, PushedColumnLightsTheRowOfTheNearestBin)
{
    History h (8, 101, 48000.0); // 2048 / 48000: 23.4375 Hz per bin

    // Row 0 is 20 kHz: bin round (853.3) = 853, and no other row takes that bin.
    auto image = h.push (spectrumWithBin (853));
    EXPECT_EQ (litRows (image, 7), std::vector<int> ({0}));
    EXPECT_EQ (image.getPixelAt (7, 0), hottestColour);

    // The middle row is 632 Hz, bin 27, which spans 621..644 Hz: row 50 only.
    image = h.push (spectrumWithBin (27));
    EXPECT_EQ (litRows (image, 7), std::vector<int> ({50}));

    // Bin 1 (11.7..35.2 Hz) holds the bottom rows from 34.8 Hz (row 92) down to 20 Hz.
    image = h.push (spectrumWithBin (1));
    EXPECT_EQ (litRows (image, 7), std::vector<int> ({92, 93, 94, 95, 96, 97, 98, 99, 100}));

    // Bin 0 is never shown.
    image = h.push (spectrumWithBin (0));
    EXPECT_TRUE (columnIsEmpty (image, 7));

    // The older columns moved left by one pixel each, oldest first.
    EXPECT_EQ (litRows (image, 4), std::vector<int> ({0}));
    EXPECT_EQ (litRows (image, 5), std::vector<int> ({50}));
    EXPECT_EQ (litRows (image, 6).size(), 9u);
    EXPECT_TRUE (columnIsEmpty (image, 3));

    // The pixel takes the value's colour.
    image = h.push (spectrumWithBin (27, 0.4f));
    EXPECT_EQ (image.getPixelAt (7, 50), juce::Colour (0xff00a7cc));
}

TEST (SpectrogramHistory, BinsFollowTheSampleRateAndStopAtTheLastDisplayBin)
{
    {
        History h (4, 101, 44100.0);
        const auto image = h.push (spectrumWithBin (929)); // 20 kHz at 44.1 kHz
        EXPECT_EQ (litRows (image, 3), std::vector<int> ({0}));
    }
    {
        // At 22.05 kHz everything above 11.02 kHz would be beyond bin 1023 and reads bin 1023.
        History h (4, 101, 22050.0);
        const auto image = h.push (spectrumWithBin (1023));
        EXPECT_EQ (litRows (image, 3), std::vector<int> ({0, 1, 2, 3, 4, 5, 6, 7, 8}));
    }
}

TEST (SpectrogramHistory, HistoriesWithoutAreaOrValuesAreLeftAlone)
{
    // No area: no pictures, and columns go nowhere.
    History flat (0, 50, 48000.0);
    EXPECT_FALSE (flat.push (spectrumWithBin (27)).isValid());
    History thin (300, 0, 48000.0);
    EXPECT_FALSE (thin.push (spectrumWithBin (27)).isValid());

    // Missing values leave the pictures as they were.
    History h (1, 50, 48000.0);
    h.history.pushColumns (nullptr, spectrumWithBin (27).data(), 48000.0);
    h.history.pushColumns (spectrumWithBin (27).data(), nullptr, 48000.0);
    EXPECT_TRUE (isUniformlyEmpty (h.history.getImage (false)));
    EXPECT_TRUE (isUniformlyEmpty (h.history.getImage (true)));

    // A history one column wide shows the newest column only.
    EXPECT_EQ (litRows (h.push (std::vector<float> ((size_t)varnelle::numDisplayBins, 1.0f)), 0).size(), 50u);
    EXPECT_TRUE (columnIsEmpty (h.push (spectrumWithBin (0)), 0));
}

TEST (SpectrogramHistory, TimerPollsTheProcessorAndAdvancesBothHistoriesTogether)
{
    Fixture f (800, 400);
    auto& d = *f.display;
    EXPECT_TRUE (d.isTimerRunning());
    EXPECT_EQ (d.getTimerInterval(), 33);

    // The shown histories as they are now.
    const auto before = [&] { return d.getHistory().getImage (false); };
    const auto after = [&] { return d.getHistory().getImage (true); };
    const int last = before().getWidth() - 1;

    // Nothing published yet: the plot stays uniformly empty.
    d.timerCallback();
    EXPECT_TRUE (isUniformlyEmpty (before()));
    EXPECT_TRUE (isUniformlyEmpty (after()));

    // Band 3 (600..2500 Hz by default) pulls a 1 kHz tone down by 60 dB in the after view.
    f.set (id (2, "gain"), -60.0f);
    // A tone over a quiet noise floor, so that every row has something to show.
    auto signal = varnelle::test::makeSine (1000, 48000, 16384, 0.5f);
    const auto noise = varnelle::test::makeWhiteNoise (16384, 0.02f, 3);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] += noise[i];
    f.feed (std::move (signal));
    d.timerCallback();

    const int toneRow = rowForFrequency (before(), 1000.0);
    const auto beforeTone = before().getPixelAt (last, toneRow);
    const auto afterTone = after().getPixelAt (last, toneRow);
    EXPECT_GT (beforeTone.getRed(), 200) << beforeTone.toDisplayString (false); // about -12 dB
    EXPECT_LT (afterTone.getRed(), 100) << afterTone.toDisplayString (false);   // about -72 dB
    EXPECT_NE (afterTone, emptyColour);

    // Outside band 3 both views show the same frame's same values.
    const int highRow = rowForFrequency (before(), 10000.0);
    EXPECT_NE (before().getPixelAt (last, highRow), emptyColour);
    EXPECT_NE (before().getPixelAt (last, highRow), beforeTone);
    EXPECT_EQ (after().getPixelAt (last, highRow), before().getPixelAt (last, highRow));

    // One column each, however many frames were published.
    EXPECT_TRUE (columnIsEmpty (before(), last - 1));
    EXPECT_TRUE (columnIsEmpty (after(), last - 1));

    // A tick without a new frame adds nothing.
    d.timerCallback();
    EXPECT_TRUE (columnIsEmpty (before(), last - 1));
    EXPECT_EQ (before().getPixelAt (last, toneRow), beforeTone);

    // The next frame moves both histories by the same one column.
    f.feed (std::vector<float> (512, 0.0f));
    d.timerCallback();
    EXPECT_EQ (before().getPixelAt (last - 1, toneRow), beforeTone);
    EXPECT_EQ (after().getPixelAt (last - 1, toneRow), afterTone);
    EXPECT_TRUE (columnIsEmpty (before(), last - 2));
    EXPECT_TRUE (columnIsEmpty (after(), last - 2));
}

// Every tick with a new frame moves the whole shown history one column left, also each time
// the history's storage runs out and its newer half is moved back.
TEST (SpectrogramHistory, EachColumnMovesLeftByOnePerTickAcrossStorageMoves)
{
    Fixture f (200, 100);
    auto& d = *f.display;
    f.feed (std::vector<float> (1536, 0.0f)); // the first frame needs 2048 samples
    d.timerCallback();
    const int width = d.getHistory().getImage (false).getWidth();
    ASSERT_EQ (width, 70);

    auto previous = d.getHistory().getImage (true).createCopy();
    for (int tick = 0; tick < 2 * width + 5; ++tick)
    {
        f.feed (varnelle::test::makeWhiteNoise (512, 0.05f + 0.01f * (float)(tick % 40), tick + 1));
        d.timerCallback();
        const auto shown = d.getHistory().getImage (true);
        ASSERT_EQ (shown.getWidth(), width);
        int moved = 0;
        for (int x = 0; x + 1 < width; ++x)
            for (int y = 0; y < shown.getHeight(); ++y)
                moved += shown.getPixelAt (x, y) == previous.getPixelAt (x + 1, y) ? 1 : 0;
        ASSERT_EQ (moved, (width - 1) * shown.getHeight()) << "tick " << tick;
        ASSERT_FALSE (columnIsEmpty (shown, width - 1)) << "tick " << tick;
        previous = shown.createCopy();
    }
}

TEST (SpectrogramHistory, OnlyANewColumnOrAMovedBandAsksForARepaint)
{
    // An open window repainted 30 times a second whether or not anything had changed.
    Fixture f (800, 400);
    auto& d = *f.display;
    EXPECT_TRUE (d.pollForChanges()); // the first look
    EXPECT_FALSE (d.pollForChanges());

    f.set (id (1, "freqLow"), 300.0f);
    EXPECT_TRUE (d.pollForChanges());
    f.set (id (3, "bypass"), 1.0f);
    EXPECT_TRUE (d.pollForChanges());
    f.set (id (2, "gain"), -12.0f); // not drawn on the display
    EXPECT_FALSE (d.pollForChanges());

    f.feed (std::vector<float> (4096, 0.25f));
    EXPECT_TRUE (d.pollForChanges());
    EXPECT_FALSE (d.pollForChanges());
}

// What reaches the window: a new column repaints the plot alone, a moved band the display, an
// idle tick nothing. The plot is all that scrolls, and repainting more costs per pixel.
TEST (SpectrogramHistory, ANewColumnRepaintsThePlotAloneInTheWindow)
{
    struct Window : juce::Component
    {
        juce::ComponentPeer* createNewPeer (int, void*) override
        {
            return new varnelle::test::FakePeer (*this);
        }
    };
    Fixture f (800, 400);
    auto& d = *f.display;
    Window window;
    window.setBounds (0, 0, 820, 430);
    d.setTopLeftPosition (10, 20);
    window.addAndMakeVisible (d);
    window.setVisible (true);
    window.addToDesktop (0);
    auto& peer = *static_cast<varnelle::test::FakePeer*> (window.getPeer());
    d.timerCallback(); // the first look
    const auto plotInWindow = d.getLayout().plot + d.getPosition();

    peer.repainted.clear();
    d.timerCallback();
    EXPECT_TRUE (peer.repainted.isEmpty());

    f.feed (varnelle::test::makeWhiteNoise (2048, 0.3f, 9));
    d.timerCallback();
    EXPECT_EQ (peer.repainted.getBounds(), plotInWindow);

    peer.repainted.clear();
    f.set (id (2, "freqHigh"), 4000.0f);
    d.timerCallback();
    EXPECT_EQ (peer.repainted.getBounds(), d.getBounds());

    window.removeFromDesktop();
    window.removeChildComponent (&d);
}

// A host that keeps calling with silence (a stopped transport) scrolls in columns just like the
// ones shown: once every column in view is alike, scrolling changes no pixel and the window is
// not repainted, though the history still advances.
TEST (SpectrogramHistory, ScrollingSilenceIntoASilentPictureAsksForNoRepaint)
{
    Fixture f (200, 100); // plot 70 px wide: at zoom 20 it shows 4 columns (3.5 rounded)
    auto& d = *f.display;
    d.setTimeZoom (20.0f);
    f.feed (varnelle::test::makeWhiteNoise (2048, 0.3f, 5));
    ASSERT_TRUE (d.pollForChanges());

    // The noise goes out of view column by column: every tick repaints until the 4 shown and
    // the one that left are silent.
    std::vector<bool> repaints;
    for (int tick = 0; tick < 12; ++tick)
    {
        f.feed (std::vector<float> (512, 0.0f));
        repaints.push_back (d.pollForChanges());
    }
    const auto firstQuiet = std::find (repaints.begin(), repaints.end(), false) - repaints.begin();
    EXPECT_GE (firstQuiet, 5);
    EXPECT_LE (firstQuiet, 9); // the noise's own tail in the analysis window fades first
    EXPECT_TRUE (std::all_of (repaints.begin() + firstQuiet, repaints.end(), [] (bool r) { return !r; }));

    // Quiet ticks still advance the history: a sound arrives at its right edge at once.
    const auto shownBefore = d.getHistory().getImage (false).createCopy();
    f.feed (varnelle::test::makeSine (1000, 48000, 512, 0.5f));
    EXPECT_TRUE (d.pollForChanges());
    const auto shown = d.getHistory().getImage (false);
    EXPECT_FALSE (columnIsEmpty (shown, shown.getWidth() - 1));
    EXPECT_TRUE (columnIsEmpty (shownBefore, shownBefore.getWidth() - 1));

    // At a wider zoom more columns are in view, so the same silence repaints for longer.
    d.setTimeZoom (4.0f); // 18 columns
    for (int tick = 0; tick < 12; ++tick)
    {
        f.feed (std::vector<float> (512, 0.0f));
        EXPECT_TRUE (d.pollForChanges()) << tick;
    }
}

TEST (SpectrogramHistory, ResizingEmptiesBothHistories)
{
    Fixture f (800, 400);
    auto& d = *f.display;
    f.feed (varnelle::test::makePinkNoise (8192, 0.5f, 7));
    d.timerCallback();
    ASSERT_FALSE (isUniformlyEmpty (d.getHistory().getImage (false)));
    ASSERT_FALSE (isUniformlyEmpty (d.getHistory().getImage (true)));

    // A move without a size change keeps the history.
    d.setTopLeftPosition (30, 40);
    EXPECT_FALSE (isUniformlyEmpty (d.getHistory().getImage (false)));

    d.setSize (900, 450);
    for (bool afterGain : {false, true})
    {
        const auto& image = d.getHistory().getImage (afterGain);
        EXPECT_EQ (image.getWidth(), 900 - 130);
        EXPECT_EQ (image.getHeight(), 450 - 32);
        EXPECT_TRUE (isUniformlyEmpty (image));
    }
}

//==============================================================================
TEST (SpectrogramSetters, ValuesAreLimitedAndViewAndBandRepaint)
{
    Fixture f (800, 400);
    auto& d = *f.display;
    EXPECT_FLOAT_EQ (d.getTimeZoom(), 1.0f);
    d.setTimeZoom (7.5f);
    EXPECT_FLOAT_EQ (d.getTimeZoom(), 7.5f);
    d.setTimeZoom (1.0f);
    EXPECT_FLOAT_EQ (d.getTimeZoom(), 4.0f);
    d.setTimeZoom (50.0f);
    EXPECT_FLOAT_EQ (d.getTimeZoom(), 20.0f);
    d.setTimeZoom (std::nanf (""));
    EXPECT_FLOAT_EQ (d.getTimeZoom(), 20.0f);

    EXPECT_EQ (d.getSelectedBand(), 0);
    d.setSelectedBand (3);
    EXPECT_EQ (d.getSelectedBand(), 3);
    d.setSelectedBand (9);
    EXPECT_EQ (d.getSelectedBand(), 4);
    d.setSelectedBand (-2);
    EXPECT_EQ (d.getSelectedBand(), 0);

    EXPECT_FALSE (d.getShowAfterGain());
    d.setShowAfterGain (true);
    EXPECT_TRUE (d.getShowAfterGain());
}

//==============================================================================
TEST (SpectrogramPaint, ShowsTheNewestColumnsStretchedByTheTimeZoom)
{
    Fixture f (730, 400);
    auto& d = *f.display;
    const auto plot = d.getLayout().plot;
    ASSERT_EQ (plot.getWidth(), 600);

    std::vector<float> hot ((size_t)varnelle::numDisplayBins, 1.0f);
    std::vector<float> cold ((size_t)varnelle::numDisplayBins, 0.0f);
    d.getHistory().pushColumns (hot.data(), cold.data(), 48000.0);
    for (int i = 0; i < 149; ++i)
        d.getHistory().pushColumns (cold.data(), cold.data(), 48000.0);

    // A row at 300 Hz, clear of grid lines, band edges and labels.
    const int y = juce::roundToInt (d.getLayout().yForFrequency (300.0f));
    auto isHot = [] (juce::Colour c) { return c.getRed() > 180 && c.getGreen() < 120; };

    // Zoom 4: the newest 150 columns, 4 pixels each; the hot column is the leftmost block.
    d.setTimeZoom (4.0f);
    auto image = render (d);
    for (int x = plot.getX() + 1; x < plot.getX() + 4; ++x)
        EXPECT_TRUE (isHot (image.getPixelAt (x, y))) << x;
    for (int x = plot.getX() + 4; x < plot.getRight(); x += 37)
        EXPECT_FALSE (isHot (image.getPixelAt (x, y))) << x;

    // The other view shows its own history straight away.
    d.setShowAfterGain (true);
    image = render (d);
    EXPECT_FALSE (isHot (image.getPixelAt (plot.getX() + 2, y)));
    d.setShowAfterGain (false);

    // Zoom 20 shows only the newest 30 columns: the hot one is out of view...
    d.setTimeZoom (20.0f);
    image = render (d);
    EXPECT_FALSE (isHot (image.getPixelAt (plot.getX() + 2, y)));

    // ...until it is among them, then it spans 20 pixels.
    for (int i = 0; i < 29; ++i)
        d.getHistory().pushColumns (cold.data(), cold.data(), 48000.0);
    d.getHistory().pushColumns (hot.data(), cold.data(), 48000.0);
    for (int i = 0; i < 29; ++i)
        d.getHistory().pushColumns (cold.data(), cold.data(), 48000.0);
    image = render (d);
    for (int x = plot.getX() + 1; x < plot.getX() + 20; ++x)
        EXPECT_TRUE (isHot (image.getPixelAt (x, y))) << x;
    EXPECT_FALSE (isHot (image.getPixelAt (plot.getX() + 21, y)));

    // Zoom 4 again: with 29 newer columns after it, the hot column is the 121st of the 150
    // shown.
    d.setTimeZoom (4.0f);
    image = render (d);
    const int hotStart = plot.getX() + (150 - 30) * 4;
    EXPECT_TRUE (isHot (image.getPixelAt (hotStart + 1, y)));
    EXPECT_TRUE (isHot (image.getPixelAt (hotStart + 3, y)));
    EXPECT_FALSE (isHot (image.getPixelAt (hotStart - 2, y)));
    EXPECT_FALSE (isHot (image.getPixelAt (hotStart + 5, y)));
}

TEST (SpectrogramPaint, BypassedBandsDrawAtThirtyFivePercentAlpha)
{
    Fixture f (1000, 520);
    auto& d = *f.display;
    // Separate frequency and level ranges so that no two stripes or bars overlap.
    const float edgesHz[] = {20.0f, 100.0f, 400.0f, 1500.0f, 5000.0f, 20000.0f};
    for (int b = 0; b < 5; ++b)
    {
        f.set (id (b, "freqLow"), edgesHz[b]);
        f.set (id (b, "freqHigh"), edgesHz[b + 1]);
        f.set (id (b, "levelMin"), -80.0f + 16.0f * (float)b);
        f.set (id (b, "levelMax"), -80.0f + 16.0f * (float)(b + 1));
    }
    const auto plot = d.getLayout().plot;
    const auto levelBox = d.getLayout().levelBox;
    const juce::Colour levelBoxColour (0xff101a2c);

    auto stripePixel = [&] (const juce::Image& image, int band)
    {
        const float mid = std::sqrt (edgesHz[band] * edgesHz[band + 1]);
        return image.getPixelAt (plot.getCentreX(), juce::roundToInt (d.getLayout().yForFrequency (mid)));
    };
    auto barPixel = [&] (const juce::Image& image, int band)
    {
        const float mid = -72.0f + 16.0f * (float)band;
        return image.getPixelAt (levelBox.getX() + 20, juce::roundToInt (d.getLayout().yForLevel (mid)));
    };
    auto expected = [] (juce::Colour under, int band, float alpha)
    { return under.overlaidWith (varnelle::editor::getBandColour (band).withAlpha (alpha)); };

    d.setSelectedBand (2);
    const auto active = render (d);
    EXPECT_TRUE (coloursNear (stripePixel (active, 1), expected (emptyColour, 1, 0.07f), 2));
    EXPECT_TRUE (coloursNear (stripePixel (active, 2), expected (emptyColour, 2, 0.18f), 2));
    EXPECT_TRUE (coloursNear (barPixel (active, 1), expected (levelBoxColour, 1, 0.24f), 2));

    f.set (id (1, "bypass"), 1.0f);
    f.set (id (2, "bypass"), 1.0f);
    const auto bypassed = render (d);
    EXPECT_TRUE (coloursNear (stripePixel (bypassed, 1), expected (emptyColour, 1, 0.07f * 0.35f), 2));
    EXPECT_TRUE (coloursNear (stripePixel (bypassed, 2), expected (emptyColour, 2, 0.18f * 0.35f), 2));
    EXPECT_TRUE (coloursNear (barPixel (bypassed, 1), expected (levelBoxColour, 1, 0.24f * 0.35f), 2));
    EXPECT_FALSE (coloursNear (stripePixel (bypassed, 2), stripePixel (active, 2), 4));

    // Bands that stay on are untouched.
    EXPECT_EQ (stripePixel (bypassed, 3), stripePixel (active, 3));
    EXPECT_EQ (barPixel (bypassed, 3), barPixel (active, 3));
}

TEST (SpectrogramPaint, SwappedEdgesDrawExactlyLikeSortedOnes)
{
    Fixture f (900, 420);
    auto& d = *f.display;
    d.setSelectedBand (1);

    f.set (id (1, "freqLow"), 300.0f);
    f.set (id (1, "freqHigh"), 3000.0f);
    f.set (id (1, "levelMin"), -50.0f);
    f.set (id (1, "levelMax"), -10.0f);
    const auto sorted = render (d);

    f.set (id (1, "freqLow"), 3000.0f);
    f.set (id (1, "freqHigh"), 300.0f);
    f.set (id (1, "levelMin"), -10.0f);
    f.set (id (1, "levelMax"), -50.0f);
    const auto swapped = render (d);

    int differing = 0;
    for (int y = 0; y < sorted.getHeight(); ++y)
        for (int x = 0; x < sorted.getWidth(); ++x)
            differing += sorted.getPixelAt (x, y) != swapped.getPixelAt (x, y) ? 1 : 0;
    EXPECT_EQ (differing, 0);

    // And moving the band does change the picture, so the comparison means something.
    f.set (id (1, "freqHigh"), 900.0f);
    const auto moved = render (d);
    EXPECT_NE (moved.getPixelAt (d.getLayout().plot.getCentreX(),
                                 juce::roundToInt (d.getLayout().yForFrequency (400.0f))),
               sorted.getPixelAt (d.getLayout().plot.getCentreX(),
                                  juce::roundToInt (d.getLayout().yForFrequency (400.0f))));
}

//==============================================================================
TEST (SpectrogramLabels, FrequencyLabelsStayInsideThePlot)
{
    Fixture f (1000, 332); // plot y 22..322
    auto& d = *f.display;
    d.setSelectedBand (2);
    auto rowsFor = [&] (float low, float high)
    {
        f.set (id (2, "freqLow"), low);
        f.set (id (2, "freqHigh"), high);
        const auto band =
            varnelle::editor::DisplayBands (f.processor->parameters).getGeometry (2, d.getLayout());
        const auto rows = d.getLayout().getFrequencyLabelRows (band.yFreqLo, band.yFreqHi);
        return std::pair{rows.upper, rows.lower};
    };

    // Mid-plot: the upper frequency 16 px above the stripe, the lower 2 px below it.
    EXPECT_EQ (rowsFor (200.0f, 2000.0f), std::pair (122 - 16, 222 + 2));
    EXPECT_EQ (rowsFor (2000.0f, 200.0f), std::pair (106, 224));

    // A stripe at the very top: the upper label is held inside, the lower pushed 16 px below it.
    EXPECT_EQ (rowsFor (19000.0f, 20000.0f), std::pair (24, 40));

    // At the very bottom both are held inside; the upper one stops 28 px above the bottom,
    // which leaves 12 px to the lower one.
    EXPECT_EQ (rowsFor (20.0f, 25.0f), std::pair (294, 306));
    const auto [upper, lower] = rowsFor (20.0f, 20.0f);
    EXPECT_GE (upper, 24);
    EXPECT_LE (lower + 14, 322);
}

TEST (SpectrogramLabels, LevelBadgesStayInsideTheLevelBox)
{
    Fixture f (1000, 332); // level box x 944..986, y 22..322
    auto& d = *f.display;
    d.setSelectedBand (4);
    auto badgesFor = [&] (float levelMin, float levelMax)
    {
        f.set (id (4, "levelMin"), levelMin);
        f.set (id (4, "levelMax"), levelMax);
        const auto badges = d.getLayout().getLevelBadgeBounds (levelMin, levelMax);
        EXPECT_EQ (badges.lower.getX(), 946);
        EXPECT_EQ (badges.lower.getWidth(), 38);
        EXPECT_EQ (badges.upper.getWidth(), 38);
        EXPECT_EQ (badges.lower.getHeight(), 12);
        EXPECT_TRUE (d.getLayout().levelBox.contains (badges.lower));
        EXPECT_TRUE (d.getLayout().levelBox.contains (badges.upper));
        return std::pair{badges.lower.getY(), badges.upper.getY()};
    };

    // Centred on their level lines (6 px above the line's y).
    EXPECT_EQ (badgesFor (-60.0f, -20.0f), std::pair (247 - 6, 97 - 6));
    EXPECT_EQ (badgesFor (-20.0f, -60.0f), std::pair (241, 91));

    // The full range: held one pixel inside the top and 13 above the bottom.
    EXPECT_EQ (badgesFor (-80.0f, 0.0f), std::pair (309, 23));

    // Close edges: the lower badge moves down to 12 px below the upper one.
    EXPECT_EQ (badgesFor (-40.0f, -39.0f), std::pair (174, 162));

    // Both at the top: the upper-edge badge takes the row below.
    EXPECT_EQ (badgesFor (0.0f, 0.0f), std::pair (23, 35));

    // Both at the bottom there is no room below, so they share the last row.
    EXPECT_EQ (badgesFor (-80.0f, -79.0f), std::pair (309, 309));
}

//==============================================================================
// Not a check: writes a picture of the display for a person to look at.
//   varnelle_tests --gtest_also_run_disabled_tests --gtest_filter='SpectrogramPreview*'
TEST (SpectrogramPreview, DISABLED_WritesPngs)
{
    Fixture f (1120, 520);
    auto& d = *f.display;
    f.set (id (1, "gain"), -30.0f);
    f.set (id (1, "levelMin"), -40.0f);
    f.set (id (1, "levelMax"), -6.0f);
    f.set (id (3, "bypass"), 1.0f);
    d.setSelectedBand (1);
    d.setTimeZoom (4.0f);

    const double rate = 48000.0;
    auto noise = varnelle::test::makePinkNoise (512 * 200, 0.3f, 11);
    double phase = 0.0;
    for (int column = 0; column < 200; ++column)
    {
        std::vector<float> block (512);
        const double frequency = 100.0 * std::pow (100.0, column / 200.0); // 100 Hz .. 10 kHz sweep
        for (size_t i = 0; i < block.size(); ++i)
        {
            phase += juce::MathConstants<double>::twoPi * frequency / rate;
            block[i] = 0.4f * (float)std::sin (phase) + noise[(size_t)column * 512 + i];
        }
        f.feed (std::move (block));
        d.timerCallback();
    }

    for (bool afterGain : {false, true})
    {
        d.setShowAfterGain (afterGain);
        const auto file = juce::File ("/tmp").getChildFile (afterGain ? "varnelle-spectrogram-after.png"
                                                                      : "varnelle-spectrogram-before.png");
        file.deleteFile();
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        juce::PNGImageFormat png;
        ASSERT_TRUE (png.writeImageToStream (render (d), out));
    }
}

} // namespace

// On an unscaled display the history is stretched and tinted by the component itself; at other
// scales JUCE resamples it and fills the stripes. Both must show the same picture: compared
// inside each column's block, on rows clear of lines and labels.
TEST (SpectrogramPaint, UnscaledStretchAndTintMatchJuceDrawing)
{
    Fixture f (900, 420);
    auto& d = *f.display;
    f.set (id (0, "freqLow"), 20.0f);
    f.set (id (0, "freqHigh"), 2000.0f);
    f.set (id (1, "freqLow"), 150.0f);
    f.set (id (1, "freqHigh"), 600.0f);
    d.setSelectedBand (1);
    for (int i = 0; i < d.getHistory().getImage (false).getWidth(); ++i)
    {
        std::vector<float> column ((size_t)varnelle::numDisplayBins, (float)(i % 17) / 16.0f);
        d.getHistory().pushColumns (column.data(), column.data(), 48000.0);
    }
    d.setTimeZoom (7.3f);

    const auto unscaled = render (d);
    juce::Image doubled (juce::Image::ARGB, 2 * d.getWidth(), 2 * d.getHeight(), true);
    {
        juce::Graphics g (doubled);
        g.addTransform (juce::AffineTransform::scale (2.0f));
        d.paint (g);
    }

    const auto plot = d.getLayout().plot;
    int compared = 0;
    for (const float frequency : {50.0f, 300.0f, 1500.0f, 5000.0f}) // in two stripes, one, none
    {
        const int y = juce::roundToInt (d.getLayout().yForFrequency (frequency));
        for (int x = plot.getX() + 210; x < plot.getRight() - 2; ++x)
        {
            const auto left = unscaled.getPixelAt (x - 1, y), here = unscaled.getPixelAt (x, y);
            if (left != here || unscaled.getPixelAt (x + 1, y) != here)
                continue; // a block edge, where the two roundings may differ by a pixel
            EXPECT_TRUE (coloursNear (here, doubled.getPixelAt (2 * x + 1, 2 * y + 1), 3)) << x << ", " << y;
            ++compared;
        }
    }
    EXPECT_GT (compared, 1000);
}

// The unscaled path keeps its picture and, as columns arrive, moves it and draws only the new
// pixels: that must give exactly what drawing everything afresh gives, also across the moves of
// the history's storage and while a band moves.
TEST (SpectrogramPaint, ScrolledPictureEqualsAFreshOne)
{
    Fixture f (700, 300);
    auto& d = *f.display;
    d.setTimeZoom (7.3f);
    int pushed = 0;
    auto push = [&] (int count)
    {
        for (int i = 0; i < count; ++i, ++pushed)
        {
            std::vector<float> column ((size_t)varnelle::numDisplayBins);
            for (size_t bin = 0; bin < column.size(); ++bin)
                column[bin] = (float)((pushed * 7 + (int)bin) % 23) / 22.0f;
            d.getHistory().pushColumns (column.data(), column.data(), 48000.0);
        }
    };
    const int width = d.getHistory().getImage (false).getWidth();
    render (d);
    for (const int count : {1, 2, 1, 5, width - 3, 1, 1, 3, width, 2})
    {
        push (count);
        if (count == 5)
            f.set (id (1, "freqHigh"), 900.0f);
        const auto scrolled = render (d);
        d.setShowAfterGain (true); // another picture, so the next one is drawn afresh
        render (d);
        d.setShowAfterGain (false);
        const auto fresh = render (d);
        int differing = 0;
        for (int y = 0; y < fresh.getHeight(); ++y)
            for (int x = 0; x < fresh.getWidth(); ++x)
                differing += scrolled.getPixelAt (x, y) != fresh.getPixelAt (x, y) ? 1 : 0;
        ASSERT_EQ (differing, 0) << "after " << pushed << " columns";
    }
}

// A window that moves its plot's pixels on screen paints only what the plan says. Played
// through in software: the last painting, its plot area moved left by the plan's dx, the plan's
// areas painted over it, must be the picture a fresh painting gives, for any zoom, any band
// (its labels sit at the plot's left) and any number of new columns.
TEST (SpectrogramPaint, MovingTheLastPaintingAndPaintingThePlanGivesAFreshOne)
{
    Fixture f (900, 420);
    auto& d = *f.display;
    // In a window, with the keys on the selected band's upper frequency edge: its focus outline
    // lies over the plot too.
    struct Window : juce::Component
    {
        juce::ComponentPeer* createNewPeer (int, void*) override
        {
            return new varnelle::test::FakePeer (*this, true);
        }
    } window;
    window.setBounds (d.getBounds());
    window.addAndMakeVisible (d);
    window.addToDesktop (0);
    window.setVisible (true);
    auto renderAll = [&]
    {
        juce::Image image (juce::Image::ARGB, d.getWidth(), d.getHeight(), true);
        juce::Graphics g (image);
        d.paintEntireComponent (g, false);
        return image;
    };
    int pushed = 0;
    auto push = [&] (int count)
    {
        for (int i = 0; i < count; ++i, ++pushed)
        {
            std::vector<float> column ((size_t)varnelle::numDisplayBins);
            std::vector<float> change ((size_t)varnelle::numDisplayBins);
            for (size_t bin = 0; bin < column.size(); ++bin)
            {
                column[bin] = (float)((pushed * 5 + (int)bin * 3) % 29) / 28.0f;
                change[bin] = (float)((pushed * 7 + (int)bin) % 61) - 30.0f;
            }
            d.getHistory().pushColumns (column.data(), column.data(), 48000.0, change.data());
        }
    };
    f.set (id (3, "freqLow"), 25.0f); // band 4's lower label at the plot's bottom
    push (40);

    int plans = 0;
    for (const bool changeView : {false, true}) // the Change view's curve does not move either
        for (const float zoom : {4.0f, 7.3f, 20.0f})
            for (int band = 0; band < 5; ++band)
            {
                d.setShowChange (changeView);
                d.setTimeZoom (zoom);
                d.setSelectedBand (band);
                d.pollForChanges(); // takes in the band values
                auto* upperEdge = d.getChildComponent (1);
                upperEdge->grabKeyboardFocus();
                ASSERT_TRUE (upperEdge->hasKeyboardFocus (false));
                auto screen = renderAll();
                for (const int count : {1, 3, 1, 2})
                {
                    push (count);
                    const auto plan = d.planScroll();
                    ASSERT_TRUE (plan.has_value()) << zoom << " " << band;
                    ++plans;
                    const auto area = plan->area;
                    screen.moveImageSection (area.getX(), area.getY(), area.getX() + plan->dx, area.getY(),
                                             area.getWidth() - plan->dx, area.getHeight());
                    {
                        juce::Graphics g (screen);
                        g.reduceClipRegion (plan->toRepaint);
                        d.paintEntireComponent (g, false);
                    }
                    // A fresh picture, not the kept one: another view is drawn in between.
                    d.setShowAfterGain (true);
                    renderAll();
                    d.setShowAfterGain (false);
                    d.setShowChange (changeView);
                    const auto fresh = renderAll();
                    int differing = 0;
                    for (int y = 0; y < fresh.getHeight(); ++y)
                        for (int x = 0; x < fresh.getWidth(); ++x)
                            differing += screen.getPixelAt (x, y) != fresh.getPixelAt (x, y) ? 1 : 0;
                    ASSERT_EQ (differing, 0)
                        << "zoom " << zoom << ", band " << band << ", " << pushed << " columns";
                    screen = fresh;
                }
            }
    EXPECT_EQ (plans, 120);
    window.removeFromDesktop();
    window.removeChildComponent (&d);
}

// Only new columns move: a moved band, another view or zoom, and no new column at all leave
// nothing to move, and the display is painted as it always was.
TEST (SpectrogramPaint, OnlyNewColumnsUnderAnUnchangedOverlayAreMoved)
{
    Fixture f (700, 300);
    auto& d = *f.display;
    std::vector<float> column ((size_t)varnelle::numDisplayBins, 0.5f);
    auto push = [&] { d.getHistory().pushColumns (column.data(), column.data(), 48000.0); };
    push();
    EXPECT_FALSE (d.planScroll().has_value()); // never painted

    render (d);
    EXPECT_FALSE (d.planScroll().has_value()); // nothing new
    push();
    EXPECT_TRUE (d.planScroll().has_value());

    d.setShowAfterGain (true);
    EXPECT_FALSE (d.planScroll().has_value());
    render (d);
    push();
    d.setTimeZoom (9.0f);
    EXPECT_FALSE (d.planScroll().has_value());
    render (d);
    push();
    f.set (id (0, "freqHigh"), 300.0f);
    d.pollForChanges();
    EXPECT_FALSE (d.planScroll().has_value());

    // A scaled screen draws through JUCE's resampling, which has no kept picture to move.
    render (d);
    push();
    juce::Image image (juce::Image::ARGB, 2 * d.getWidth(), 2 * d.getHeight(), true);
    {
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (2.0f));
        d.paint (g);
    }
    push();
    EXPECT_FALSE (d.planScroll().has_value());
}
