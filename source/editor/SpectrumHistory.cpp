#include "editor/SpectrumHistory.h"

#include "engine/StftConstants.h"

#include <cmath>
#include <cstring>

namespace varnelle::editor
{

namespace
{
const juce::Colour emptyHistoryColour (0xff0b1220);
}

void SpectrumHistory::setSize (int width, int height)
{
    if (width <= 0 || height <= 0)
        return;

    for (auto& history : images)
    {
        auto* image = &history;
        if (image->isValid() && image->getWidth() == 2 * width && image->getHeight() == height)
            continue;

        // Software pixels, so that pushing a column is a plain memory write on every platform.
        *image = juce::Image (juce::Image::RGB, 2 * width, height, true, juce::SoftwareImageType());
        image->clear (image->getBounds(), emptyHistoryColour);
        historyEnd = width;
        columnsPushed = 0;
        repeatedColumns = 0;
        stretcher.forget();
    }
}

juce::Image SpectrumHistory::getImage (HistoryView view) const
{
    const auto& image = images[(size_t)view];
    if (!image.isValid())
        return {};
    const int width = image.getWidth() / 2;
    return image.getClippedImage ({historyEnd - width, 0, width, image.getHeight()});
}

void SpectrumHistory::pushColumns (const float* before, const float* after, double sampleRate,
                                   const float* changeDb)
{
    if (!hasImages() || before == nullptr || after == nullptr)
        return;
    static const std::array<float, numDisplayBins> noChange{};
    const float* change = changeDb != nullptr ? changeDb : noChange.data();

    const int width = images[0].getWidth() / 2;
    if (historyEnd >= 2 * width)
    {
        for (auto& image : images)
            image.moveImageSection (0, 0, width, 0, width, image.getHeight());
        historyEnd = width;
    }
    writeColumn (images[(size_t)HistoryView::before], historyEnd, before, sampleRate, spectrumColour);
    writeColumn (images[(size_t)HistoryView::after], historyEnd, after, sampleRate, spectrumColour);
    writeColumn (images[(size_t)HistoryView::change], historyEnd, change, sampleRate, changeColour);
    ++historyEnd;
    ++columnsPushed;

    const auto bytes = sizeof (float) * (size_t)numDisplayBins;
    const bool alike = repeatedColumns > 0 && std::memcmp (before, newestBefore.data(), bytes) == 0 &&
                       std::memcmp (after, newestAfter.data(), bytes) == 0 &&
                       std::memcmp (change, newestChange.data(), bytes) == 0;
    repeatedColumns = alike ? repeatedColumns + 1 : 1;
    std::memcpy (newestBefore.data(), before, bytes);
    std::memcpy (newestAfter.data(), after, bytes);
    std::memcpy (newestChange.data(), change, bytes);
}

float SpectrumHistory::getNewestChangeAtRow (int row) const noexcept
{
    if (row < 0 || row >= (int)rowBins.size())
        return 0.0f;
    return newestChange[(size_t)rowBins[(size_t)row]];
}

int SpectrumHistory::shownColumns (float timeZoom) const noexcept
{
    const int w = images[0].getWidth() / 2;
    return clampValue (roundToIntAwayFromZero ((float)w / timeZoom), 1, std::max (w, 1));
}

bool SpectrumHistory::newestColumnChangedNothing (float timeZoom) const noexcept
{
    // The shown columns, the oldest possibly cut at the left, and the one scrolled out.
    return hasImages() && repeatedColumns >= (std::int64_t)shownColumns (timeZoom) + 2;
}

void SpectrumHistory::writeColumn (juce::Image& image, int x, const float* values, double sampleRate,
                                   juce::Colour (*colourOf) (float))
{
    const int height = image.getHeight();

    // The bin of each row, worked out again only when the height or the sample rate changes.
    const float rate = (float)std::max (sampleRate, 1.0);
    if ((int)rowBins.size() != height || rowBinsSampleRate != rate)
    {
        rowBins.resize ((size_t)height);
        rowBinsSampleRate = rate;
        const float rowDivisor = (float)std::max (height - 1, 1);
        for (int y = 0; y < height; ++y)
        {
            const float t = clampValue (1.0f - (float)y / rowDivisor, 0.0f, 1.0f);
            const float f = DisplayLayout::minFrequencyHz * std::pow (1000.0f, t);
            rowBins[(size_t)y] =
                clampValue (roundToIntAwayFromZero (f * (float)fftSize / rate), 0, numDisplayBins - 1);
        }
    }

    const juce::Image::BitmapData column (image, x, 0, 1, height, juce::Image::BitmapData::writeOnly);
    for (int y = 0; y < height; ++y)
        column.setPixelColour (0, y, colourOf (values[rowBins[(size_t)y]]));
}

bool SpectrumHistory::draw (juce::Graphics& g, juce::Rectangle<int> plot, HistoryView view, float timeZoom,
                            const std::array<BandStripe, numBands>& stripes)
{
    const auto& history = images[(size_t)view];
    if (!history.isValid())
        return false;

    const int w = history.getWidth() / 2;
    const int h = history.getHeight();
    const int n = shownColumns (timeZoom);

    const bool sameSize = w == plot.getWidth() && h == plot.getHeight();
    lastDrawStretched = sameSize && g.getInternalContext().getPhysicalPixelScaleFactor() == 1.0f;
    if (!lastDrawStretched)
    {
        g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);
        g.drawImage (history, plot.getX(), plot.getY(), plot.getWidth(), plot.getHeight(), historyEnd - n, 0,
                     n, h, false);
        return false;
    }

    stretcher.draw (g, {history, historyEnd, columnsPushed, (int)view}, plot, n, stripes);
    return true;
}

std::optional<int> SpectrumHistory::pixelsToScroll (juce::Rectangle<int> plot, HistoryView view,
                                                    float timeZoom,
                                                    const std::array<BandStripe, numBands>& stripes) const
{
    const auto& history = images[(size_t)view];
    if (!lastDrawStretched || !history.isValid() || history.getWidth() != 2 * plot.getWidth() ||
        history.getHeight() != plot.getHeight())
        return std::nullopt;
    return stretcher.pixelsToScroll ({history, historyEnd, columnsPushed, (int)view}, shownColumns (timeZoom),
                                     stripes);
}

} // namespace varnelle::editor
