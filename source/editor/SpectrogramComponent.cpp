#include "editor/SpectrogramComponent.h"

#include "editor/EditorShared.h"
#include "editor/KeyboardControls.h"
#include "engine/BandParameters.h"
#include "engine/StftConstants.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace varnelle::editor
{

namespace
{
const juce::Colour backgroundColour (0xff0e1526);
const juce::Colour emptyHistoryColour (0xff0b1220);
const juce::Colour levelBoxColour (0xff101a2c);
const juce::Colour badgeColour (0xff091322);

constexpr float minFrequencyHz = 20.0f;
constexpr float maxFrequencyHz = 20000.0f;
constexpr float minLevelDb = -80.0f;
constexpr float maxLevelDb = 0.0f;

constexpr float gridFrequencies[] = {120.0f, 500.0f, 1000.0f, 5000.0f, 10000.0f};
constexpr float scaleLevels[] = {0.0f, -20.0f, -40.0f, -60.0f, -80.0f};

// lo when v is below lo, otherwise the smaller of v and hi.
template <typename T>
T clampValue (T v, T lo, T hi)
{
    return v < lo ? lo : std::min (v, hi);
}

float readValue (const std::atomic<float>* value)
{
    return value != nullptr ? value->load() : 0.0f;
}

int roundToIntAwayFromZero (float v)
{
    return (int)std::roundf (v);
}

float readValueOr (const std::atomic<float>* value, float fallback)
{
    return value != nullptr ? value->load() : fallback;
}

// Edge grabbing, in pixels.
constexpr float frequencyLineReach = 12.0f;
constexpr int badgeMarginX = 4, badgeMarginY = 3;
constexpr int levelBoxMarginX = 6, levelBoxMarginY = 8;
constexpr int levelBoxCloseness = 14;
constexpr float levelBoxReach = 15.0f;
constexpr int legendMarginX = 16, legendMarginY = 14;
constexpr float legendCloseness = 12.0f;
constexpr float legendPointReach = 18.0f;
constexpr float legendLineReach = 16.0f;

// Gaps kept while dragging (Hz, dB) and how close to the ends of the scale a level gets (px).
constexpr float minFrequencyGapHz = 10.0f;
constexpr float minLevelGapDb = 3.0f;
constexpr float levelDragMargin = 4.0f;

// Truncated towards zero; far-off positions are pinned first so that the cast stays defined.
int truncateToInt (float v)
{
    return (int)clampValue (v, -1.0e9f, 1.0e9f);
}

BandParam slotForDragMode (SpectrogramComponent::DragMode mode)
{
    using DragMode = SpectrogramComponent::DragMode;
    switch (mode)
    {
        case DragMode::freqLow:
            return BandParam::freqLow;
        case DragMode::freqHigh:
            return BandParam::freqHigh;
        case DragMode::levelMin:
            return BandParam::levelMin;
        case DragMode::levelMax:
        case DragMode::none:
            break;
    }
    return BandParam::levelMax;
}

juce::String dragParameterId (int bandIndex, SpectrogramComponent::DragMode mode)
{
    if (mode == SpectrogramComponent::DragMode::none)
        return {};
    return getBandParameterId (bandIndex, slotForDragMode (mode));
}

bool isFrequencyEdge (SpectrogramComponent::DragMode edge)
{
    return edge == SpectrogramComponent::DragMode::freqLow ||
           edge == SpectrogramComponent::DragMode::freqHigh;
}

// Key steps of an edge: frequencies in octaves (the axis is logarithmic), levels in dB.
float steppedEdgeValue (SpectrogramComponent::DragMode edge, float current, KeyStep step)
{
    const bool fine = step.size == KeyStep::Size::fine;
    const bool large = step.size == KeyStep::Size::large;
    if (isFrequencyEdge (edge))
        return current * std::exp2 ((float)step.direction * (fine    ? 1.0f / 48.0f
                                                             : large ? 1.0f
                                                                     : 1.0f / 12.0f));
    return current + (float)step.direction * (fine ? 0.1f : large ? 10.0f : 1.0f);
}
} // namespace

//==============================================================================
// One focusable stand-in per edge of the selected band: it lies over the edge's line or badge,
// paints only its focus outline and lets every mouse event through to the display.
class SpectrogramComponent::EdgeElement : public juce::Component
{
public:
    EdgeElement (SpectrogramComponent& display, DragMode edgeToMove) : owner (display), edge (edgeToMove)
    {
        setWantsKeyboardFocus (true);
        setInterceptsMouseClicks (false, false);
        setExplicitFocusOrder ((int)edge);
    }

    bool keyPressed (const juce::KeyPress& key) override
    {
        const auto step = findKeyStep (key);
        if (!step.has_value())
            return false;
        owner.setEdgeValue (edge, steppedEdgeValue (edge, owner.getEdgeValue (edge), *step));
        return true;
    }

    void paint (juce::Graphics& g) override
    {
        if (hasKeyboardFocus (false))
            drawFocusOutline (g, getLocalBounds().toFloat());
    }
    void focusGained (FocusChangeType) override { repaint(); }
    void focusLost (FocusChangeType) override { repaint(); }

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override
    {
        return std::make_unique<Accessibility> (*this);
    }

private:
    class Value : public UnitValue
    {
    public:
        explicit Value (EdgeElement& e) : element (e) {}

        double getCurrentValue() const override { return element.owner.getEdgeValue (element.edge); }
        juce::String getCurrentValueAsString() const override
        {
            const auto v = (float)getCurrentValue();
            if (isFrequencyEdge (element.edge))
                return juce::String (juce::roundToInt (v)) + " Hz";
            return withTypographicMinus (juce::String (v, 1)) + " dB";
        }
        void setValue (double newValue) override
        {
            element.owner.setEdgeValue (element.edge, (float)newValue);
        }
        AccessibleValueRange getRange() const override
        {
            if (isFrequencyEdge (element.edge))
                return {{minFrequencyHz, maxFrequencyHz}, 0.0};
            return {{minLevelDb, maxLevelDb}, 0.1};
        }

    private:
        EdgeElement& element;
    };

    class Accessibility : public juce::AccessibilityHandler
    {
    public:
        explicit Accessibility (EdgeElement& e)
            : juce::AccessibilityHandler (e, juce::AccessibilityRole::slider, {},
                                          Interfaces{std::make_unique<Value> (e)}),
              element (e)
        {
        }

        juce::String getTitle() const override
        {
            return getBandParameterName (element.owner.selectedBand, slotForDragMode (element.edge));
        }

    private:
        EdgeElement& element;
    };

    SpectrogramComponent& owner;
    const DragMode edge;
};

const juce::String& SpectrogramComponent::CachedNumberText::get (float number, int decimals,
                                                                 const juce::String& suffix)
{
    if (!valid || number != value)
    {
        text = juce::String (number, decimals) + suffix;
        value = number;
        valid = true;
    }
    return text;
}

SpectrogramComponent::SpectrogramComponent (VarnelleAudioProcessor& processorToShow)
    : processor (processorToShow), smallFont (makeFont (10.5f)), labelFont (makeFont (12.0f, true)),
      badgeFont (makeFont (9.0f, true))
{
    auto& tree = processor.parameters;
    for (int b = 0; b < numBands; ++b)
    {
        auto& values = bandValues[(size_t)b];
        values.freqLow = tree.getRawParameterValue (getBandParameterId (b, BandParam::freqLow));
        values.freqHigh = tree.getRawParameterValue (getBandParameterId (b, BandParam::freqHigh));
        values.levelMin = tree.getRawParameterValue (getBandParameterId (b, BandParam::levelMin));
        values.levelMax = tree.getRawParameterValue (getBandParameterId (b, BandParam::levelMax));
        const auto bypassId = findBypassParameterId (tree, b);
        values.bypass = bypassId.isNotEmpty() ? tree.getRawParameterValue (bypassId) : nullptr;
        bandTitles[(size_t)b] = "Band " + juce::String (b + 1);
    }

    for (size_t i = 0; i < std::size (gridFrequencies); ++i)
    {
        const float f = gridFrequencies[i];
        frequencyGridTexts[i] = f >= 1000.0f ? juce::String (f / 1000.0f, 1) + "k" : juce::String ((int)f);
    }
    for (size_t i = 0; i < std::size (scaleLevels); ++i)
        levelScaleTexts[i] = juce::String (scaleLevels[i], 0);

    freqTitle = "Freq";
    levelTitle = "Level";
    dbTitle = "dB";
    afterViewTitle = "View: After Gain";
    beforeViewTitle = "View: Before Gain";
    hzSuffix = " Hz";

    for (auto edge : {DragMode::freqLow, DragMode::freqHigh, DragMode::levelMin, DragMode::levelMax})
    {
        auto& element = edgeElements[(size_t)edge - 1];
        element = std::make_unique<EdgeElement> (*this, edge);
        addAndMakeVisible (*element);
    }

    // paint covers every pixel, so nothing behind the display is painted with it.
    setOpaque (true);
    startTimerHz (30);
}

SpectrogramComponent::~SpectrogramComponent()
{
    stopTimer();
    if (gestureParameter != nullptr)
    {
        gestureParameter->endChangeGesture();
        gestureParameter = nullptr;
    }
}

//==============================================================================
void SpectrogramComponent::setTimeZoom (float newZoom)
{
    if (std::isfinite (newZoom))
        timeZoom = clampValue (newZoom, 4.0f, 20.0f);
    repaint();
}

void SpectrogramComponent::setShowAfterGain (bool shouldShowAfter)
{
    showAfterGain = shouldShowAfter ? 1 : 0;
    repaint();
}

void SpectrogramComponent::setSelectedBand (int bandIndex)
{
    selectedBand = clampValue (bandIndex, 0, numBands - 1);
    layoutEdgeElements();
    for (auto& element : edgeElements)
        if (auto* handler = element->getAccessibilityHandler())
            handler->notifyAccessibilityEvent (juce::AccessibilityEvent::titleChanged);
    repaint();
}

//==============================================================================
juce::Rectangle<int> SpectrogramComponent::getContentBounds() const
{
    auto area = getLocalBounds();
    area.removeFromLeft (10);
    area.removeFromRight (10);
    area.removeFromBottom (10);
    area.removeFromTop (22);
    return area;
}

juce::Rectangle<int> SpectrogramComponent::getPlotBounds() const
{
    auto area = getContentBounds();
    area.removeFromRight (110);
    return area;
}

juce::Rectangle<int> SpectrogramComponent::getLegendBounds() const
{
    auto area = getContentBounds();
    area.removeFromRight (58);
    return area.removeFromRight (30);
}

juce::Rectangle<int> SpectrogramComponent::getLevelBoxBounds() const
{
    auto area = getContentBounds();
    area.removeFromRight (4);
    return area.removeFromRight (42);
}

float SpectrogramComponent::yForFrequency (float frequencyHz) const
{
    const auto plot = getPlotBounds().toFloat();
    const float f = clampValue (frequencyHz, minFrequencyHz, maxFrequencyHz);
    return plot.getBottom() - std::log (f / minFrequencyHz) / std::log (1000.0f) * plot.getHeight();
}

float SpectrogramComponent::yForLevel (float levelDb) const
{
    const auto legend = getLegendBounds().toFloat();
    const float level = clampValue (levelDb, minLevelDb, maxLevelDb);
    return legend.getBottom() - ((level - minLevelDb) / (maxLevelDb - minLevelDb)) * legend.getHeight();
}

juce::Colour SpectrogramComponent::spectrumColour (float value)
{
    static constexpr float positions[] = {0.0f, 0.18f, 0.4f, 0.62f, 0.8f, 1.0f};
    static constexpr juce::uint32 colours[] = {0xff0b1220, 0xff173f9d, 0xff00a7cc,
                                               0xff58c96b, 0xfff0be3d, 0xfff34e37};

    // A NaN reads as silence rather than falling through every stop.
    const float t = value > 0.0f ? std::min (value, 1.0f) : 0.0f;
    size_t k = 1;
    while (k < std::size (positions) - 1 && positions[k] < t)
        ++k;
    const float proportion = (t - positions[k - 1]) / (positions[k] - positions[k - 1]);
    return juce::Colour (colours[k - 1]).interpolatedWith (juce::Colour (colours[k]), proportion);
}

//==============================================================================
void SpectrogramComponent::resized()
{
    ensureImageSizes();
    layoutEdgeElements();

    const auto legend = getLegendBounds().toFloat();
    legendGradient = juce::ColourGradient (spectrumColour (1.0f), legend.getX(), legend.getY(),
                                           spectrumColour (0.0f), legend.getX(), legend.getBottom(), false);
    legendGradient.addColour (0.16, spectrumColour (0.84f));
    legendGradient.addColour (0.34, spectrumColour (0.66f));
    legendGradient.addColour (0.52, spectrumColour (0.48f));
    legendGradient.addColour (0.70, spectrumColour (0.30f));
    legendGradient.addColour (0.86, spectrumColour (0.14f));
}

void SpectrogramComponent::ensureImageSizes()
{
    const auto plot = getPlotBounds();
    if (plot.getWidth() <= 0 || plot.getHeight() <= 0)
        return;

    for (auto* image : {&beforeImage, &afterImage})
    {
        if (image->isValid() && image->getWidth() == 2 * plot.getWidth() &&
            image->getHeight() == plot.getHeight())
            continue;

        // Software pixels, so that pushing a column is a plain memory write on every platform.
        *image = juce::Image (juce::Image::RGB, 2 * plot.getWidth(), plot.getHeight(), true,
                              juce::SoftwareImageType());
        image->clear (image->getBounds(), emptyHistoryColour);
        historyEnd = plot.getWidth();
        columnsPushed = 0;
        stretchedKey = {};
    }
}

juce::Image SpectrogramComponent::getHistoryImage (bool afterGain) const
{
    const auto& image = afterGain ? afterImage : beforeImage;
    if (!image.isValid())
        return {};
    const int width = image.getWidth() / 2;
    return image.getClippedImage ({historyEnd - width, 0, width, image.getHeight()});
}

// The shown history is the plot's width of columns ending at historyEnd, in images twice as
// wide: a new column goes in at the end, and only when the end reaches the right edge is the
// newer half moved back to the left, once per plot width of columns instead of every time.
void SpectrogramComponent::pushColumns (const float* before, const float* after)
{
    if (!beforeImage.isValid() || !afterImage.isValid() || before == nullptr || after == nullptr)
        return;
    const int width = beforeImage.getWidth() / 2;
    if (historyEnd >= 2 * width)
    {
        for (auto* image : {&beforeImage, &afterImage})
            image->moveImageSection (0, 0, width, 0, width, image->getHeight());
        historyEnd = width;
    }
    writeSpectrumColumn (beforeImage, historyEnd, before);
    writeSpectrumColumn (afterImage, historyEnd, after);
    ++historyEnd;
    ++columnsPushed;
}

void SpectrogramComponent::pushSpectrumColumn (juce::Image& image, const float* values)
{
    if (!image.isValid() || values == nullptr)
        return;

    const int width = image.getWidth();
    const int height = image.getHeight();
    if (width < 2 || height <= 0)
        return;

    image.moveImageSection (0, 0, 1, 0, width - 1, height);
    writeSpectrumColumn (image, width - 1, values);
}

void SpectrogramComponent::writeSpectrumColumn (juce::Image& image, int x, const float* values)
{
    const int height = image.getHeight();

    // The bin of each row, worked out again only when the height or the sample rate changes.
    const float sampleRate = (float)std::max (processor.getSampleRate(), 1.0);
    if ((int)rowBins.size() != height || rowBinsSampleRate != sampleRate)
    {
        rowBins.resize ((size_t)height);
        rowBinsSampleRate = sampleRate;
        const float rowDivisor = (float)std::max (height - 1, 1);
        for (int y = 0; y < height; ++y)
        {
            const float t = clampValue (1.0f - (float)y / rowDivisor, 0.0f, 1.0f);
            const float f = minFrequencyHz * std::pow (1000.0f, t);
            rowBins[(size_t)y] =
                clampValue (roundToIntAwayFromZero (f * (float)fftSize / sampleRate), 0, numDisplayBins - 1);
        }
    }

    const juce::Image::BitmapData column (image, x, 0, 1, height, juce::Image::BitmapData::writeOnly);
    for (int y = 0; y < height; ++y)
        column.setPixelColour (0, y, spectrumColour (values[rowBins[(size_t)y]]));
}

void SpectrogramComponent::timerCallback()
{
    // An idle window draws nothing; a new column alone changes only the plot.
    if (pollForChanges())
    {
        if (bandsMovedAtLastPoll)
            repaint();
        else
            repaint (getPlotBounds());
    }
}

bool SpectrogramComponent::pollForChanges()
{
    ensureImageSizes();

    float before[numDisplayBins] = {};
    float after[numDisplayBins] = {};
    bandsMovedAtLastPoll = bandValuesChanged();
    if (bandsMovedAtLastPoll)
        layoutEdgeElements();
    bool changed = bandsMovedAtLastPoll;
    if (processor.getLatestSpectra (before, after, lastSeenFrame))
    {
        pushColumns (before, after);
        changed = true;
    }
    return changed;
}

bool SpectrogramComponent::bandValuesChanged()
{
    std::array<std::uint32_t, 5 * 5> bits{};
    size_t i = 0;
    for (const auto& values : bandValues)
        for (const auto* value :
             {values.freqLow, values.freqHigh, values.levelMin, values.levelMax, values.bypass})
        {
            const float v = value != nullptr ? value->load() : 0.0f;
            std::memcpy (&bits[i++], &v, sizeof (v));
        }

    if (bits == seenBandValueBits)
        return false;
    seenBandValueBits = bits;
    return true;
}

//==============================================================================
SpectrogramComponent::BandGeometry SpectrogramComponent::getBandGeometry (int bandIndex) const
{
    const auto& values = bandValues[(size_t)clampValue (bandIndex, 0, numBands - 1)];
    const float freqLow = readValue (values.freqLow);
    const float freqHigh = readValue (values.freqHigh);
    const float levelMin = readValue (values.levelMin);
    const float levelMax = readValue (values.levelMax);

    BandGeometry band;
    band.fLo = std::min (freqLow, freqHigh);
    band.fHi = std::max (freqLow, freqHigh);
    band.lLo = std::min (levelMin, levelMax);
    band.lHi = std::max (levelMin, levelMax);
    band.yFreqLo = yForFrequency (band.fLo);
    band.yFreqHi = yForFrequency (band.fHi);
    band.yLevelLo = yForLevel (band.lLo);
    band.yLevelHi = yForLevel (band.lHi);
    // Same rule as isBandBypassed, on the pointer cached at construction.
    band.alphaFactor = values.bypass != nullptr && values.bypass->load() >= 0.5f ? 0.35f : 1.0f;
    return band;
}

SpectrogramComponent::LevelBadgeBounds SpectrogramComponent::getLevelBadgeBounds() const
{
    const auto levelBox = getLevelBoxBounds();
    const auto& values = bandValues[(size_t)selectedBand];
    const float levelMin = readValue (values.levelMin);
    const float levelMax = readValue (values.levelMax);

    const int top = levelBox.getY() + 1;
    const int bottom = levelBox.getBottom() - 13;
    int yMin =
        clampValue (roundToIntAwayFromZero (yForLevel (std::min (levelMin, levelMax))) - 6, top, bottom);
    int yMax =
        clampValue (roundToIntAwayFromZero (yForLevel (std::max (levelMin, levelMax))) - 6, top, bottom);

    if (std::abs (yMin - yMax) < 12)
    {
        if (yMin > yMax)
            yMin = std::min (yMax + 12, bottom);
        else
            yMax = std::min (yMin + 12, bottom);
    }

    const int x = levelBox.getX() + 2;
    const int w = levelBox.getWidth() - 4;
    return {{x, yMin, w, 12}, {x, yMax, w, 12}};
}

SpectrogramComponent::FrequencyLabelRows SpectrogramComponent::getFrequencyLabelRows() const
{
    const auto plot = getPlotBounds();
    const auto band = getBandGeometry (selectedBand);

    FrequencyLabelRows rows;
    rows.upper = clampValue (roundToIntAwayFromZero (std::min (band.yFreqLo, band.yFreqHi)) - 16,
                             plot.getY() + 2, plot.getBottom() - 28);
    rows.lower = clampValue (roundToIntAwayFromZero (std::max (band.yFreqLo, band.yFreqHi)) + 2,
                             plot.getY() + 2, plot.getBottom() - 16);
    if (rows.lower - rows.upper < 16)
        rows.lower = std::min (rows.upper + 16, plot.getBottom() - 16);
    return rows;
}

void SpectrogramComponent::drawValueBadge (juce::Graphics& g, juce::Rectangle<int> area,
                                           const juce::String& text) const
{
    g.setColour (badgeColour.withAlpha (0.62f));
    g.fillRoundedRectangle (area.toFloat(), 2.5f);
    g.setColour (juce::Colours::white.withAlpha (0.93f));
    g.setFont (badgeFont);
    g.drawText (text, area, juce::Justification::centred, false);
}

// A band's stripe across the plot: its rows (component coordinates) and its tint.
SpectrogramComponent::Stripe SpectrogramComponent::getStripe (int bandIndex, const BandGeometry& band) const
{
    const int top = roundToIntAwayFromZero (std::min (band.yFreqLo, band.yFreqHi));
    const int bottom = roundToIntAwayFromZero (std::max (band.yFreqLo, band.yFreqHi));
    const float alpha = (bandIndex == selectedBand ? 0.18f : 0.07f) * band.alphaFactor;
    return {top, std::max (bottom - top, 1), getBandColour (bandIndex).withAlpha (alpha)};
}

namespace
{
std::int64_t floorDivide (std::int64_t numerator, std::int64_t denominator) noexcept
{
    const auto quotient = numerator / denominator;
    return quotient * denominator > numerator ? quotient - 1 : quotient;
}

// The stripes over plot row y (component coordinates), in drawing order, as one blend per
// channel: c' = (c * keep + add) >> 8, rounded.
struct RowTint
{
    std::uint32_t keep = 256, red = 128, green = 128, blue = 128;

    juce::PixelRGB apply (juce::PixelRGB p) const noexcept
    {
        p.setARGB (255, (std::uint8_t) ((p.getRed() * keep + red) >> 8),
                   (std::uint8_t) ((p.getGreen() * keep + green) >> 8),
                   (std::uint8_t) ((p.getBlue() * keep + blue) >> 8));
        return p;
    }
};

template <typename Stripes>
RowTint tintOfRow (const Stripes& stripes, int y) noexcept
{
    float keep = 1.0f, red = 0.0f, green = 0.0f, blue = 0.0f;
    for (const auto& stripe : stripes)
    {
        if (y < stripe.top || y >= stripe.top + stripe.height)
            continue;
        const float a = stripe.colour.getFloatAlpha();
        keep *= 1.0f - a;
        red = red * (1.0f - a) + a * (float)stripe.colour.getRed();
        green = green * (1.0f - a) + a * (float)stripe.colour.getGreen();
        blue = blue * (1.0f - a) + a * (float)stripe.colour.getBlue();
    }
    const auto fixed = [] (float v) { return (std::uint32_t)std::lround (v * 256.0f); };
    return {fixed (keep), fixed (red) + 128, fixed (green) + 128, fixed (blue) + 128};
}

// Pixels [from, to) of one stretched row: pixel x (three bytes) is history column columnOf[x],
// tinted. Each pixel is written as four bytes, the fourth overwritten by the next pixel, the
// last as three, into a buffer that stays in the cache.
void stretchRow (std::uint8_t* __restrict row, const juce::PixelRGB* __restrict history,
                 const int* __restrict columnOf, int from, int to, const RowTint& tint) noexcept
{
    int tintedColumn = -1;
    std::uint32_t tinted = 0;
    for (int x = from; x < to; ++x)
    {
        if (columnOf[x] != tintedColumn)
        {
            tintedColumn = columnOf[x];
            const auto p = tint.apply (history[tintedColumn]);
            std::memcpy (&tinted, &p, sizeof (p));
        }
        std::memcpy (row + 3 * x, &tinted, x + 1 < to ? 4 : 3);
    }
}
} // namespace

// Each history column becomes a block of timeZoom pixels, rounded so that a column keeps its
// width while it scrolls: column a spans pixels floor(a * w / n) onwards of an endless strip,
// and the plot shows the strip's last w pixels (the oldest column may be cut at the left).
// On an unscaled screen the component draws that itself, the band stripes' tint laid over each
// row in the same pass, into an image that it keeps: when columns arrive it moves the image by
// their width and draws only the new pixels, then the image is copied to the screen
// untransformed. JUCE's general resampling path and a blended fill per stripe cost several
// times as much, and a display following audio draws this 30 times a second. At other scales
// JUCE resamples the newest columns. Returns whether the stripes are drawn.
bool SpectrogramComponent::drawHistory (juce::Graphics& g, const juce::Image& history,
                                        juce::Rectangle<int> plot,
                                        const std::array<Stripe, numBands>& stripes)
{
    const int w = history.getWidth() / 2;
    const int h = history.getHeight();
    const int n = clampValue (roundToIntAwayFromZero ((float)w / timeZoom), 1, w);

    const bool sameSize = w == plot.getWidth() && h == plot.getHeight();
    if (!sameSize || g.getInternalContext().getPhysicalPixelScaleFactor() != 1.0f)
    {
        g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);
        g.drawImage (history, plot.getX(), plot.getY(), plot.getWidth(), plot.getHeight(), historyEnd - n, 0,
                     n, h, false);
        return false;
    }

    // The strip pixel where column a starts, and the storage position of the column under
    // each plot pixel.
    const std::int64_t end = columnsPushed;
    const auto columnStart = [&] (std::int64_t a) { return floorDivide (a * w, n); };
    const std::int64_t firstPixel = columnStart (end) - w;
    sourceColumns.resize ((size_t)w);
    for (int x = 0; x < w; ++x)
    {
        const auto column = floorDivide ((firstPixel + x + 1) * n - 1, w);
        sourceColumns[(size_t)x] = juce::jlimit (0, 2 * w - 1, (int)(historyEnd - (end - column)));
    }

    // What the kept image shows; anything else but new columns means drawing it all again.
    StretchedKey key{&history == &afterImage, w, h, n, {}};
    for (size_t b = 0; b < stripes.size(); ++b)
        key.stripes[b] = {(std::uint32_t)stripes[b].top, (std::uint32_t)stripes[b].height,
                          stripes[b].colour.getARGB()};
    int drawFrom = 0;
    if (stretchedHistory.isValid() && stretchedHistory.getWidth() == w && stretchedHistory.getHeight() == h &&
        key == stretchedKey && end >= stretchedEnd && end - stretchedEnd < n)
    {
        const auto moved = (int)(columnStart (end) - columnStart (stretchedEnd));
        if (moved > 0)
            stretchedHistory.moveImageSection (0, 0, moved, 0, w - moved, h);
        drawFrom = w - moved;
    }
    if (!stretchedHistory.isValid() || stretchedHistory.getWidth() != w || stretchedHistory.getHeight() != h)
        stretchedHistory = juce::Image (juce::Image::RGB, w, h, false, juce::SoftwareImageType());
    stretchedKey = key;
    stretchedEnd = end;

    if (drawFrom < w)
    {
        const juce::Image::BitmapData source (history, juce::Image::BitmapData::readOnly);
        const juce::Image::BitmapData stretched (stretchedHistory, juce::Image::BitmapData::writeOnly);
        jassert (source.pixelStride == (int)sizeof (juce::PixelRGB) &&
                 stretched.pixelStride == source.pixelStride);
        rowBuffer.resize ((size_t)w * 3 + 1);
        for (int y = 0; y < h; ++y)
        {
            stretchRow (rowBuffer.data(), reinterpret_cast<const juce::PixelRGB*> (source.getLinePointer (y)),
                        sourceColumns.data(), drawFrom, w, tintOfRow (stripes, y + plot.getY()));
            std::memcpy (stretched.getLinePointer (y) + 3 * drawFrom, rowBuffer.data() + 3 * drawFrom,
                         (size_t)(w - drawFrom) * 3);
        }
    }
    g.drawImageAt (stretchedHistory, plot.getX(), plot.getY());
    return true;
}

//==============================================================================
void SpectrogramComponent::paint (juce::Graphics& g)
{
    const auto plot = getPlotBounds();
    const auto legend = getLegendBounds();
    const auto levelBox = getLevelBoxBounds();
    const auto white = juce::Colours::white;

    std::array<BandGeometry, numBands> bands;
    for (int b = 0; b < numBands; ++b)
        bands[(size_t)b] = getBandGeometry (b);

    // The newest columns of the shown history, stretched over the plot; the background
    // around it (under the plot it would only be painted over).
    const auto& history = showAfterGain != 0 ? afterImage : beforeImage;
    std::array<Stripe, numBands> stripes;
    for (int b = 0; b < numBands; ++b)
        stripes[(size_t)b] = getStripe (b, bands[(size_t)b]);
    bool stripesDrawn = false;
    if (history.isValid())
    {
        {
            const juce::Graphics::ScopedSaveState saved (g);
            g.excludeClipRegion (plot);
            g.fillAll (backgroundColour);
        }
        stripesDrawn = drawHistory (g, history, plot, stripes);
    }
    else
    {
        g.fillAll (backgroundColour);
        g.setColour (juce::Colours::black);
        g.fillRect (plot);
    }

    // Plot frame.
    g.setColour (white.withAlpha (0.22f));
    g.drawRect (plot, 1);

    // Frequency grid.
    g.setFont (smallFont);
    for (size_t i = 0; i < std::size (gridFrequencies); ++i)
    {
        const int y = roundToIntAwayFromZero (yForFrequency (gridFrequencies[i]));
        g.setColour (white.withAlpha (0.12f));
        g.drawHorizontalLine (y, (float)plot.getX(), (float)plot.getRight());
        g.setColour (white.withAlpha (0.65f));
        g.drawText (frequencyGridTexts[i], plot.getX() + 4, y, 38, 14, juce::Justification::left, false);
    }

    // Band stripes and their frequency lines.
    for (int b = 0; b < numBands; ++b)
    {
        const auto& band = bands[(size_t)b];
        const bool selected = b == selectedBand;
        const auto colour = getBandColour (b);
        if (!stripesDrawn)
        {
            const auto& stripe = stripes[(size_t)b];
            g.setColour (stripe.colour);
            g.fillRect (plot.getX(), stripe.top, plot.getWidth(), stripe.height);
        }

        const float thickness = selected ? 2.4f : 1.2f;
        g.setColour (colour.withAlpha ((selected ? 0.95f : 0.58f) * band.alphaFactor));
        g.drawLine ((float)plot.getX(), band.yFreqLo, (float)plot.getRight(), band.yFreqLo, thickness);
        g.drawLine ((float)plot.getX(), band.yFreqHi, (float)plot.getRight(), band.yFreqHi, thickness);
    }

    // The selected band's frequencies: the upper above its stripe, the lower below it.
    const auto& chosen = bands[(size_t)selectedBand];
    {
        const auto rows = getFrequencyLabelRows();
        g.setColour (white.withAlpha (0.85f));
        g.setFont (labelFont);
        g.drawText (upperFrequencyText.get (chosen.fHi, 0, hzSuffix), plot.getX() + 6, rows.upper, 120, 14,
                    juce::Justification::left, false);
        g.drawText (lowerFrequencyText.get (chosen.fLo, 0, hzSuffix), plot.getX() + 6, rows.lower, 120, 14,
                    juce::Justification::left, false);
        g.setColour (getBandColour (selectedBand).withAlpha (0.96f));
        g.drawText (bandTitles[(size_t)selectedBand], plot.getX() + 128, rows.upper, 72, 14,
                    juce::Justification::left, false);
    }

    // Legend colour scale.
    g.setGradientFill (legendGradient);
    g.fillRoundedRectangle (legend.toFloat(), 4.0f);
    g.setColour (white.withAlpha (0.45f));
    g.drawRoundedRectangle (legend.toFloat(), 4.0f, 1.0f);

    // Level box.
    g.setColour (levelBoxColour);
    g.fillRoundedRectangle (levelBox.toFloat(), 4.0f);
    g.setColour (white.withAlpha (0.22f));
    g.drawRoundedRectangle (levelBox.toFloat(), 4.0f, 1.0f);

    // Level scale.
    g.setFont (smallFont);
    for (size_t i = 0; i < std::size (scaleLevels); ++i)
    {
        const int y = roundToIntAwayFromZero (yForLevel (scaleLevels[i]));
        g.setColour (white.withAlpha (0.18f));
        g.drawHorizontalLine (y, (float)legend.getX(), (float)(legend.getX() + 30));
        g.setColour (white.withAlpha (0.68f));
        g.drawText (levelScaleTexts[i], legend.getX() - 38, y - 7, 34, 14, juce::Justification::right, false);
    }

    // Band level lines across the legend.
    for (int b = 0; b < numBands; ++b)
    {
        const auto& band = bands[(size_t)b];
        const bool selected = b == selectedBand;
        const float thickness = selected ? 2.2f : 1.2f;
        const float x0 = (float)legend.getX();
        const float x1 = (float)(legend.getX() + 30);
        g.setColour (getBandColour (b).withAlpha ((selected ? 0.95f : 0.58f) * band.alphaFactor));
        g.drawLine (x0, band.yLevelLo, x1, band.yLevelLo, thickness);
        g.drawLine (x0, band.yLevelHi, x1, band.yLevelHi, thickness);
    }

    // Band level bars in the level box.
    for (int b = 0; b < numBands; ++b)
    {
        const auto& band = bands[(size_t)b];
        const bool selected = b == selectedBand;
        const auto colour = getBandColour (b);
        const float top = std::roundf (std::min (band.yLevelLo, band.yLevelHi));
        const float bottom = std::roundf (std::max (band.yLevelLo, band.yLevelHi));
        const auto bar =
            juce::Rectangle<float> ((float)levelBox.getX() + 1.0f, top, 40.0f, std::max (bottom - top, 1.0f))
                .getIntersection (levelBox.toFloat());

        g.setColour (colour.withAlpha ((selected ? 0.42f : 0.24f) * band.alphaFactor));
        g.fillRect (bar);
        if (selected)
        {
            g.setColour (colour.withAlpha (0.82f * band.alphaFactor));
            g.drawRect (bar, 1.0f);
        }
    }

    // The selected band's level values next to its edges.
    const auto badges = getLevelBadgeBounds();
    drawValueBadge (g, badges.lower, lowerLevelText.get (chosen.lLo, 1, {}));
    drawValueBadge (g, badges.upper, upperLevelText.get (chosen.lHi, 1, {}));

    // Titles, in the badge font that drawValueBadge left set.
    const int titleY = std::max (plot.getY() - 16, 0);
    g.setColour (white.withAlpha (0.75f));
    g.drawText (freqTitle, plot.getX(), titleY, 70, 16, juce::Justification::left, false);
    g.drawText (levelTitle, legend.getX() - 4, titleY, 70, 16, juce::Justification::left, false);
    g.drawText (dbTitle, legend.getX() - 36, titleY, 34, 16, juce::Justification::right, false);
    g.setColour (white.withAlpha (0.85f));
    g.drawText (showAfterGain != 0 ? afterViewTitle : beforeViewTitle, plot.getRight() - 170, titleY, 170, 16,
                juce::Justification::right, false);
}

//==============================================================================
juce::String SpectrogramComponent::getDragParameterId (DragMode mode) const
{
    return dragParameterId (selectedBand, mode);
}

SpectrogramComponent::DragMode SpectrogramComponent::findDragTarget (juce::Point<float> position) const
{
    const float x = position.x;
    const float y = position.y;
    if (!std::isfinite (x) || !std::isfinite (y))
        return DragMode::none;

    const juce::Point<int> pi (truncateToInt (x), truncateToInt (y));
    const auto& values = bandValues[(size_t)selectedBand];

    // Frequency lines, each edge as stored (an inverted band keeps its parameter per line).
    if (getPlotBounds().contains (pi))
    {
        const float dLow = std::abs (y - yForFrequency (readValueOr (values.freqLow, minFrequencyHz)));
        const float dHigh = std::abs (y - yForFrequency (readValueOr (values.freqHigh, minFrequencyHz)));
        if (std::min (dHigh, dLow) <= frequencyLineReach)
            return dHigh <= dLow ? DragMode::freqHigh : DragMode::freqLow;
    }

    const auto badges = getLevelBadgeBounds();
    if (badges.lower.expanded (badgeMarginX, badgeMarginY).contains (pi))
        return DragMode::levelMin;
    if (badges.upper.expanded (badgeMarginX, badgeMarginY).contains (pi))
        return DragMode::levelMax;

    if (getLevelBoxBounds().expanded (levelBoxMarginX, levelBoxMarginY).contains (pi))
    {
        const int cLow = badges.lower.getY() + badges.lower.getHeight() / 2;
        const int cHigh = badges.upper.getY() + badges.upper.getHeight() / 2;
        if (std::abs (cLow - cHigh) < levelBoxCloseness)
            return (float)(cHigh + cLow) * 0.5f >= y ? DragMode::levelMax : DragMode::levelMin;

        const float dLow = std::abs (y - (float)cLow);
        const float dHigh = std::abs (y - (float)cHigh);
        if (std::min (dHigh, dLow) <= levelBoxReach)
            return dHigh <= dLow ? DragMode::levelMax : DragMode::levelMin;
    }

    const auto legend = getLegendBounds();
    if (!legend.expanded (legendMarginX, legendMarginY).contains (pi))
        return DragMode::none;

    const float yMin = yForLevel (readValue (values.levelMin));
    const float yMax = yForLevel (readValue (values.levelMax));
    if (std::abs (yMin - yMax) < legendCloseness)
        return (yMax + yMin) * 0.5f >= y ? DragMode::levelMax : DragMode::levelMin;

    const float cx = (float)(legend.getX() + legend.getWidth() / 2);
    const float eMin = std::hypot (cx - x, yMin - y);
    const float eMax = std::hypot (cx - x, yMax - y);
    if (std::min (eMax, eMin) <= legendPointReach)
        return eMax <= eMin ? DragMode::levelMax : DragMode::levelMin;

    const float dMin = std::abs (y - yMin);
    const float dMax = std::abs (y - yMax);
    if (std::min (dMax, dMin) <= legendLineReach)
        return dMax <= dMin ? DragMode::levelMax : DragMode::levelMin;

    return DragMode::none;
}

void SpectrogramComponent::mouseDown (const juce::MouseEvent& e)
{
    dragMode = findDragTarget (e.position);
    if (dragMode != DragMode::none)
    {
        if (gestureParameter != nullptr)
        {
            gestureParameter->endChangeGesture();
            gestureParameter = nullptr;
        }

        dragBand = selectedBand;
        const auto id = getDragParameterId (dragMode);
        if (id.isNotEmpty())
        {
            gestureParameter = processor.parameters.getParameter (id);
            if (gestureParameter != nullptr)
                gestureParameter->beginChangeGesture();
        }
    }

    // The edge jumps to the press position at once.
    applyDrag (e.position);
}

void SpectrogramComponent::mouseDrag (const juce::MouseEvent& e)
{
    applyDrag (e.position);
}

void SpectrogramComponent::mouseUp (const juce::MouseEvent&)
{
    endDrag();
}

void SpectrogramComponent::endDrag()
{
    if (gestureParameter != nullptr)
    {
        gestureParameter->endChangeGesture();
        gestureParameter = nullptr;
    }
    dragMode = DragMode::none;
}

void SpectrogramComponent::applyDrag (juce::Point<float> position)
{
    if (dragMode == DragMode::none)
        return;

    const float y = position.y;
    const auto plot = getPlotBounds().toFloat();
    const auto content = getContentBounds().toFloat();
    const bool isFrequency = dragMode == DragMode::freqLow || dragMode == DragMode::freqHigh;
    // Without vertical room there is no axis to read a value from.
    if (!std::isfinite (y) || (isFrequency ? plot.getHeight() : content.getHeight()) <= 0.0f)
        return;

    if (isFrequency)
    {
        const float t = clampValue ((plot.getBottom() - y) / plot.getHeight(), 0.0f, 1.0f);
        writeEdge (dragBand, dragMode, minFrequencyHz * std::pow (1000.0f, t));
        return;
    }

    // The level span is the legend's: the content's vertical extent.
    const float top = content.getY();
    const float height = content.getHeight();
    const float bottom = top + height;
    const float yc = dragMode == DragMode::levelMin
                         ? (y < top + levelDragMargin ? top + levelDragMargin : std::min (y, bottom))
                         : (y < top ? top : std::min (y, bottom - levelDragMargin));
    writeEdge (dragBand, dragMode,
               clampValue ((bottom - yc) / height, 0.0f, 1.0f) * (maxLevelDb - minLevelDb) + minLevelDb);
}

float SpectrogramComponent::limitToGap (int bandIndex, DragMode edge, float value) const
{
    // Each edge keeps its gap to the band's other edge of the same kind, whichever moves it.
    const auto& values = bandValues[(size_t)bandIndex];
    switch (edge)
    {
        case DragMode::freqLow:
            return std::min (readValue (values.freqHigh) - minFrequencyGapHz, value);
        case DragMode::freqHigh:
            return std::max (readValue (values.freqLow) + minFrequencyGapHz, value);
        case DragMode::levelMin:
            return std::min (readValue (values.levelMax) - minLevelGapDb, value);
        case DragMode::levelMax:
            return std::max (readValue (values.levelMin) + minLevelGapDb, value);
        case DragMode::none:
            break;
    }
    return value;
}

void SpectrogramComponent::writeEdge (int bandIndex, DragMode edge, float value)
{
    setParameterValue (dragParameterId (bandIndex, edge), limitToGap (bandIndex, edge, value));
    if (!isFrequencyEdge (edge))
        enforceLevelGap (bandIndex, edge);
}

void SpectrogramComponent::enforceLevelGap (int bandIndex, DragMode edge)
{
    // Runs on the stored values, after the parameter's range has rounded and limited them.
    const auto& values = bandValues[(size_t)bandIndex];
    const float levelMin = readValue (values.levelMin);
    const float levelMax = readValue (values.levelMax);
    if (levelMax - minLevelGapDb >= levelMin)
        return;

    if (edge == DragMode::levelMin)
        setParameterValue (dragParameterId (bandIndex, edge), levelMax - minLevelGapDb);
    else if (edge == DragMode::levelMax)
        setParameterValue (dragParameterId (bandIndex, edge), levelMin + minLevelGapDb);
}

float SpectrogramComponent::getEdgeValue (DragMode edge) const
{
    const auto& values = bandValues[(size_t)selectedBand];
    switch (edge)
    {
        case DragMode::freqLow:
            return readValue (values.freqLow);
        case DragMode::freqHigh:
            return readValue (values.freqHigh);
        case DragMode::levelMin:
            return readValue (values.levelMin);
        case DragMode::levelMax:
            return readValue (values.levelMax);
        case DragMode::none:
            break;
    }
    return 0.0f;
}

void SpectrogramComponent::setEdgeValue (DragMode edge, float value)
{
    // A drag holds its own gesture until the release.
    auto* parameter = processor.parameters.getParameter (getDragParameterId (edge));
    if (parameter == nullptr || dragMode != DragMode::none || !std::isfinite (value))
        return;

    // A step against the end of the range or the gap changes nothing, so it opens no gesture.
    const float limited = limitToGap (selectedBand, edge, value);
    if (parameter->convertFrom0to1 (parameter->convertTo0to1 (limited)) == getEdgeValue (edge))
        return;

    parameter->beginChangeGesture();
    writeEdge (selectedBand, edge, value);
    parameter->endChangeGesture();

    if (auto* handler = edgeElements[(size_t)edge - 1]->getAccessibilityHandler())
        handler->notifyAccessibilityEvent (juce::AccessibilityEvent::valueChanged);
    layoutEdgeElements();
    repaint();
}

bool SpectrogramComponent::keyPressed (const juce::KeyPress& key)
{
    const int band = key.getKeyCode() - '1';
    if (key.getModifiers().isAnyModifierKeyDown() || band < 0 || band >= numBands)
        return false;

    if (onBandKey)
        onBandKey (band);
    else
        setSelectedBand (band);
    return true;
}

void SpectrogramComponent::layoutEdgeElements()
{
    // Over the edge's own line (each as stored) or its level badge, where the outline shows it.
    const auto plot = getPlotBounds();
    const auto badges = getLevelBadgeBounds();
    for (auto& element : edgeElements)
    {
        const auto edge = static_cast<DragMode> (&element - edgeElements.data() + 1);
        if (isFrequencyEdge (edge))
        {
            const int y = juce::roundToInt (yForFrequency (getEdgeValue (edge)));
            element->setBounds (plot.getX(), y - 7, plot.getWidth(), 14);
        }
        else
        {
            element->setBounds ((edge == DragMode::levelMin ? badges.lower : badges.upper).expanded (2));
        }
    }
}

void SpectrogramComponent::setParameterValue (const juce::String& id, float value)
{
    auto* parameter = processor.parameters.getParameter (id);
    if (parameter == nullptr || !std::isfinite (value))
        return;

    const auto& range = parameter->getNormalisableRange();
    parameter->setValueNotifyingHost (range.convertTo0to1 (clampValue (value, range.start, range.end)));
}

} // namespace varnelle::editor
