#include "editor/BannerClickTarget.h"
#include "editor/BannerImage.h"
#include "editor/EditorShared.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

using namespace varnelle::editor;
using juce::Rectangle;

namespace
{

// The editor's default layout puts the banner here in a 1140-wide window.
const Rectangle<int> defaultBannerBounds (6, 6, 586, 28);
constexpr int defaultEditorWidth = 1140;

/** A resource set made of PNG-encoded images (or raw bytes) held by name. */
struct FakeResources
{
    std::vector<std::string> order;
    std::map<std::string, juce::MemoryBlock> data;
    std::map<std::string, int> reportedSize; // overrides the size given back, e.g. negative

    void addImage (const std::string& name, int width)
    {
        juce::Image image (juce::Image::ARGB, width, 1, true);
        image.clear (image.getBounds(), juce::Colours::orange);
        juce::MemoryOutputStream out;
        juce::PNGImageFormat().writeImageToStream (image, out);
        add (name, out.getMemoryBlock());
    }

    void add (const std::string& name, juce::MemoryBlock bytes)
    {
        order.push_back (name);
        data[name] = std::move (bytes);
    }

    ResourceSet makeSet (bool withNullEntry = false)
    {
        ResourceSet set;
        if (withNullEntry)
            set.names.push_back (nullptr);
        for (const auto& n : order)
            set.names.push_back (n.c_str());
        set.getNamedResource = [this] (const char* name, int& size) -> const char*
        {
            const auto it = data.find (name);
            if (it == data.end())
            {
                size = 0;
                return nullptr;
            }
            const auto override = reportedSize.find (name);
            size = override != reportedSize.end() ? override->second : (int)it->second.getSize();
            return static_cast<const char*> (it->second.getData());
        };
        return set;
    }
};

/** The width of the image loadBannerImage picks (images differ only in width), or 0. */
int pickedWidth (FakeResources& resources, bool withNullEntry = false)
{
    const auto image = loadBannerImage (resources.makeSet (withNullEntry));
    return image.isValid() ? image.getWidth() : 0;
}

/** The smallest rectangle holding every pixel whose alpha exceeds `minAlpha`. */
Rectangle<int> opaqueBounds (const juce::Image& image, int minAlpha = 127)
{
    Rectangle<int> box;
    bool any = false;
    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (pixels.getPixelColour (x, y).getAlpha() > minAlpha)
            {
                const Rectangle<int> p (x, y, 1, 1);
                box = any ? box.getUnion (p) : p;
                any = true;
            }
    return box;
}

/** Paints the banner as the editor does into a transparent image of the top bar's size. */
juce::Image paintBanner (const juce::Image& banner, Rectangle<int> bannerBounds = defaultBannerBounds,
                         int editorWidth = defaultEditorWidth)
{
    juce::Image target (juce::Image::ARGB, editorWidth, 60, true);
    juce::Graphics g (target);
    drawBanner (g, banner, bannerBounds, editorWidth);
    return target;
}

juce::Image solidImage (int width, int height, juce::Colour colour)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    image.clear (image.getBounds(), colour);
    return image;
}

} // namespace

// --- Choosing the banner image --------------------------------------------------------------

TEST (BannerImage, TheEmbeddedBannerIsFoundAndDecodesAt5400By200)
{
    ASSERT_EQ (BinaryData::namedResourceListSize, 1);
    EXPECT_STREQ (BinaryData::namedResourceList[0], "_0A6132E958B2344DAAF8C47069C5DC9BE_png");

    const auto image = loadBannerImage();
    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getWidth(), 5400);
    EXPECT_EQ (image.getHeight(), 200);
    EXPECT_TRUE (image.hasAlphaChannel());

    // Not blank: the artwork has both transparent and opaque areas.
    const auto box = opaqueBounds (image, 200);
    EXPECT_FALSE (box.isEmpty());
    EXPECT_LT (box.getRight(), 5400);
}

TEST (BannerImage, NormalisingKeepsOnlyLettersAndDigitsInUpperCase)
{
    EXPECT_EQ (normaliseResourceName ("0A6132E95-8B23-44DA-AF8C-47069C5DC9BE.png"),
               "0A6132E958B2344DAAF8C47069C5DC9BEPNG");
    EXPECT_EQ (normaliseResourceName ("_0A6132E958B2344DAAF8C47069C5DC9BE_png"),
               "0A6132E958B2344DAAF8C47069C5DC9BEPNG");
    EXPECT_EQ (normaliseResourceName ("a6132e95-8b23-44da-af8c-47069c5dc9be"),
               "A6132E958B2344DAAF8C47069C5DC9BE");
    EXPECT_EQ (normaliseResourceName (" my_Logo (2).PNG\t"), "MYLOGO2PNG");
    EXPECT_EQ (normaliseResourceName ("-_.  "), "");
    EXPECT_EQ (normaliseResourceName (""), "");
}

TEST (BannerImage, TheBannerByNameWinsOverEarlierTitleLikeAndPlainImages)
{
    FakeResources r;
    r.addImage ("title_png", 2);
    r.addImage ("plain_png", 3);
    r.addImage ("_0A6132E958B2344DAAF8C47069C5DC9BE_png", 4);
    EXPECT_EQ (pickedWidth (r), 4);

    // Lower-case identifiers, the identifier's first group alone, "brand" and "banner" count too.
    for (const std::string name :
         {"a6132e958b2344daaf8c47069c5dc9be_png", "art_A6132E95_png", "MyBrand_jpg", "top_BANNER_png"})
    {
        FakeResources s;
        s.addImage ("logo_png", 2);
        s.addImage (name, 7);
        EXPECT_EQ (pickedWidth (s), 7) << name;
    }
}

TEST (BannerImage, ATitleLikePngIsPreferredToOtherPngsButIconsAreNot)
{
    FakeResources r;
    r.addImage ("plain_png", 2);
    r.addImage ("app_icon_logo_png", 3);
    r.addImage ("Wordmark_png", 5);
    EXPECT_EQ (pickedWidth (r), 5);

    for (const std::string word : {"title", "HEADER", "logo", "wordmark"})
    {
        FakeResources s;
        s.addImage ("plain.png", 2);
        s.addImage ("my_" + word + ".png", 9);
        EXPECT_EQ (pickedWidth (s), 9) << word;
    }
}

TEST (BannerImage, AnIconLogoIsOnlyTakenAsAnyPng)
{
    // Skipped as title-like, then the first PNG in list order wins.
    FakeResources onlyIcon;
    onlyIcon.addImage ("icon_logo_png", 6);
    EXPECT_EQ (pickedWidth (onlyIcon), 6);

    FakeResources r;
    r.addImage ("splash_png", 2);
    r.addImage ("icon_logo_png", 6);
    EXPECT_EQ (pickedWidth (r), 2);
}

TEST (BannerImage, UndecodableNullAndNegativeSizeResourcesAreSkipped)
{
    FakeResources r;
    const char junk[] = "not an image at all";
    r.add ("_0A6132E958B2344DAAF8C47069C5DC9BE_png", juce::MemoryBlock (junk, sizeof (junk)));
    r.addImage ("banner_png", 3);
    r.reportedSize["banner_png"] = -5;
    r.addImage ("other_png", 8);
    EXPECT_EQ (pickedWidth (r, true), 8);

    FakeResources none;
    none.add ("readme_txt", juce::MemoryBlock (junk, sizeof (junk)));
    EXPECT_EQ (pickedWidth (none), 0);

    FakeResources empty;
    EXPECT_EQ (pickedWidth (empty, true), 0);
}

TEST (BannerImage, NonPngNamesAreOnlyTriedWhenTheyNameTheBanner)
{
    FakeResources r;
    r.addImage ("picture_gif", 4); // decodes, but is neither named as the banner nor a PNG
    EXPECT_EQ (pickedWidth (r), 0);
}

// --- Painting ------------------------------------------------------------------------------

TEST (BannerPainting, TheImageAreaIsTheBannerBoundsReducedOrTheFixedFallback)
{
    EXPECT_EQ (getBannerImageArea (defaultBannerBounds, 1140), Rectangle<int> (12, 10, 574, 20));
    EXPECT_EQ (getBannerImageArea ({0, 0, 10, 6}, 1140), Rectangle<int> (6, 4, 0, 0));
    EXPECT_EQ (getBannerImageArea ({}, 1140), Rectangle<int> (14, 14, 570, 40));
    EXPECT_EQ (getBannerImageArea ({}, 1141), Rectangle<int> (14, 14, 570, 40));
    EXPECT_EQ (getBannerImageArea ({5, 5, 0, 28}, 901), Rectangle<int> (14, 14, 450, 40));
    EXPECT_EQ (getBannerImageArea ({5, 5, 100, 0}, 900), Rectangle<int> (14, 14, 450, 40));
}

TEST (BannerPainting, TheBannerIsDrawn540By20AtTheLeftOfTheDefaultStrip)
{
    const auto painted = paintBanner (solidImage (5400, 200, juce::Colours::red));
    EXPECT_EQ (opaqueBounds (painted), Rectangle<int> (12, 10, 540, 20));
    EXPECT_EQ (painted.getPixelAt (12, 10), juce::Colours::red);
    EXPECT_EQ (painted.getPixelAt (551, 29), juce::Colours::red);
    EXPECT_EQ (painted.getPixelAt (553, 20).getAlpha(), 0);

    // The real artwork lands inside the same rectangle.
    const auto art = paintBanner (loadBannerImage(), defaultBannerBounds);
    const auto box = opaqueBounds (art, 0);
    EXPECT_TRUE (Rectangle<int> (12, 10, 540, 20).contains (box)) << box.toString();
    EXPECT_GT (box.getWidth(), 300);
}

TEST (BannerPainting, PlacementIsLeftAlignedVerticallyCentredAndScalesUpOrDown)
{
    // Square image: the height limits it, and it sits at the left, not in the middle.
    EXPECT_EQ (opaqueBounds (paintBanner (solidImage (100, 100, juce::Colours::red))),
               Rectangle<int> (12, 10, 20, 20));

    // A small image is enlarged to fit.
    EXPECT_EQ (opaqueBounds (paintBanner (solidImage (54, 2, juce::Colours::red))),
               Rectangle<int> (12, 10, 540, 20));

    // A very wide image: the width limits it, and it is centred vertically.
    EXPECT_EQ (opaqueBounds (paintBanner (solidImage (5740, 100, juce::Colours::red))),
               Rectangle<int> (12, 15, 574, 10));

    // Before the first layout the fixed area is used: 570 x 40 at (14, 14).
    EXPECT_EQ (opaqueBounds (paintBanner (solidImage (100, 100, juce::Colours::red), {}, 1140)),
               Rectangle<int> (14, 14, 40, 40));
}

TEST (BannerPainting, WithoutAnImageTheProductNameIsDrawnBoldAtTheLeft)
{
    const auto painted = paintBanner ({});
    const auto box = opaqueBounds (painted, 60);
    ASSERT_FALSE (box.isEmpty()) << "no text was drawn: is a font installed?";

    const auto area = getBannerImageArea (defaultBannerBounds, defaultEditorWidth);
    EXPECT_TRUE (area.contains (box)) << box.toString();
    EXPECT_LE (box.getX(), area.getX() + 3);

    // As wide as "Varnelle" in the bold 22 font, vertically centred in the area.
    const auto expectedWidth = makeFont (22.0f, true).getStringWidthFloat ("Varnelle");
    EXPECT_NEAR (box.getWidth(), expectedWidth, 4.0f);
    EXPECT_GT (expectedWidth, makeFont (22.0f, false).getStringWidthFloat ("Varnelle"));
    EXPECT_NEAR (box.getCentreY(), area.getCentreY(), 3);

    // White at 0.94 alpha.
    int maxAlpha = 0, notWhite = 0;
    for (int y = box.getY(); y < box.getBottom(); ++y)
        for (int x = box.getX(); x < box.getRight(); ++x)
        {
            const auto c = painted.getPixelAt (x, y);
            maxAlpha = std::max (maxAlpha, (int)c.getAlpha());
            if (c.getAlpha() > 100 &&
                std::min ({c.getRed(), c.getGreen(), c.getBlue()}) < 250) // unpremultiplied
                ++notWhite;
        }
    EXPECT_NEAR (maxAlpha, 240, 2);
    EXPECT_EQ (notWhite, 0);
}

TEST (BannerPainting, TheFallbackNameUsesTheFixedAreaBeforeTheFirstLayout)
{
    const auto box = opaqueBounds (paintBanner ({}, {}, 1140), 60);
    ASSERT_FALSE (box.isEmpty());
    EXPECT_TRUE (Rectangle<int> (14, 14, 570, 40).contains (box)) << box.toString();
    EXPECT_NEAR (box.getCentreY(), 34, 3);
}

TEST (BannerPainting, TheUpdateDotIsARedDiscAtTheBannersBottomRight)
{
    EXPECT_EQ (getUpdateDotBounds (defaultBannerBounds), Rectangle<float> (576.0f, 18.0f, 10.0f, 10.0f));

    juce::Image painted (juce::Image::ARGB, 640, 60, true);
    {
        juce::Graphics g (painted);
        drawUpdateDot (g, defaultBannerBounds);
    }

    EXPECT_EQ (painted.getPixelAt (581, 23), juce::Colour (0xffe53935));
    EXPECT_EQ (painted.getPixelAt (579, 21), juce::Colour (0xffe53935));

    // The 1-pixel white outline at 0.55 lightens the rim.
    const auto rim = painted.getPixelAt (576, 23);
    EXPECT_GT (rim.getGreen(), 0x39 + 40);

    const auto box = opaqueBounds (painted, 0);
    EXPECT_TRUE (Rectangle<int> (575, 17, 12, 12).contains (box)) << box.toString();
    EXPECT_GE (box.getWidth(), 10);
}

TEST (BannerPainting, NoUpdateDotWhileTheBannerBoundsAreEmpty)
{
    for (const auto bounds : {Rectangle<int>(), Rectangle<int> (6, 6, 0, 28), Rectangle<int> (6, 6, 586, 0)})
    {
        juce::Image painted (juce::Image::ARGB, 640, 60, true);
        {
            juce::Graphics g (painted);
            drawUpdateDot (g, bounds);
        }
        EXPECT_TRUE (opaqueBounds (painted, 0).isEmpty()) << bounds.toString();
    }
}

// --- Click target --------------------------------------------------------------------------

namespace
{
juce::MouseEvent makeMouseEvent (juce::Component& target, juce::Point<float> position,
                                 juce::ModifierKeys mods)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position, mods, 1.0f, 0.0f,
                             0.0f, 0.0f, 0.0f, &target, &target, now, {5.0f, 5.0f}, now, 1, false);
}
} // namespace

TEST (BannerClickTarget, AClickOpensTheSupportPageWhateverTheButtonOrReleasePoint)
{
    std::vector<juce::String> opened;
    BannerClickTarget target ("http://127.0.0.1:1",
                              [&] (const juce::URL& page) { opened.push_back (page.toString (true)); });
    target.setBounds (defaultBannerBounds);

    target.mouseDown (makeMouseEvent (target, {5.0f, 5.0f}, juce::ModifierKeys::leftButtonModifier));
    EXPECT_TRUE (opened.empty()) << "the page opens on release, not on press";

    target.mouseUp (makeMouseEvent (target, {5.0f, 5.0f}, juce::ModifierKeys::leftButtonModifier));
    target.mouseUp (makeMouseEvent (target, {900.0f, -40.0f}, juce::ModifierKeys::leftButtonModifier));
    target.mouseUp (makeMouseEvent (target, {5.0f, 5.0f}, juce::ModifierKeys::rightButtonModifier));

    ASSERT_EQ (opened.size(), 3u);
    for (const auto& page : opened)
        EXPECT_EQ (page, "http://127.0.0.1:1/support/varnelle/");
}

TEST (BannerClickTarget, ReplacingOnClickReplacesTheDefaultAction)
{
    int opened = 0, clicked = 0;
    BannerClickTarget target ("http://127.0.0.1:1", [&] (const juce::URL&) { ++opened; });

    target.onClick = [&] { ++clicked; };
    target.mouseUp (makeMouseEvent (target, {1.0f, 1.0f}, {}));
    EXPECT_EQ (clicked, 1);
    EXPECT_EQ (opened, 0);

    target.onClick = nullptr;
    target.mouseUp (makeMouseEvent (target, {1.0f, 1.0f}, {}));
    EXPECT_EQ (opened, 0);
}

TEST (BannerClickTarget, IsATransparentClickableHandOverTheBannerThatPaintsNothing)
{
    BannerClickTarget target ("http://127.0.0.1:1", [] (const juce::URL&) {});
    target.setBounds (defaultBannerBounds);

    bool self = false, children = false;
    target.getInterceptsMouseClicks (self, children);
    EXPECT_TRUE (self);
    EXPECT_TRUE (children);
    EXPECT_FALSE (target.isOpaque());
    EXPECT_EQ (target.getMouseCursor(), juce::MouseCursor (juce::MouseCursor::PointingHandCursor));

    const auto snapshot = target.createComponentSnapshot (target.getLocalBounds());
    EXPECT_TRUE (opaqueBounds (snapshot, 0).isEmpty());
}

TEST (BannerClickTarget, TheDefaultPageIsOnTheBuiltInMakerSite)
{
    // Only inspected, never opened.
    const BannerClickTarget target;
    EXPECT_EQ (target.getSupportPage().toString (true), getMakerSiteUrl() + "/support/varnelle/");
    EXPECT_EQ (getSupportPageUrl ("https://example.invalid/").toString (true),
               "https://example.invalid/support/varnelle/");
}
