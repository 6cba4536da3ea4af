#include "EditorBackground.h"

#include "editor/EditorShared.h"

namespace varnelle::editor
{
namespace
{
const juce::Colour bypassedOutlineColour (0xfff15b6b);
}

void EditorBackground::paint (juce::Graphics& g, int width, int height, const BandCards& cards)
{
    // The cache is skipped where it would cost more memory than it saves time (very large
    // windows at high display scales) and for scales that make no sense.
    constexpr double maxCachedPixels = 3840.0 * 2160.0;
    const float pixelScale = g.getInternalContext().getPhysicalPixelScaleFactor();
    const double cachedPixels = (double)width * height * pixelScale * pixelScale;

    if (width <= 0 || height <= 0 || !(pixelScale > 0.0f) || cachedPixels > maxCachedPixels)
    {
        paintDirectly (g, height, cards);
        return;
    }

    // Mapped exactly onto the window, whatever the rounding of its pixel size; at scale 1 the
    // mapping is the identity and the renderer copies the pixels straight.
    const auto& image = getCachedImage (width, height, pixelScale, cards);
    g.drawImageTransformed (image, juce::AffineTransform::scale ((float)width / (float)image.getWidth(),
                                                                 (float)height / (float)image.getHeight()));
}

const juce::Image& EditorBackground::getCachedImage (int width, int height, float pixelScale,
                                                     const BandCards& cards)
{
    const int imageWidth = juce::roundToInt ((float)width * pixelScale);
    const int imageHeight = juce::roundToInt ((float)height * pixelScale);
    const bool sizeChanged = !cachedImage.isValid() || cachedImage.getWidth() != imageWidth ||
                             cachedImage.getHeight() != imageHeight;

    if (sizeChanged || pixelScale != cachedScale || cards != cachedCards)
    {
        // Opaque, so that copying it is a plain pixel copy; drawn at the display's pixel scale
        // so that it stays as sharp as drawing directly.
        if (sizeChanged)
            cachedImage = juce::Image (juce::Image::RGB, imageWidth, imageHeight, false);

        juce::Graphics imageGraphics (cachedImage);
        imageGraphics.addTransform (juce::AffineTransform::scale (pixelScale));
        paintDirectly (imageGraphics, height, cards);
        cachedCards = cards;
        cachedScale = pixelScale;
    }

    return cachedImage;
}

void EditorBackground::paintDirectly (juce::Graphics& g, int height, const BandCards& cards)
{
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff1a2236), 0.0f, 0.0f, juce::Colour (0xff0b101c),
                                             0.0f, (float)height, false));
    g.fillAll();

    for (int band = 0; band < 5; ++band)
        paintCard (g, band, cards);
}

void EditorBackground::paintCard (juce::Graphics& g, int bandIndex, const BandCards& cards)
{
    const auto united = cards.controlAreas[(size_t)bandIndex];
    const juce::Rectangle<float> card ((float)(united.getX() - 5), (float)(united.getY() - 6),
                                       (float)juce::jmax (0, united.getWidth() + 10),
                                       (float)juce::jmax (0, juce::jmax (0, united.getHeight() + 12) - 3));
    const auto inner = card.reduced (1.0f);
    const auto colour = getBandColour (bandIndex);
    const bool selected = bandIndex == cards.selectedBand;
    const bool bypassed = cards.bypassed[(size_t)bandIndex];

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

} // namespace varnelle::editor
