#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

// The brand banner at the left of the top bar: choosing the embedded image, painting it (or
// the product name) and the update dot. Message thread only.
namespace varnelle::editor
{

/** `name` in upper case with everything but letters and digits removed. */
juce::String normaliseResourceName (const juce::String& name);

/** A set of named resources shaped like JUCE's generated BinaryData module. */
struct ResourceSet
{
    std::vector<const char*> names; ///< in lookup order; null entries are skipped
    /** The bytes of a resource and their count, or nullptr. */
    std::function<const char*(const char* name, int& sizeInBytes)> getNamedResource;
};

/** The resources compiled into the plug-in. */
ResourceSet getEmbeddedResources();

/** The first image that decodes, looking for the banner by its identifier (or a name with
    "brand" or "banner") first, then a title-like PNG that is not an icon, then any PNG. An
    invalid image if none decodes. */
juce::Image loadBannerImage (const ResourceSet& resources);

/** loadBannerImage on the embedded resources. */
juce::Image loadBannerImage();

/** Where the banner image or name goes: `bannerBounds` reduced by 6 and 4, or the fixed area
    (14, 14, editorWidth / 2, 40) while `bannerBounds` is empty. */
juce::Rectangle<int> getBannerImageArea (juce::Rectangle<int> bannerBounds, int editorWidth);

/** Paints the banner image, scaled to fit and placed at the left of its area with high-quality
    resampling, or the product name in bold if `bannerImage` is invalid. */
void drawBanner (juce::Graphics& g, const juce::Image& bannerImage, juce::Rectangle<int> bannerBounds,
                 int editorWidth);

/** The update dot's ellipse near the bottom-right corner of `bannerBounds`. */
juce::Rectangle<float> getUpdateDotBounds (juce::Rectangle<int> bannerBounds);

/** Paints the update dot; nothing while `bannerBounds` is empty. Call it only when an update
    is available. */
void drawUpdateDot (juce::Graphics& g, juce::Rectangle<int> bannerBounds);

} // namespace varnelle::editor
