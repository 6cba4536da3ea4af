#include "editor/HistoryStretcher.h"

#include <cmath>
#include <cstring>

namespace varnelle::editor
{

namespace
{
std::int64_t floorDivide (std::int64_t numerator, std::int64_t denominator) noexcept
{
    const auto quotient = numerator / denominator;
    return quotient * denominator > numerator ? quotient - 1 : quotient;
}

// The stripes over plot row y (display coordinates), in drawing order, as one blend per
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

RowTint tintOfRow (const std::array<BandStripe, numBands>& stripes, int y) noexcept
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

void HistoryStretcher::draw (juce::Graphics& g, const Source& source, juce::Rectangle<int> plot, int n,
                             const std::array<BandStripe, numBands>& stripes)
{
    const int w = source.history.getWidth() / 2;
    const int h = source.history.getHeight();

    // The strip pixel where column a starts, and the storage position of the column under
    // each plot pixel.
    const std::int64_t end = source.columnsPushed;
    const auto columnStart = [&] (std::int64_t a) { return floorDivide (a * w, n); };
    const std::int64_t firstPixel = columnStart (end) - w;
    sourceColumns.resize ((size_t)w);
    for (int x = 0; x < w; ++x)
    {
        const auto column = floorDivide ((firstPixel + x + 1) * n - 1, w);
        sourceColumns[(size_t)x] = juce::jlimit (0, 2 * w - 1, (int)(source.end - (end - column)));
    }

    const auto newKey = makeKey (source, n, stripes);
    const bool sized = picture.isValid() && picture.getWidth() == w && picture.getHeight() == h;
    int drawFrom = 0;
    if (const auto moved = pixelsMoved (newKey, end))
    {
        if (*moved > 0)
            picture.moveImageSection (0, 0, *moved, 0, w - *moved, h);
        drawFrom = w - *moved;
    }
    if (!sized)
        picture = juce::Image (juce::Image::RGB, w, h, false, juce::SoftwareImageType());
    key = newKey;
    pictureEnd = end;

    if (drawFrom < w)
        drawColumns (source, drawFrom, plot.getY(), stripes);
    g.drawImageAt (picture, plot.getX(), plot.getY());
}

HistoryStretcher::Key HistoryStretcher::makeKey (const Source& source, int n,
                                                 const std::array<BandStripe, numBands>& stripes)
{
    Key newKey{source.view, source.history.getWidth() / 2, source.history.getHeight(), n, {}};
    for (size_t b = 0; b < stripes.size(); ++b)
        newKey.stripes[b] = {(std::uint32_t)stripes[b].top, (std::uint32_t)stripes[b].height,
                             stripes[b].colour.getARGB()};
    return newKey;
}

std::optional<int> HistoryStretcher::pixelsMoved (const Key& newKey, std::int64_t end) const
{
    const bool sized =
        picture.isValid() && picture.getWidth() == newKey.width && picture.getHeight() == newKey.height;
    if (!sized || !(newKey == key) || end < pictureEnd || end - pictureEnd >= newKey.columns)
        return std::nullopt;
    const auto columnStart = [&] (std::int64_t a) { return floorDivide (a * newKey.width, newKey.columns); };
    return (int)(columnStart (end) - columnStart (pictureEnd));
}

std::optional<int> HistoryStretcher::pixelsToScroll (const Source& source, int shownColumns,
                                                     const std::array<BandStripe, numBands>& stripes) const
{
    return pixelsMoved (makeKey (source, shownColumns, stripes), source.columnsPushed);
}

void HistoryStretcher::drawColumns (const Source& source, int from, int plotY,
                                    const std::array<BandStripe, numBands>& stripes)
{
    const int w = picture.getWidth();
    const juce::Image::BitmapData history (source.history, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData stretched (picture, juce::Image::BitmapData::writeOnly);
    jassert (history.pixelStride == (int)sizeof (juce::PixelRGB) &&
             stretched.pixelStride == history.pixelStride);
    rowBuffer.resize ((size_t)w * 3 + 1);
    for (int y = 0; y < picture.getHeight(); ++y)
    {
        stretchRow (rowBuffer.data(), reinterpret_cast<const juce::PixelRGB*> (history.getLinePointer (y)),
                    sourceColumns.data(), from, w, tintOfRow (stripes, y + plotY));
        std::memcpy (stretched.getLinePointer (y) + 3 * from, rowBuffer.data() + 3 * from,
                     (size_t)(w - from) * 3);
    }
}

} // namespace varnelle::editor
