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

// Where a knob lies in its slider's bounds and how it is lit. Angles in radians as above.
struct Knob
{
    float left, top, D, R, cx, cy, arcR; // the body's bounds, diameter, radius, centre, arc radius
    float start, end, angle;             // the sweep and the value's angle
    bool active;                         // hovered or dragged
    float alphaScale;                    // dims what a disabled or bypassed knob dims
};

// 1. Glow and 3. body, not dimmed; 2. shadow; 4. rim.
void drawKnobBody (juce::Graphics& g, const Knob& k)
{
    const juce::Colour glow (0xff59b4ff);
    g.setGradientFill (juce::ColourGradient (glow.withAlpha (k.active ? 0.22f : 0.12f), k.cx,
                                             k.cy - 0.9f * k.R, glow.withAlpha (0.0f), k.cx, k.cy + k.R,
                                             true));
    const auto glowD = juce::jmax (0.0f, k.D + 7.0f);
    g.fillEllipse (k.left - 3.5f, k.top - 3.5f, glowD, glowD);

    g.setColour (juce::Colours::black.withAlpha (0.25f * k.alphaScale));
    g.fillEllipse (k.left, k.top + 1.8f, k.D, k.D);

    juce::ColourGradient body (juce::Colour (0xff2a3b57), k.cx, k.top, juce::Colour (0xff101a2b), k.cx,
                               k.top + k.D, false);
    body.addColour (0.38, juce::Colour (0xff1a2639));
    g.setGradientFill (body);
    g.fillEllipse (k.left, k.top, k.D, k.D);

    g.setColour (juce::Colour (0xffd7ecff).withAlpha (0.14f * k.alphaScale));
    g.drawEllipse (k.left, k.top, k.D, k.D, 1.1f);
}

// 5. Track; 6. value arc, not dimmed.
void drawKnobArcs (juce::Graphics& g, const Knob& k)
{
    juce::Path track;
    track.addCentredArc (k.cx, k.cy, k.arcR, k.arcR, 0.0f, k.start, k.end, true);
    g.setColour (juce::Colour (0xff0a1019).withAlpha (0.75f * k.alphaScale));
    g.strokePath (track,
                  juce::PathStrokeType (4.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));

    juce::Path valueArc;
    valueArc.addCentredArc (k.cx, k.cy, k.arcR, k.arcR, 0.0f, k.start, k.angle, true);
    juce::ColourGradient fill (juce::Colour (0xff4ea8ff), k.left, k.top + k.D, juce::Colour (0xff6ef1cf),
                               k.left + k.D, k.top, false);
    fill.addColour (0.6, juce::Colour (0xff86d7ff));
    g.setGradientFill (fill);
    g.strokePath (valueArc, juce::PathStrokeType (k.active ? 5.0f : 4.4f, juce::PathStrokeType::curved,
                                                  juce::PathStrokeType::rounded));
}

// 7. Cap, not dimmed; 8. its rim.
void drawKnobCap (juce::Graphics& g, const Knob& k)
{
    const auto N = juce::jmax (0.16f * k.D, 7.0f);
    const auto capD = juce::jmax (0.0f, k.D - 2.0f * N);
    juce::ColourGradient cap (juce::Colour (0xff101a2a), k.cx, k.top + N, juce::Colour (0xff070b14), k.cx,
                              k.top + N + capD, false);
    cap.addColour (0.3, juce::Colour (0xff172235));
    g.setGradientFill (cap);
    g.fillEllipse (k.left + N, k.top + N, capD, capD);

    g.setColour (juce::Colours::white.withAlpha ((k.active ? 0.16f : 0.08f) * k.alphaScale));
    g.drawEllipse (k.left + N, k.top + N, capD, capD, 0.9f);
}

// 9. Pointer shadow; 10. pointer; 11. centre dot; 12. its rim. The pointer's path is built
// pointing up from the pivot at the origin.
void drawKnobPointer (juce::Graphics& g, const Knob& k)
{
    const auto L = juce::jmax (k.R - 14.5f, 8.0f);
    const auto T = juce::jmax (0.045f * k.D, 3.0f);
    juce::Path pointer;
    pointer.addRoundedRectangle (-T / 2.0f, 1.0f - L, T, 0.66f * L, juce::jmax (0.45f * T, 1.0f));

    const auto rotation = juce::AffineTransform::rotation (k.angle);

    g.setColour (juce::Colours::black.withAlpha (0.35f * k.alphaScale));
    g.fillPath (pointer, rotation.translated (k.cx + 0.6f, k.cy + 0.9f));

    // The gradient lives in the pointer's frame, so it turns with the path.
    const auto toKnob = rotation.translated (k.cx, k.cy);
    const auto tip = juce::Point<float> (0.0f, -L).transformedBy (toKnob);
    const auto pivot = juce::Point<float> (0.0f, 0.0f).transformedBy (toKnob);
    g.setGradientFill (
        juce::ColourGradient (juce::Colour (0xfffff1cd), tip, juce::Colour (0xffffbf68), pivot, false));
    g.fillPath (pointer, toKnob);

    const auto d = juce::jmax (0.12f * k.R, 3.6f);
    g.setGradientFill (juce::ColourGradient (
        juce::Colour (0xffd8ecff).withAlpha (0.85f * k.alphaScale), k.cx, k.cy - d,
        juce::Colour (0xff7b95b8).withAlpha (0.8f * k.alphaScale), k.cx, k.cy + d, false));
    g.fillEllipse (k.cx - d, k.cy - d, 2.0f * d, 2.0f * d);

    g.setColour (juce::Colours::black.withAlpha (0.25f * k.alphaScale));
    g.drawEllipse (k.cx - d, k.cy - d, 2.0f * d, 2.0f * d, 0.8f);
}

} // namespace

ModernKnobLookAndFeel::~ModernKnobLookAndFeel() = default;

void ModernKnobLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                              float sliderPos, float /*rotaryStartAngle*/,
                                              float /*rotaryEndAngle*/, juce::Slider& slider)
{
    // The knob keeps its own sweep whatever the slider's rotary parameters say.
    Knob k;
    k.start = knobStartAngle;
    k.end = knobEndAngle;
    k.angle = k.start + sliderPos * (k.end - k.start);

    const auto w = juce::jmax (0.0f, (float)width - 10.0f);
    const auto h = juce::jmax (0.0f, (float)height - 10.0f);
    k.D = juce::jmin (w, h);
    k.R = k.D / 2.0f;
    k.left = (float)x + 5.0f + w / 2.0f - k.R;
    k.top = (float)y + 5.0f + h / 2.0f - k.R;
    k.cx = k.left + k.R;
    k.cy = k.top + k.R;
    k.arcR = k.R - 3.4f;

    k.active = slider.isMouseOverOrDragging (false) || slider.isMouseButtonDown (false);
    const auto bypassed =
        static_cast<bool> (slider.getProperties().getWithDefault (bandBypassedProperty, false));
    k.alphaScale = (slider.isEnabled() ? 1.0f : 0.45f) * (bypassed ? 0.52f : 1.0f);

    drawKnobBody (g, k);
    drawKnobArcs (g, k);
    drawKnobCap (g, k);
    drawKnobPointer (g, k);

    // 13.-15. Ticks at both ends of the sweep and at the value.
    const auto faintWhite = juce::Colours::white.withAlpha (0.18f);
    drawTick (g, k.cx, k.cy, k.arcR, k.start, 3.2f, 1.0f, faintWhite, k.alphaScale);
    drawTick (g, k.cx, k.cy, k.arcR, k.end, 3.2f, 1.0f, faintWhite, k.alphaScale);
    drawTick (g, k.cx, k.cy, k.arcR, k.angle, k.active ? 4.4f : 3.8f, k.active ? 1.6f : 1.35f,
              juce::Colour (0xffbdf2ff), k.alphaScale);
}

ModernKnobLookAndFeel& getKnobLookAndFeel()
{
    static ModernKnobLookAndFeel knobLookAndFeel;
    return knobLookAndFeel;
}

} // namespace varnelle::editor
