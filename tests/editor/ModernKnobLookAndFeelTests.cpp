#include "editor/ModernKnobLookAndFeel.h"
#include "helpers/FakePeer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// The knob is rendered through a real juce::Slider set up like the editor's knobs, and
// pixels are checked against what the knob's published geometry and colours predict:
// sweep 1.22 pi .. 2.78 pi (0 = up, clockwise), knob square centred in the rotary area
// reduced by 5, arc radius R - 3.4, pointer reaching from the pivot to L - 1 with
// L = max (R - 14.5, 8), ticks starting at R - 0.6, glow radius 1.9 R.
namespace
{

using varnelle::editor::getKnobLookAndFeel;

constexpr float pi = juce::MathConstants<float>::pi;
constexpr float sweepStart = 1.22f * pi;
constexpr float sweepEnd = 2.78f * pi;

float angleFor (float sliderPos)
{
    return sweepStart + sliderPos * (sweepEnd - sweepStart);
}

//==============================================================================
// Colour arithmetic on premultiplied floats (0..255), to predict composited pixels.
struct Rgba
{
    float r = 0, g = 0, b = 0, a = 0;
};

Rgba premultiplied (juce::Colour c)
{
    const auto alpha = c.getFloatAlpha();
    return {c.getRed() * alpha, c.getGreen() * alpha, c.getBlue() * alpha, alpha * 255.0f};
}

Rgba lerp (Rgba p, Rgba q, float t)
{
    return {p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}

// Source-over of `src` onto `dst`.
Rgba over (Rgba src, Rgba dst)
{
    const auto keep = 1.0f - src.a / 255.0f;
    return {src.r + dst.r * keep, src.g + dst.g * keep, src.b + dst.b * keep, src.a + dst.a * keep};
}

// A gradient with stops (position, colour), interpolated in premultiplied space.
Rgba gradientAt (const std::vector<std::pair<float, juce::Colour>>& stops, float t)
{
    t = juce::jlimit (0.0f, 1.0f, t);
    for (size_t i = 1; i < stops.size(); ++i)
        if (t <= stops[i].first)
            return lerp (premultiplied (stops[i - 1].second), premultiplied (stops[i].second),
                         (t - stops[i - 1].first) / (stops[i].first - stops[i - 1].first));
    return premultiplied (stops.back().second);
}

// Position of p projected on the line p1 -> p2, 0 at p1 and 1 at p2.
float along (juce::Point<float> p, juce::Point<float> p1, juce::Point<float> p2)
{
    const auto d = p2 - p1;
    return ((p - p1).x * d.x + (p - p1).y * d.y) / (d.x * d.x + d.y * d.y);
}

::testing::AssertionResult colourNear (juce::Colour actual, Rgba expected, float tolerance)
{
    const auto a = premultiplied (actual);
    const auto worst = juce::jmax (std::abs (a.r - expected.r), std::abs (a.g - expected.g),
                                   std::abs (a.b - expected.b), std::abs (a.a - expected.a));
    if (worst <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel ARGB(premult) " << a.a << "," << a.r << "," << a.g << ","
                                         << a.b << " expected " << expected.a << "," << expected.r << ","
                                         << expected.g << "," << expected.b << " (off by " << worst << ")";
}

//==============================================================================
// The geometry the look-and-feel promises for a rotary area.
struct KnobGeometry
{
    explicit KnobGeometry (juce::Rectangle<int> area)
    {
        const auto w = juce::jmax (0.0f, (float)area.getWidth() - 10.0f);
        const auto h = juce::jmax (0.0f, (float)area.getHeight() - 10.0f);
        D = juce::jmin (w, h);
        R = D / 2.0f;
        left = (float)area.getX() + 5.0f + w / 2.0f - R;
        top = (float)area.getY() + 5.0f + h / 2.0f - R;
        cx = left + R;
        cy = top + R;
        arcR = R - 3.4f;
        capN = juce::jmax (0.16f * D, 7.0f);
        capR = juce::jmax (0.0f, D - 2.0f * capN) / 2.0f;
        pointerL = juce::jmax (R - 14.5f, 8.0f);
        pointerT = juce::jmax (0.045f * D, 3.0f);
        dotD = juce::jmax (0.12f * R, 3.6f);
    }

    juce::Point<float> at (float radius, float angle) const
    {
        return {cx + radius * std::sin (angle), cy - radius * std::cos (angle)};
    }

    // Opaque colours of the unscaled layers, evaluated where the renderer evaluates a
    // gradient: at the pixel's integer coordinates.
    Rgba body (juce::Point<int> px) const { return body (px.toFloat()); }
    Rgba body (juce::Point<float> p) const
    {
        return gradientAt ({{0.0f, juce::Colour (0xff2a3b57)},
                            {0.38f, juce::Colour (0xff1a2639)},
                            {1.0f, juce::Colour (0xff101a2b)}},
                           (p.y - top) / D);
    }

    Rgba cap (juce::Point<int> px) const { return cap (px.toFloat()); }
    Rgba cap (juce::Point<float> p) const
    {
        return gradientAt ({{0.0f, juce::Colour (0xff101a2a)},
                            {0.3f, juce::Colour (0xff172235)},
                            {1.0f, juce::Colour (0xff070b14)}},
                           (p.y - (top + capN)) / (2.0f * capR));
    }

    Rgba valueArc (juce::Point<int> px) const { return valueArc (px.toFloat()); }
    Rgba valueArc (juce::Point<float> p) const
    {
        return gradientAt ({{0.0f, juce::Colour (0xff4ea8ff)},
                            {0.6f, juce::Colour (0xff86d7ff)},
                            {1.0f, juce::Colour (0xff6ef1cf)}},
                           along (p, {left, top + D}, {left + D, top}));
    }

    // The pointer's colour at `radius` from the pivot, along its axis.
    Rgba pointer (float radius) const
    {
        return gradientAt ({{0.0f, juce::Colour (0xfffff1cd)}, {1.0f, juce::Colour (0xffffbf68)}},
                           (pointerL - radius) / pointerL);
    }

    Rgba glow (juce::Point<int> px, float centreAlpha) const { return glow (px.toFloat(), centreAlpha); }
    Rgba glow (juce::Point<float> p, float centreAlpha) const
    {
        const auto distance = p.getDistanceFrom ({cx, cy - 0.9f * R});
        return gradientAt ({{0.0f, juce::Colour (0xff59b4ff).withAlpha (centreAlpha)},
                            {1.0f, juce::Colour (0xff59b4ff).withAlpha (0.0f)}},
                           distance / (1.9f * R));
    }

    // The track's dark stroke (alpha 0.75 x alphaScale) over the body.
    Rgba trackOverBody (juce::Point<int> px, float alphaScale) const
    {
        return trackOverBody (px.toFloat(), alphaScale);
    }
    Rgba trackOverBody (juce::Point<float> p, float alphaScale) const
    {
        return over (premultiplied (juce::Colour (0xff0a1019).withAlpha (0.75f * alphaScale)), body (p));
    }

    float D, R, left, top, cx, cy, arcR, capN, capR, pointerL, pointerT, dotD;
};

juce::Point<int> pixelOf (juce::Point<float> p)
{
    return {(int)std::floor (p.x), (int)std::floor (p.y)};
}

//==============================================================================
// A knob set up like the editor's band knobs, drawn by the shared look-and-feel.
struct TestKnob
{
    explicit TestKnob (int width = 200, int height = 216)
    {
        slider.setLookAndFeel (&getKnobLookAndFeel());
        slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
        slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 54, 16);
        slider.setColour (juce::Slider::rotarySliderFillColourId, juce::Colour (0xff63b7ff));
        slider.setColour (juce::Slider::thumbColourId, juce::Colour (0xffffe5b1));
        slider.setRange (0.0, 1.0, 0.0);
        slider.setBounds (0, 0, width, height);
    }

    ~TestKnob() { slider.setLookAndFeel (nullptr); }

    juce::Rectangle<int> rotaryArea()
    {
        return slider.getLookAndFeel().getSliderLayout (slider).sliderBounds;
    }
    KnobGeometry geometry() { return KnobGeometry (rotaryArea()); }

    void setPosition (double pos) { slider.setValue (pos, juce::dontSendNotification); }
    void setBypassed (bool bypassed) { slider.getProperties().set ("bandBypassed", bypassed); }

    juce::Image render() { return slider.createComponentSnapshot (slider.getLocalBounds(), true, 1.0f); }

    juce::Slider slider;
};

juce::Colour pixel (const juce::Image& image, juce::Point<int> p)
{
    return image.getPixelAt (p.x, p.y);
}

// The four states that set alphaScale: normal, bypassed, disabled, disabled and bypassed.
struct DimState
{
    const char* name;
    bool enabled;
    bool bypassed;
    float alphaScale;
};

const DimState dimStates[] = {{"normal", true, false, 1.0f},
                              {"bypassed", true, true, 0.52f},
                              {"disabled", false, false, 0.45f},
                              {"disabled+bypassed", false, true, 0.234f}};

juce::Image renderInState (TestKnob& knob, const DimState& state)
{
    knob.slider.setEnabled (state.enabled);
    knob.setBypassed (state.bypassed);
    return knob.render();
}

//==============================================================================
using varnelle::test::FakePeer;

// A parent "window" on the desktop through the fake peer, with room beside the knob.
class MouseStage : public juce::Component
{
public:
    FakePeer& peer() { return *static_cast<FakePeer*> (getPeer()); }

private:
    juce::ComponentPeer* createNewPeer (int, void*) override { return new FakePeer (*this); }
};

struct HoverStage
{
    HoverStage()
    {
        stage.setBounds (0, 0, 400, 216);
        stage.addAndMakeVisible (knob.slider);
        stage.setVisible (true);
        stage.addToDesktop (0);
    }

    ~HoverStage()
    {
        // Leave the window so the mouse source forgets the slider; the stage owns the peer.
        peer().moveMouseTo ({-50.0f, -50.0f});
        stage.removeFromDesktop();
        stage.removeChildComponent (&knob.slider);
    }

    FakePeer& peer() { return stage.peer(); }

    MouseStage stage;
    TestKnob knob;
};

//==============================================================================
TEST (KnobLookAndFeelInstance, OneSharedInstanceForAllKnobs)
{
    auto& first = getKnobLookAndFeel();
    EXPECT_EQ (&first, &getKnobLookAndFeel());
    EXPECT_NE (dynamic_cast<juce::LookAndFeel_V4*> (&first), nullptr);

    // Two knobs share it; detaching one leaves the other attached.
    TestKnob a, b;
    EXPECT_EQ (&a.slider.getLookAndFeel(), &first);
    EXPECT_EQ (&b.slider.getLookAndFeel(), &first);
    a.slider.setLookAndFeel (nullptr);
    EXPECT_NE (&a.slider.getLookAndFeel(), &first);
    EXPECT_EQ (&b.slider.getLookAndFeel(), &first);
    a.slider.setLookAndFeel (&first);
}

//==============================================================================
TEST (KnobLookAndFeelGeometry, RotaryAreaIsTheSliderAboveItsTextBox)
{
    TestKnob knob;
    EXPECT_EQ (knob.rotaryArea(), juce::Rectangle<int> (0, 0, 200, 200));
    const auto k = knob.geometry();
    EXPECT_FLOAT_EQ (k.cx, 100.0f);
    EXPECT_FLOAT_EQ (k.cy, 100.0f);
    EXPECT_FLOAT_EQ (k.R, 95.0f);
}

TEST (KnobLookAndFeelGeometry, ValueArcCoversTheValueAngleAndNoMore)
{
    TestKnob knob;
    const auto k = knob.geometry();
    // Stay clear of the rounded end caps (half a stroke plus a pixel diagonal).
    const auto margin = 4.0f / k.arcR;

    for (const auto pos : {0.0f, 0.2f, 0.5f, 0.85f, 1.0f})
    {
        SCOPED_TRACE (testing::Message() << "sliderPos " << pos);
        knob.setPosition (pos);
        const auto image = knob.render();
        const auto valueAngle = angleFor (pos);

        int arcSamples = 0, trackSamples = 0;
        for (auto a = sweepStart + margin; a <= sweepEnd - margin; a += 0.02f)
        {
            const auto px = pixelOf (k.at (k.arcR, a));
            if (a < valueAngle - margin)
            {
                EXPECT_TRUE (colourNear (pixel (image, px), k.valueArc (px), 6.0f))
                    << "value arc at angle " << a;
                ++arcSamples;
            }
            else if (a > valueAngle + margin)
            {
                EXPECT_TRUE (colourNear (pixel (image, px), k.trackOverBody (px, 1.0f), 4.0f))
                    << "bare track at angle " << a;
                ++trackSamples;
            }
        }

        EXPECT_EQ (arcSamples > 0, pos > 0.05f);
        EXPECT_EQ (trackSamples > 0, pos < 0.95f);
    }
}

TEST (KnobLookAndFeelGeometry, PointerPointsAtTheValueAngle)
{
    TestKnob knob;
    const auto k = knob.geometry();
    // The pointer spans radii 0.34 L - 1 .. L - 1 from the pivot; stay inside its rounded ends.
    const auto innerEnd = 0.34f * k.pointerL - 1.0f, outerEnd = k.pointerL - 1.0f;
    ASSERT_GT (outerEnd - innerEnd, 30.0f);

    for (const auto pos : {0.0f, 0.3f, 0.5f, 0.8f, 1.0f})
    {
        SCOPED_TRACE (testing::Message() << "sliderPos " << pos);
        knob.setPosition (pos);
        const auto image = knob.render();
        const auto angle = angleFor (pos);

        for (auto r = innerEnd + 5.0f; r <= outerEnd - 5.0f; r += 4.0f)
        {
            const auto px = pixelOf (k.at (r, angle));
            EXPECT_TRUE (colourNear (pixel (image, px), k.pointer (r), 6.0f))
                << "on the pointer at radius " << r;
        }

        // Well to either side of the pointer the cap shows through.
        const auto side = 6.0f * k.pointerT / (0.6f * k.capR);
        for (const auto offset : {-side, side})
        {
            const auto px = pixelOf (k.at (0.6f * k.capR, angle + offset));
            EXPECT_TRUE (colourNear (pixel (image, px), k.cap (px), 4.0f)) << "beside the pointer";
        }
    }
}

TEST (KnobLookAndFeelGeometry, BodyCapAndPointerExtents)
{
    TestKnob knob;
    const auto k = knob.geometry();
    knob.setPosition (0.3);
    const auto image = knob.render();
    const auto pointerAngle = angleFor (0.3f);

    // Clear of the pointer: body between the cap's edge and the track's inner edge, cap
    // between the centre dot and its own edge, at heights spread over both gradients.
    for (auto a = 0.0f; a < 2.0f * pi; a += 0.3f)
    {
        if (std::abs (std::remainder (a - pointerAngle, 2.0f * pi)) < 0.5f)
            continue;
        SCOPED_TRACE (testing::Message() << "angle " << a);
        for (const auto r : {k.capR + 2.5f, 0.5f * (k.capR + k.arcR - 2.0f), k.arcR - 2.0f - 2.5f})
        {
            const auto px = pixelOf (k.at (r, a));
            EXPECT_TRUE (colourNear (pixel (image, px), k.body (px), 3.0f)) << "body at radius " << r;
        }
        for (const auto r : {k.dotD + 3.0f, 0.5f * (k.dotD + k.capR), k.capR - 2.5f})
        {
            const auto px = pixelOf (k.at (r, a));
            EXPECT_TRUE (colourNear (pixel (image, px), k.cap (px), 3.0f)) << "cap at radius " << r;
        }
    }

    // The pointer reaches from 0.34 L - 1 to L - 1; 3 px past either end its own colour
    // and its shadow are gone.
    const auto beyondTip = pixelOf (k.at (k.pointerL + 2.0f, pointerAngle));
    const auto beforeBase = pixelOf (k.at (0.34f * k.pointerL - 4.0f, pointerAngle));
    ASSERT_GT (k.pointerL + 2.0f, k.capR);
    EXPECT_TRUE (colourNear (pixel (image, beyondTip), k.body (beyondTip), 3.0f)) << "past the tip";
    EXPECT_TRUE (colourNear (pixel (image, beforeBase), k.cap (beforeBase), 3.0f)) << "before the base";
    const auto nearTip = pixelOf (k.at (k.pointerL - 3.0f, pointerAngle));
    EXPECT_TRUE (colourNear (pixel (image, nearTip), k.pointer (k.pointerL - 3.0f), 6.0f)) << "near the tip";
}

TEST (KnobLookAndFeelGeometry, SliderRotaryParametersDoNotChangeTheDrawing)
{
    TestKnob knob;
    knob.setPosition (0.3);
    const auto reference = knob.render();

    for (const auto& [from, to] : {std::pair (0.0f, pi), std::pair (0.25f * pi, 1.75f * pi)})
    {
        knob.slider.setRotaryParameters (from, to, true);
        const auto image = knob.render();
        int differing = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x)
                differing += image.getPixelAt (x, y) != reference.getPixelAt (x, y) ? 1 : 0;
        EXPECT_EQ (differing, 0) << "rotary parameters " << from << " .. " << to;
    }
}

TEST (KnobLookAndFeelGeometry, SmallKnobIsCentredInItsArea)
{
    // Rotary area 60 x 50: knob diameter 40, centre (30, 25), glow from x 6.5 to 53.5,
    // pointer tip 7 above the centre at mid position.
    TestKnob knob (60, 66);
    ASSERT_EQ (knob.rotaryArea(), juce::Rectangle<int> (0, 0, 60, 50));
    const auto k = knob.geometry();
    ASSERT_FLOAT_EQ (k.cx, 30.0f);
    ASSERT_FLOAT_EQ (k.cy, 25.0f);
    knob.setPosition (0.5);
    const auto image = knob.render();

    // Across the centre row: nothing, glow, value arc (left half, radius 16.6), bare track
    // (right half), glow, nothing; the body shows in the bottom gap of the track.
    EXPECT_EQ (image.getPixelAt (5, 25).getAlpha(), 0) << "left of the glow";
    EXPECT_EQ (image.getPixelAt (54, 25).getAlpha(), 0) << "right of the glow";
    EXPECT_TRUE (colourNear (image.getPixelAt (7, 25), k.glow (juce::Point<int> (7, 25), 0.12f), 2.0f))
        << "glow, left";
    EXPECT_TRUE (colourNear (image.getPixelAt (52, 25), k.glow (juce::Point<int> (52, 25), 0.12f), 2.0f))
        << "glow, right";
    EXPECT_TRUE (colourNear (image.getPixelAt (13, 25), k.valueArc (juce::Point<int> (13, 25)), 6.0f))
        << "value arc";
    EXPECT_TRUE (
        colourNear (image.getPixelAt (46, 25), k.trackOverBody (juce::Point<int> (46, 25), 1.0f), 4.0f))
        << "track";
    EXPECT_TRUE (colourNear (image.getPixelAt (30, 41), k.body (juce::Point<int> (30, 41)), 3.0f))
        << "body below the cap";

    // Pointer straight up: rows 20..21 (radius 4..5) are pointer, row 16 (radius 8..9) is cap.
    for (const int x : {29, 30})
    {
        EXPECT_TRUE (colourNear (image.getPixelAt (x, 20), k.pointer (4.5f), 8.0f)) << "pointer at x " << x;
        EXPECT_TRUE (colourNear (image.getPixelAt (x, 16), k.cap (juce::Point<int> (x, 16)), 4.0f))
            << "past the tip at x " << x;
    }

    // Here the pointer reaches into the centre dot (radius 3.6), which is drawn over it:
    // row 22 (radius 2 .. 3) shows the dot's top colour over the pointer. Gradients this short
    // are looked up in coarse tables, hence the wider tolerance.
    ASSERT_FLOAT_EQ (k.dotD, 3.6f);
    const auto dotTop = lerp (premultiplied (juce::Colour (0xffd8ecff).withAlpha (0.85f)),
                              premultiplied (juce::Colour (0xff7b95b8).withAlpha (0.8f)),
                              (22.0f - (k.cy - k.dotD)) / (2.0f * k.dotD));
    for (const int x : {29, 30})
        EXPECT_TRUE (colourNear (image.getPixelAt (x, 22), over (dotTop, k.pointer (3.0f)), 8.0f))
            << "dot over pointer at x " << x;
}

TEST (KnobLookAndFeelGeometry, DegenerateAreasDrawSafely)
{
    for (const auto& [w, h] : {std::pair (0, 0), std::pair (10, 26), std::pair (14, 40), std::pair (300, 20)})
    {
        TestKnob knob (w, h);
        knob.setPosition (0.7);
        const auto image = knob.render();
        EXPECT_EQ (image.isValid(), w > 0 && h > 0);
    }
}

//==============================================================================
TEST (KnobLookAndFeelDimming, ShadowFadesByAlphaScale)
{
    // Below the body (y > cy + R + 0.55) only the shadow, offset 1.8 down, is drawn: the glow
    // has faded to nothing at 1.9 R from its centre.
    TestKnob knob;
    const auto k = knob.geometry();
    const auto firstRow = (int)std::ceil (k.cy + k.R + 0.55f);

    auto shadowAlpha = [&] (const juce::Image& image)
    {
        double sum = 0;
        for (int y = firstRow; y < 200; ++y)
            for (int x = 0; x < 200; ++x)
                sum += image.getPixelAt (x, y).getAlpha();
        return sum;
    };

    const auto normal = shadowAlpha (renderInState (knob, dimStates[0]));
    // The part of the shadow disc below that row is a segment 0.8 px deep, about
    // 13 px^2, at alpha 0.25.
    EXPECT_GT (normal, 0.25 * 255.0 * 10.0);

    for (const auto& state : dimStates)
    {
        const auto ratio = shadowAlpha (renderInState (knob, state)) / normal;
        EXPECT_NEAR (ratio, state.alphaScale, 0.015) << state.name;
    }
}

TEST (KnobLookAndFeelDimming, TrackAndCentreDotFadeByAlphaScale)
{
    TestKnob knob;
    const auto k = knob.geometry();
    knob.setPosition (0.2);

    // The centre dot's middle row: halfway through its gradient, over the cap.
    const juce::Point<int> centre = pixelOf ({k.cx, k.cy});
    ASSERT_FLOAT_EQ ((float)centre.y, k.cy);

    for (const auto& state : dimStates)
    {
        SCOPED_TRACE (state.name);
        const auto image = renderInState (knob, state);
        const auto s = state.alphaScale;

        for (const auto pos : {0.5f, 0.7f, 0.9f})
        {
            const auto px = pixelOf (k.at (k.arcR, angleFor (pos)));
            EXPECT_TRUE (colourNear (pixel (image, px), k.trackOverBody (px, s), 3.0f)) << "track at " << pos;
        }

        const auto dot = lerp (premultiplied (juce::Colour (0xffd8ecff).withAlpha (0.85f * s)),
                               premultiplied (juce::Colour (0xff7b95b8).withAlpha (0.8f * s)), 0.5f);
        EXPECT_TRUE (colourNear (pixel (image, centre), over (dot, k.cap (centre)), 4.0f)) << "centre dot";
    }
}

//==============================================================================
// Thin strokes need sub-pixel checks: a strip of the knob is rendered 16x and single device
// pixels are sampled a quarter of a logical pixel inside or outside each edge.
struct MagnifiedStrip
{
    static constexpr float scale = 16.0f;

    MagnifiedStrip (TestKnob& knob, juce::Rectangle<int> logicalArea)
        : origin (logicalArea.getPosition().toFloat()),
          image (knob.slider.createComponentSnapshot (logicalArea, true, scale))
    {
    }

    // The device pixel whose centre is nearest the logical point.
    juce::Point<int> pixelNear (juce::Point<float> p) const
    {
        const auto d = (p - origin) * scale;
        return {juce::roundToInt (d.x - 0.5f), juce::roundToInt (d.y - 0.5f)};
    }

    // Where the renderer evaluates gradients for that pixel: its top-left corner.
    juce::Point<float> gradientPoint (juce::Point<float> p) const
    {
        return origin + pixelNear (p).toFloat() / scale;
    }

    juce::Colour at (juce::Point<float> p) const { return pixel (image, pixelNear (p)); }

    juce::Point<float> origin;
    juce::Image image;
};

TEST (KnobLookAndFeelCrossSection, CentreRowLayersAtEveryAlphaScale)
{
    // Mid position: the value arc covers 9 o'clock, 3 o'clock shows the bare track; no pointer
    // or tick crosses the centre row. From outside in: glow (to R + 3.5), rim (1.1 thick at R),
    // body, arc (value 4.4 thick, track 4.0, at R - 3.4), body, cap rim (0.9 thick at the cap's
    // edge), cap, centre dot rim (0.8 thick), centre dot.
    TestKnob knob;
    const auto k = knob.geometry();
    knob.setPosition (0.5);
    const auto rimW = 0.55f, capRimW = 0.45f, dotRimW = 0.4f, m = 0.25f;

    for (const auto& state : dimStates)
    {
        SCOPED_TRACE (state.name);
        knob.slider.setEnabled (state.enabled);
        knob.setBypassed (state.bypassed);
        const MagnifiedStrip strip (knob, {0, (int)k.cy - 1, 200, 2});
        const auto s = state.alphaScale;

        const auto rim = premultiplied (juce::Colour (0xffd7ecff).withAlpha (0.14f * s));
        const auto capRim = premultiplied (juce::Colours::white.withAlpha (0.08f * s));
        const auto dotRim = premultiplied (juce::Colours::black.withAlpha (0.25f * s));
        const auto dot = lerp (premultiplied (juce::Colour (0xffd8ecff).withAlpha (0.85f * s)),
                               premultiplied (juce::Colour (0xff7b95b8).withAlpha (0.8f * s)), 0.5f);

        for (const auto side : {-1.0f, 1.0f})
        {
            const auto valueSide = side < 0;
            struct Sample
            {
                float radius;
                std::function<Rgba (juce::Point<float>)> expected;
                const char* what;
            };
            const auto B = [&] (juce::Point<float> g) { return k.body (g); };
            const auto C = [&] (juce::Point<float> g) { return k.cap (g); };
            const auto G = [&] (juce::Point<float> g) { return k.glow (g, 0.12f); };
            const auto arcHalf = valueSide ? 2.2f : 2.0f;
            const auto arc = [&] (juce::Point<float> g)
            { return valueSide ? k.valueArc (g) : k.trackOverBody (g, s); };
            const auto betweenEdges = [&] (juce::Point<float> g)
            { return valueSide ? k.valueArc (g) : k.body (g); };

            const std::vector<Sample> samples = {
                {k.R + 3.5f + m, [] (juce::Point<float>) { return Rgba{}; }, "outside the glow"},
                {k.R + 3.5f - m, G, "glow"},
                {k.R + rimW + m, G, "glow outside the rim"},
                {k.R + m, [&] (juce::Point<float> g) { return over (rim, G (g)); }, "rim over glow"},
                {k.R - m, [&] (juce::Point<float> g) { return over (rim, B (g)); }, "rim over body"},
                {k.R - rimW - m, B, "body inside the rim"},
                {k.arcR + arcHalf + m, B, "body outside the arc"},
                {k.arcR + arcHalf - m, arc, "outer edge of the arc"},
                {k.arcR, arc, "middle of the arc"},
                {k.arcR - arcHalf + m, arc, "inner edge of the arc"},
                {k.arcR - arcHalf - m, B, "body inside the arc"},
                // Between the track's edge (2.0 from the middle) and the value arc's (2.2).
                {k.arcR + 2.1f, betweenEdges, "just outside the track, outer"},
                {k.arcR - 2.1f, betweenEdges, "just outside the track, inner"},
                {k.capR + capRimW + m, B, "body outside the cap rim"},
                {k.capR + m, [&] (juce::Point<float> g) { return over (capRim, B (g)); },
                 "cap rim over body"},
                {k.capR - m, [&] (juce::Point<float> g) { return over (capRim, C (g)); }, "cap rim over cap"},
                {k.capR - capRimW - m, C, "cap inside its rim"},
                {k.dotD + dotRimW + m, C, "cap outside the dot rim"},
                {k.dotD + m, [&] (juce::Point<float> g) { return over (dotRim, C (g)); }, "dot rim over cap"},
                {k.dotD - m, [&] (juce::Point<float> g) { return over (dotRim, over (dot, C (g))); },
                 "dot rim over dot"},
                {k.dotD - dotRimW - m, [&] (juce::Point<float> g) { return over (dot, C (g)); },
                 "centre dot"},
            };

            for (const auto& sample : samples)
            {
                const juce::Point<float> p (k.cx + side * sample.radius, k.cy + 0.03f);
                EXPECT_TRUE (colourNear (strip.at (p), sample.expected (strip.gradientPoint (p)), 3.0f))
                    << sample.what << (valueSide ? " (value side)" : " (track side)");
            }
        }
    }
}

TEST (KnobLookAndFeelCrossSection, PointerWidthAndShadowAtEveryAlphaScale)
{
    // Pointer straight up: T wide about x = cx, from cy - (L - 1) down to cy - (0.34 L - 1);
    // its shadow is the same shape moved by (0.6, 0.9).
    TestKnob knob;
    const auto k = knob.geometry();
    knob.setPosition (0.5);
    const auto halfT = k.pointerT / 2.0f, m = 0.25f;
    const auto baseY = k.cy - (0.34f * k.pointerL - 1.0f);
    const auto midY = k.cy - 50.0f;
    ASSERT_LT (k.cy - (k.pointerL - 1.0f) + 5.0f, midY);
    ASSERT_GT (baseY - 5.0f, midY);

    for (const auto& state : dimStates)
    {
        SCOPED_TRACE (state.name);
        knob.slider.setEnabled (state.enabled);
        knob.setBypassed (state.bypassed);
        const auto s = state.alphaScale;
        const auto shadow = premultiplied (juce::Colours::black.withAlpha (0.35f * s));
        const auto capWithShadow = [&] (juce::Point<float> g) { return over (shadow, k.cap (g)); };

        // Across the pointer's middle (radius 50 from the pivot).
        {
            const MagnifiedStrip strip (knob, {(int)k.cx - 8, (int)midY - 1, 16, 2});
            auto expect = [&] (float x, std::function<Rgba (juce::Point<float>)> expected, float tolerance,
                               const char* what)
            {
                const juce::Point<float> p (x, midY + 0.03f);
                EXPECT_TRUE (colourNear (strip.at (p), expected (strip.gradientPoint (p)), tolerance))
                    << what;
            };
            expect (
                k.cx - halfT - m, [&] (juce::Point<float> g) { return k.cap (g); }, 2.0f,
                "left of the pointer");
            expect (
                k.cx - halfT + m, [&] (juce::Point<float>) { return k.pointer (50.0f); }, 4.0f, "left edge");
            expect (
                k.cx + halfT - m, [&] (juce::Point<float>) { return k.pointer (50.0f); }, 4.0f, "right edge");
            expect (k.cx + halfT + m, capWithShadow, 2.0f, "shadow right of the pointer");
            expect (
                k.cx + halfT + 0.6f + m, [&] (juce::Point<float> g) { return k.cap (g); }, 2.0f,
                "right of the shadow");
        }

        // Below the base, between the rounded corners of pointer and shadow.
        {
            const MagnifiedStrip strip (knob, {(int)k.cx - 2, (int)baseY - 1, 4, 3});
            auto expect = [&] (float y, std::function<Rgba (juce::Point<float>)> expected, float tolerance,
                               const char* what)
            {
                const juce::Point<float> p (k.cx + 0.3f, y);
                EXPECT_TRUE (colourNear (strip.at (p), expected (strip.gradientPoint (p)), tolerance))
                    << what;
            };
            expect (
                baseY - m, [&] (juce::Point<float>) { return k.pointer (k.cy - (baseY - m)); }, 4.0f,
                "pointer at its base");
            expect (baseY + m, capWithShadow, 2.0f, "shadow below the base");
            expect (
                baseY + 0.9f + m, [&] (juce::Point<float> g) { return k.cap (g); }, 2.0f, "below the shadow");
        }
    }
}

TEST (KnobLookAndFeelDimming, ValueTickFadesByAlphaScale)
{
    // At 9 o'clock the value tick (0xffbdf2ff, 1.35 thick, radius R - 0.6 .. R + 3.2) runs
    // along the centre row. Past the shadow's and the rim's edges it lies over the glow
    // alone and covers 0.675 of each of the two rows it straddles.
    TestKnob knob;
    const auto k = knob.geometry();
    knob.setPosition ((1.5f * pi - sweepStart) / (sweepEnd - sweepStart));
    ASSERT_FLOAT_EQ (k.cy, std::floor (k.cy));
    const auto row = (int)k.cy;

    for (const auto& state : dimStates)
    {
        SCOPED_TRACE (state.name);
        const auto image = renderInState (knob, state);
        for (const auto r : {k.R + 1.5f, k.R + 2.5f})
            for (const auto y : {row - 1, row})
            {
                const juce::Point<int> px ((int)std::floor (k.cx - r), y);
                const auto tick =
                    premultiplied (juce::Colour (0xffbdf2ff).withAlpha (0.675f * state.alphaScale));
                EXPECT_TRUE (colourNear (pixel (image, px), over (tick, k.glow (px, 0.12f)), 4.0f))
                    << "radius " << r << " row " << y;
            }
    }
}

TEST (KnobLookAndFeelDimming, EndTicksFadeByAlphaScale)
{
    // The start and end ticks (white, alpha 0.18, radius R - 0.6 .. R + 2.6) lie partly over
    // the black shadow, which adds nothing to the premultiplied red channel. Past the rim's
    // edge the red there is the ticks' alone: the glow has faded below one 8-bit step.
    TestKnob knob;
    const auto k = knob.geometry();
    knob.setPosition (0.5);

    auto tickRed = [&] (const juce::Image& image)
    {
        double sum = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 200; ++x)
            {
                const juce::Point<float> centre ((float)x + 0.5f, (float)y + 0.5f);
                const auto r = centre.getDistanceFrom ({k.cx, k.cy});
                const auto a = std::atan2 (centre.x - k.cx, k.cy - centre.y) + 2.0f * pi;
                const auto nearTick = std::abs (a - sweepStart) < 0.05f || std::abs (a - sweepEnd) < 0.05f;
                if (nearTick && r > k.R + 0.55f + 0.75f && r < k.R + 3.5f - 0.75f)
                    sum += premultiplied (image.getPixelAt (x, y)).r;
            }
        return sum;
    };

    const auto normal = tickRed (renderInState (knob, dimStates[0]));
    // Two ticks, each about 1.3 x 1 px in the region, at 0.18 x 255.
    EXPECT_GT (normal, 0.18 * 255.0 * 2.0);

    for (const auto& state : dimStates)
    {
        const auto ratio = tickRed (renderInState (knob, state)) / normal;
        EXPECT_NEAR (ratio, state.alphaScale, 0.03) << state.name;
    }
}

TEST (KnobLookAndFeelDimming, GlowBodyValueArcCapAndPointerKeepTheirColours)
{
    TestKnob knob;
    const auto k = knob.geometry();
    knob.setPosition (0.75);
    const auto pointerAngle = angleFor (0.75f);

    // Glow above the body's top edge (outside the rim stroke), body between cap and track at
    // the bottom gap, cap opposite the pointer, value arc at 9 o'clock, pointer mid-way.
    const auto glowPx = pixelOf ({k.cx + 10.5f, k.top - 1.5f});
    const auto bodyPx = pixelOf (k.at (0.5f * (k.capR + k.arcR), pi));
    const auto capPx = pixelOf (k.at (0.5f * k.capR, pointerAngle + pi));
    const auto arcPx = pixelOf (k.at (k.arcR, 1.5f * pi));
    const auto pointerRadius = 0.67f * k.pointerL;
    const auto pointerPx = pixelOf (k.at (pointerRadius, pointerAngle));

    for (const auto& state : dimStates)
    {
        SCOPED_TRACE (state.name);
        const auto image = renderInState (knob, state);
        EXPECT_TRUE (colourNear (pixel (image, glowPx), k.glow (glowPx, 0.12f), 2.0f)) << "glow";
        EXPECT_TRUE (colourNear (pixel (image, bodyPx), k.body (bodyPx), 3.0f)) << "body";
        EXPECT_TRUE (colourNear (pixel (image, capPx), k.cap (capPx), 3.0f)) << "cap";
        EXPECT_TRUE (colourNear (pixel (image, arcPx), k.valueArc (arcPx), 6.0f)) << "value arc";
        EXPECT_TRUE (colourNear (pixel (image, pointerPx), k.pointer (pointerRadius), 6.0f)) << "pointer";
    }
}

TEST (KnobLookAndFeelDimming, MissingOrFalsePropertyMeansNotBypassed)
{
    TestKnob knob;
    knob.setPosition (0.4);
    const auto absent = knob.render();
    knob.setBypassed (false);
    const auto isFalse = knob.render();
    knob.setBypassed (true);
    const auto isTrue = knob.render();

    int sameAsFalse = 0, sameAsTrue = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
        {
            sameAsFalse += absent.getPixelAt (x, y) == isFalse.getPixelAt (x, y) ? 1 : 0;
            sameAsTrue += absent.getPixelAt (x, y) == isTrue.getPixelAt (x, y) ? 1 : 0;
        }
    EXPECT_EQ (sameAsFalse, 200 * 200);
    EXPECT_LT (sameAsTrue, 200 * 200);
}

//==============================================================================
TEST (KnobLookAndFeelHover, HoverBrightensGlowThickensArcAndLengthensValueTick)
{
    HoverStage s;
    auto& knob = s.knob;
    const auto k = knob.geometry();
    knob.setPosition (0.5); // pointer and value tick straight up

    s.peer().moveMouseTo ({300.0f, 100.0f}); // beside the knob
    ASSERT_FALSE (knob.slider.isMouseOverOrDragging());
    const auto away = knob.render();

    s.peer().moveMouseTo ({k.cx, k.cy + 20.0f});
    ASSERT_TRUE (knob.slider.isMouseOverOrDragging());
    const auto hovered = knob.render();

    // Glow: 0.12 -> 0.22 at its centre, unscaled.
    const auto glowPx = pixelOf ({k.cx + 10.5f, k.top - 1.5f});
    EXPECT_TRUE (colourNear (pixel (away, glowPx), k.glow (glowPx, 0.12f), 2.0f));
    EXPECT_TRUE (colourNear (pixel (hovered, glowPx), k.glow (glowPx, 0.22f), 2.0f));

    // Value arc 4.4 -> 5.0 thick: at 9 o'clock the row through the centre crosses it
    // horizontally; its middle is unchanged, both edges gain arc colour.
    const auto row = (int)k.cy;
    const auto middle = (int)std::floor (k.cx - k.arcR);
    EXPECT_EQ (away.getPixelAt (middle, row), hovered.getPixelAt (middle, row));
    for (const auto edge : {(int)std::floor (k.cx - k.arcR - 2.3f), (int)std::floor (k.cx - k.arcR + 2.3f)})
        EXPECT_GT (hovered.getPixelAt (edge, row).getGreen(), away.getPixelAt (edge, row).getGreen() + 15)
            << "arc edge at x " << edge;

    // Value tick 3.8 -> 4.4 long (outer end from R + 3.2 to R + 3.8), 1.35 -> 1.6 thick.
    const auto tickTip = pixelOf ({k.cx, k.cy - (k.arcR + 2.8f + 4.1f)});
    EXPECT_GT (hovered.getPixelAt (tickTip.x, tickTip.y).getAlpha(),
               away.getPixelAt (tickTip.x, tickTip.y).getAlpha() + 60);

    // Cap rim alpha 0.08 -> 0.16: at 9 o'clock it covers 0.85 of the pixel at the cap's edge.
    const juce::Point<int> capRimPx ((int)std::floor (k.cx - k.capR), row);
    EXPECT_NEAR (hovered.getPixelAt (capRimPx.x, capRimPx.y).getRed() -
                     away.getPixelAt (capRimPx.x, capRimPx.y).getRed(),
                 0.08f * 0.85f * (255.0f - away.getPixelAt (capRimPx.x, capRimPx.y).getRed()), 3.0f);

    // Pointer and body stay as they were.
    const auto pointerPx = pixelOf (k.at (0.67f * k.pointerL, 2.0f * pi));
    EXPECT_EQ (away.getPixelAt (pointerPx.x, pointerPx.y), hovered.getPixelAt (pointerPx.x, pointerPx.y));
    const auto bodyPx = pixelOf (k.at (0.5f * (k.capR + k.arcR), pi));
    EXPECT_EQ (away.getPixelAt (bodyPx.x, bodyPx.y), hovered.getPixelAt (bodyPx.x, bodyPx.y));

    // Leaving the knob restores the resting look.
    s.peer().moveMouseTo ({300.0f, 100.0f});
    const auto left = knob.render();
    EXPECT_EQ (left.getPixelAt (glowPx.x, glowPx.y), away.getPixelAt (glowPx.x, glowPx.y));
    EXPECT_EQ (left.getPixelAt (tickTip.x, tickTip.y), away.getPixelAt (tickTip.x, tickTip.y));
}

TEST (KnobLookAndFeelHover, PressedButtonCountsAsActiveAndDimmingStillApplies)
{
    HoverStage s;
    auto& knob = s.knob;
    const auto k = knob.geometry();
    knob.setPosition (0.5);
    knob.setBypassed (true);
    const auto glowPx = pixelOf ({k.cx + 10.5f, k.top - 1.5f});

    const juce::Point<float> onKnob (k.cx, k.cy + 20.0f);
    s.peer().moveMouseTo (onKnob);
    s.peer().moveMouseTo (onKnob, juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier));
    ASSERT_TRUE (knob.slider.isMouseButtonDown());
    const auto pressed = knob.render();
    s.peer().moveMouseTo (onKnob); // release
    EXPECT_DOUBLE_EQ (knob.slider.getValue(), 0.5);

    // The glow is not scaled by the bypass dimming, the track still is.
    EXPECT_TRUE (colourNear (pixel (pressed, glowPx), k.glow (glowPx, 0.22f), 2.0f));
    const auto trackPx = pixelOf (k.at (k.arcR, angleFor (0.8f)));
    EXPECT_TRUE (colourNear (pixel (pressed, trackPx), k.trackOverBody (trackPx, 0.52f), 3.0f));
}

} // namespace
