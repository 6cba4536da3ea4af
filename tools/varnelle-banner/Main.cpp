// Draws the brand banner that the editor shows at the left of its top bar and writes it as a
// 5400 x 200 PNG. The editor draws it ten times smaller (540 x 20), so the artwork uses large,
// heavy shapes that survive that reduction: bold type, no hairlines, no fine detail.
//
// Usage: varnelle-banner <output.png> [--font-dir <folder with DejaVuSans*.ttf>]

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{

constexpr int bannerWidth = 5400;
constexpr int bannerHeight = 200;

// The editor's palette: window background, band colours and the accent.
const juce::Colour backgroundTop (0xff1a2236);
const juce::Colour accent (0xff4ea8ff);
const juce::uint32 bandColours[] = {0xff61b8ff, 0xff5fd67e, 0xffffc95a, 0xffff9550, 0xffdf79ff};

int fail (const juce::String& message)
{
    std::cerr << "varnelle-banner: " << message << "\n";
    return 1;
}

/** A typeface read straight from a font file, so that the banner never silently falls back to
    a missing font (JUCE then draws no text at all). */
juce::Typeface::Ptr loadTypeface (const juce::File& file)
{
    juce::MemoryBlock data;

    if (!file.loadFileAsData (data) || data.getSize() == 0)
        return nullptr;

    return juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());
}

/** Draws `text` with its left end at x and its baseline at `baseline`; returns the right end. */
float drawText (juce::Graphics& g, const juce::Font& font, const juce::String& text, float x, float baseline)
{
    juce::GlyphArrangement glyphs;
    glyphs.addLineOfText (font, text, x, baseline);
    glyphs.draw (g);
    return glyphs.getBoundingBox (0, -1, true).getRight();
}

/** Counts the pixels of `image` inside `area` whose alpha is above a small threshold. */
int countVisiblePixels (const juce::Image& image, juce::Rectangle<int> area)
{
    const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
    int count = 0;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            count += pixels.getPixelColour (x, y).getAlpha() > 32 ? 1 : 0;

    return count;
}

struct Fonts
{
    juce::Font name, maker;
};

void paintBanner (juce::Graphics& g, const Fonts& fonts)
{
    const auto w = (float)bannerWidth;
    const auto h = (float)bannerHeight;

    // A capsule that glows in the accent colour at the left and fades into the window's own
    // background towards the right.
    {
        juce::ColourGradient glow (accent.withAlpha (0.30f), 0.0f, 0.0f, backgroundTop.withAlpha (0.0f),
                                   w * 0.62f, 0.0f, false);
        glow.addColour (0.22, accent.withAlpha (0.14f));
        g.setGradientFill (glow);
        g.fillRoundedRectangle (0.0f, 0.0f, w, h, h * 0.5f);

        // A darker core keeps the type clear of the glow.
        juce::ColourGradient core (backgroundTop.withAlpha (0.55f), 0.0f, 0.0f,
                                   backgroundTop.withAlpha (0.0f), w * 0.45f, 0.0f, false);
        g.setGradientFill (core);
        g.fillRoundedRectangle (12.0f, 12.0f, w - 24.0f, h - 24.0f, (h - 24.0f) * 0.5f);
    }

    // The mark: five spectrum bars in the band colours, bottom-aligned.
    const float barWidth = 50.0f, barGap = 28.0f, barBottom = 172.0f;
    const float barHeights[] = {82.0f, 140.0f, 112.0f, 150.0f, 96.0f};
    float x = 110.0f;

    for (int i = 0; i < 5; ++i)
    {
        const juce::Colour c (bandColours[i]);
        const juce::Rectangle<float> bar (x, barBottom - barHeights[i], barWidth, barHeights[i]);
        g.setGradientFill (juce::ColourGradient (c.brighter (0.25f), 0.0f, bar.getY(), c.darker (0.35f), 0.0f,
                                                 bar.getBottom(), false));
        g.fillRoundedRectangle (bar, 14.0f);
        x += barWidth + barGap;
    }

    // The product name, white with a cool tint towards its end. Its letters have no
    // descenders, so the baseline sits low and the ascenders nearly fill the height.
    const float nameLeft = x + 60.0f;
    const float nameBaseline = 172.0f;
    g.setGradientFill (juce::ColourGradient (juce::Colours::white, nameLeft, 0.0f, juce::Colour (0xffa8d4ff),
                                             nameLeft + 1000.0f, 0.0f, false));
    const float nameRight = drawText (g, fonts.name, "Varnelle", nameLeft, nameBaseline);

    // A small accent dot between name and maker.
    const float dotSize = 30.0f;
    const float dotX = nameRight + 70.0f;
    g.setColour (accent);
    g.fillEllipse (dotX, nameBaseline - 62.0f - dotSize * 0.5f, dotSize, dotSize);

    // The maker, quieter.
    g.setColour (juce::Colours::white.withAlpha (0.70f));
    const float makerRight =
        drawText (g, fonts.maker, "Quorvane Audio", dotX + dotSize + 70.0f, nameBaseline);

    // An accent rule that runs from the maker's name towards the right end and fades out.
    const float ruleLeft = makerRight + 90.0f;
    g.setGradientFill (juce::ColourGradient (accent.withAlpha (0.75f), ruleLeft, 0.0f,
                                             accent.withAlpha (0.0f), ruleLeft + 1500.0f, 0.0f, false));
    g.fillRoundedRectangle (ruleLeft, nameBaseline - 77.0f, 1500.0f, 30.0f, 15.0f);
}

} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;

    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    juce::File fontDir ("/usr/share/fonts/truetype/dejavu");
    if (const int i = args.indexOf ("--font-dir"); i >= 0)
    {
        if (i + 1 >= args.size())
            return fail ("--font-dir needs a folder");
        fontDir = juce::File::getCurrentWorkingDirectory().getChildFile (args[i + 1]);
        args.removeRange (i, 2);
    }

    if (args.size() != 1)
        return fail ("usage: varnelle-banner <output.png> [--font-dir <folder>]");

    const auto output = juce::File::getCurrentWorkingDirectory().getChildFile (args[0]);
    const auto bold = loadTypeface (fontDir.getChildFile ("DejaVuSans-Bold.ttf"));
    const auto book = loadTypeface (fontDir.getChildFile ("DejaVuSans.ttf"));

    if (bold == nullptr || book == nullptr)
        return fail ("cannot load DejaVuSans.ttf and DejaVuSans-Bold.ttf from " + fontDir.getFullPathName());

    // Heights in JUCE's sense (ascent + descent): the name's ascenders reach about 150 px, the
    // maker's about 96 px - 15 and 10 px tall at the size the editor draws the banner.
    const Fonts fonts{juce::Font (bold).withHeight (228.0f), juce::Font (book).withHeight (146.0f)};

    juce::Image banner (juce::Image::ARGB, bannerWidth, bannerHeight, true);
    {
        juce::Graphics g (banner);
        paintBanner (g, fonts);
    }

    // Without a usable font JUCE draws nothing; make sure both lines of text really landed.
    juce::Image textOnly (juce::Image::ARGB, bannerWidth, bannerHeight, true);
    {
        juce::Graphics g (textOnly);
        g.setColour (juce::Colours::white);
        drawText (g, fonts.name, "Varnelle", 0.0f, 172.0f);
        drawText (g, fonts.maker, "Quorvane Audio", 1200.0f, 172.0f);
    }

    if (countVisiblePixels (textOnly, {0, 0, 1100, bannerHeight}) < 20000 ||
        countVisiblePixels (textOnly, {1200, 0, 1500, bannerHeight}) < 10000)
        return fail ("the fonts drew no text");

    juce::MemoryOutputStream png;
    juce::PNGImageFormat format;

    if (!format.writeImageToStream (banner, png))
        return fail ("cannot encode the PNG");

    if (!output.replaceWithData (png.getData(), png.getDataSize()))
        return fail ("cannot write " + output.getFullPathName());

    std::cout << "wrote " << output.getFullPathName() << " (" << bannerWidth << " x " << bannerHeight << ", "
              << png.getDataSize() << " bytes)\n";
    return 0;
}
