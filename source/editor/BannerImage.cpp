#include "BannerImage.h"

#include "EditorShared.h"

#include <BinaryData.h>

namespace varnelle::editor
{
namespace
{

constexpr auto bannerIdentifier = "A6132E95-8B23-44DA-AF8C-47069C5DC9BE";
constexpr auto bannerIdentifierStart = "A6132E95";
constexpr auto productName = "Varnelle";

/** Decodes one resource; an invalid image if it is missing or not an image. */
juce::Image tryResource (const ResourceSet& resources, const char* name)
{
    int size = 0;
    const char* data = resources.getNamedResource ? resources.getNamedResource (name, size) : nullptr;

    if (data == nullptr || size <= 0)
        return {};

    return juce::ImageFileFormat::loadFrom (data, (size_t)size);
}

/** The first resource, in list order, that `accept` takes and that decodes. */
template <typename Predicate>
juce::Image findFirst (const ResourceSet& resources, Predicate&& accept)
{
    for (const auto* name : resources.names)
    {
        if (name == nullptr)
            continue;

        const auto n = juce::String::fromUTF8 (name);

        if (accept (n))
            if (auto image = tryResource (resources, name); image.isValid())
                return image;
    }

    return {};
}

} // namespace

juce::String normaliseResourceName (const juce::String& name)
{
    const auto upper = name.toUpperCase();
    juce::String result;

    for (auto p = upper.getCharPointer(); !p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (juce::CharacterFunctions::isLetterOrDigit (c))
            result += c;
    }

    return result;
}

ResourceSet getEmbeddedResources()
{
    ResourceSet set;
    set.names.assign (BinaryData::namedResourceList,
                      BinaryData::namedResourceList + BinaryData::namedResourceListSize);
    set.getNamedResource = [] (const char* name, int& size)
    { return BinaryData::getNamedResource (name, size); };
    return set;
}

juce::Image loadBannerImage (const ResourceSet& resources)
{
    const auto key = normaliseResourceName (bannerIdentifier);

    // The banner by its identifier, or by a name that says what it is.
    if (auto image = findFirst (resources,
                                [&] (const juce::String& n)
                                {
                                    const auto normalised = normaliseResourceName (n);
                                    return normalised.contains (key) ||
                                           normalised.contains (bannerIdentifierStart) ||
                                           n.containsIgnoreCase ("brand") || n.containsIgnoreCase ("banner");
                                });
        image.isValid())
        return image;

    // A title-like PNG that is not an icon.
    if (auto image = findFirst (resources,
                                [] (const juce::String& n)
                                {
                                    const auto lower = n.toLowerCase();
                                    const bool isPng = lower.contains ("png"); // covers ".png" and "_png"
                                    const bool titleLike =
                                        lower.contains ("title") || lower.contains ("header") ||
                                        lower.contains ("logo") || lower.contains ("wordmark");
                                    return isPng && titleLike && !lower.contains ("icon");
                                });
        image.isValid())
        return image;

    // Any PNG.
    return findFirst (resources, [] (const juce::String& n) { return n.containsIgnoreCase ("png"); });
}

juce::Image loadBannerImage()
{
    return loadBannerImage (getEmbeddedResources());
}

juce::Rectangle<int> getBannerImageArea (juce::Rectangle<int> bannerBounds, int editorWidth)
{
    if (bannerBounds.isEmpty())
        return {14, 14, editorWidth / 2, 40};

    return {bannerBounds.getX() + 6, bannerBounds.getY() + 4, juce::jmax (0, bannerBounds.getWidth() - 12),
            juce::jmax (0, bannerBounds.getHeight() - 8)};
}

void drawBanner (juce::Graphics& g, const juce::Image& bannerImage, juce::Rectangle<int> bannerBounds,
                 int editorWidth)
{
    const auto area = getBannerImageArea (bannerBounds, editorWidth);
    const juce::Graphics::ScopedSaveState savedState (g);

    if (bannerImage.isValid())
    {
        g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
        // Uniformly scaled to the largest size that fits, against the left edge, centred vertically.
        constexpr int placement =
            juce::RectanglePlacement::xLeft | juce::RectanglePlacement::xMid | juce::RectanglePlacement::yMid;
        g.drawImageWithin (bannerImage, area.getX(), area.getY(), area.getWidth(), area.getHeight(),
                           juce::RectanglePlacement (placement), false);
        return;
    }

    g.setColour (juce::Colours::white.withAlpha (0.94f));
    g.setFont (makeFont (22.0f, true));
    g.drawText (productName, area, juce::Justification::centredLeft, false);
}

juce::Rectangle<float> getUpdateDotBounds (juce::Rectangle<int> bannerBounds)
{
    const auto x = (float)(bannerBounds.getX() + bannerBounds.getWidth() - 16);
    const auto y = (float)(bannerBounds.getY() + bannerBounds.getHeight() - 16);
    return {x, y, 10.0f, 10.0f};
}

void drawUpdateDot (juce::Graphics& g, juce::Rectangle<int> bannerBounds)
{
    if (bannerBounds.isEmpty())
        return;

    const auto dot = getUpdateDotBounds (bannerBounds);
    g.setColour (juce::Colour (0xffe53935));
    g.fillEllipse (dot);
    g.setColour (juce::Colours::white.withAlpha (0.55f));
    g.drawEllipse (dot, 1.0f);
}

} // namespace varnelle::editor
