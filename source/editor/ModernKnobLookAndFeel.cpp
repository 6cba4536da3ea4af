#include "editor/ModernKnobLookAndFeel.h"

namespace varnelle::editor
{

namespace
{

// Radians, 0 = 12 o'clock, clockwise. The 0.44 pi gap is centred on 6 o'clock.
constexpr float knobStartAngle = 1.22f * juce::MathConstants<float>::pi;
constexpr float knobEndAngle = 2.78f * juce::MathConstants<float>::pi;

juce::Point<float> pointOnCircle (float cx, float cy, float radius, float angle) noexcept
{
    return {cx + radius * std::sin (angle), cy - radius * std::cos (angle)};
}

// Ticks start at arcR + 2.8, just inside the body's edge, and reach outwards by `length`.
void drawTick (juce::Graphics& g, float cx, float cy, float arcR, float angle, float length, float thickness,
               juce::Colour colour, float alphaScale)
{
    const auto inner = arcR + 2.8f;
    const auto outer = inner + length;
    g.setColour (colour.withMultipliedAlpha (alphaScale));
    g.drawLine (
        juce::Line<float> (pointOnCircle (cx, cy, inner, angle), pointOnCircle (cx, cy, outer, angle)),
        thickness);
}

} // namespace

ModernKnobLookAndFeel::~ModernKnobLookAndFeel() = default;

void ModernKnobLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                              float sliderPos, float /*rotaryStartAngle*/,
                                              float /*rotaryEndAngle*/, juce::Slider& slider)
{
    // The knob keeps its own sweep whatever the slider's rotary parameters say.
    const auto start = knobStartAngle;
    const auto end = knobEndAngle;
    const auto range = end - start;
    const auto angle = start + sliderPos * range;

    const auto w = juce::jmax (0.0f, (float)width - 10.0f);
    const auto h = juce::jmax (0.0f, (float)height - 10.0f);
    const auto D = juce::jmin (w, h);
    const auto R = D / 2.0f;
    const auto left = (float)x + 5.0f + w / 2.0f - R;
    const auto top = (float)y + 5.0f + h / 2.0f - R;
    const auto cx = left + R;
    const auto cy = top + R;
    const auto arcR = R - 3.4f;

    const auto enabled = slider.isEnabled();
    const auto active = slider.isMouseOverOrDragging (false) || slider.isMouseButtonDown (false);
    const auto bypassed =
        static_cast<bool> (slider.getProperties().getWithDefault (bandBypassedProperty, false));
    const auto alphaScale = (enabled ? 1.0f : 0.45f) * (bypassed ? 0.52f : 1.0f);

    // 1. Glow, not dimmed.
    {
        const juce::Colour glow (0xff59b4ff);
        g.setGradientFill (juce::ColourGradient (glow.withAlpha (active ? 0.22f : 0.12f), cx, cy - 0.9f * R,
                                                 glow.withAlpha (0.0f), cx, cy + R, true));
        const auto glowD = juce::jmax (0.0f, D + 7.0f);
        g.fillEllipse (left - 3.5f, top - 3.5f, glowD, glowD);
    }

    // 2. Shadow.
    g.setColour (juce::Colours::black.withAlpha (0.25f * alphaScale));
    g.fillEllipse (left, top + 1.8f, D, D);

    // 3. Body, not dimmed.
    {
        juce::ColourGradient body (juce::Colour (0xff2a3b57), cx, top, juce::Colour (0xff101a2b), cx, top + D,
                                   false);
        body.addColour (0.38, juce::Colour (0xff1a2639));
        g.setGradientFill (body);
        g.fillEllipse (left, top, D, D);
    }

    // 4. Rim.
    g.setColour (juce::Colour (0xffd7ecff).withAlpha (0.14f * alphaScale));
    g.drawEllipse (left, top, D, D, 1.1f);

    // 5. Track.
    {
        juce::Path track;
        track.addCentredArc (cx, cy, arcR, arcR, 0.0f, start, end, true);
        g.setColour (juce::Colour (0xff0a1019).withAlpha (0.75f * alphaScale));
        g.strokePath (
            track, juce::PathStrokeType (4.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    }

    // 6. Value arc, not dimmed.
    {
        juce::Path valueArc;
        valueArc.addCentredArc (cx, cy, arcR, arcR, 0.0f, start, angle, true);
        juce::ColourGradient fill (juce::Colour (0xff4ea8ff), left, top + D, juce::Colour (0xff6ef1cf),
                                   left + D, top, false);
        fill.addColour (0.6, juce::Colour (0xff86d7ff));
        g.setGradientFill (fill);
        g.strokePath (valueArc, juce::PathStrokeType (active ? 5.0f : 4.4f, juce::PathStrokeType::curved,
                                                      juce::PathStrokeType::rounded));
    }

    // 7. Cap, not dimmed; 8. its rim.
    {
        const auto N = juce::jmax (0.16f * D, 7.0f);
        const auto capD = juce::jmax (0.0f, D - 2.0f * N);
        juce::ColourGradient cap (juce::Colour (0xff101a2a), cx, top + N, juce::Colour (0xff070b14), cx,
                                  top + N + capD, false);
        cap.addColour (0.3, juce::Colour (0xff172235));
        g.setGradientFill (cap);
        g.fillEllipse (left + N, top + N, capD, capD);

        g.setColour (juce::Colours::white.withAlpha ((active ? 0.16f : 0.08f) * alphaScale));
        g.drawEllipse (left + N, top + N, capD, capD, 0.9f);
    }

    // 9. Pointer shadow; 10. pointer. The path is built pointing up from the pivot at the origin.
    {
        const auto L = juce::jmax (R - 14.5f, 8.0f);
        const auto T = juce::jmax (0.045f * D, 3.0f);
        juce::Path pointer;
        pointer.addRoundedRectangle (-T / 2.0f, 1.0f - L, T, 0.66f * L, juce::jmax (0.45f * T, 1.0f));

        const auto rotation = juce::AffineTransform::rotation (angle);

        g.setColour (juce::Colours::black.withAlpha (0.35f * alphaScale));
        g.fillPath (pointer, rotation.translated (cx + 0.6f, cy + 0.9f));

        // The gradient lives in the pointer's frame, so it turns with the path.
        const auto toKnob = rotation.translated (cx, cy);
        const auto tip = juce::Point<float> (0.0f, -L).transformedBy (toKnob);
        const auto pivot = juce::Point<float> (0.0f, 0.0f).transformedBy (toKnob);
        g.setGradientFill (
            juce::ColourGradient (juce::Colour (0xfffff1cd), tip, juce::Colour (0xffffbf68), pivot, false));
        g.fillPath (pointer, toKnob);
    }

    // 11. Centre dot; 12. its rim.
    {
        const auto d = juce::jmax (0.12f * R, 3.6f);
        g.setGradientFill (juce::ColourGradient (
            juce::Colour (0xffd8ecff).withAlpha (0.85f * alphaScale), cx, cy - d,
            juce::Colour (0xff7b95b8).withAlpha (0.8f * alphaScale), cx, cy + d, false));
        g.fillEllipse (cx - d, cy - d, 2.0f * d, 2.0f * d);

        g.setColour (juce::Colours::black.withAlpha (0.25f * alphaScale));
        g.drawEllipse (cx - d, cy - d, 2.0f * d, 2.0f * d, 0.8f);
    }

    // 13.-15. Ticks at both ends of the sweep and at the value.
    const auto faintWhite = juce::Colours::white.withAlpha (0.18f);
    drawTick (g, cx, cy, arcR, start, 3.2f, 1.0f, faintWhite, alphaScale);
    drawTick (g, cx, cy, arcR, end, 3.2f, 1.0f, faintWhite, alphaScale);
    drawTick (g, cx, cy, arcR, angle, active ? 4.4f : 3.8f, active ? 1.6f : 1.35f, juce::Colour (0xffbdf2ff),
              alphaScale);
}

ModernKnobLookAndFeel& getKnobLookAndFeel()
{
    static ModernKnobLookAndFeel knobLookAndFeel;
    return knobLookAndFeel;
}

} // namespace varnelle::editor
