#include "editor/EdgeElements.h"

#include "editor/KeyboardControls.h"
#include "engine/BandParameters.h"

#include <cmath>

namespace varnelle::editor
{

namespace
{
// Key steps of an edge: frequencies in octaves (the axis is logarithmic), levels in dB.
float steppedEdgeValue (BandEdge edge, float current, KeyStep step)
{
    const bool fine = step.size == KeyStep::Size::fine;
    const bool large = step.size == KeyStep::Size::large;
    if (isFrequencyEdge (edge))
        return current * std::exp2 ((float)step.direction * (fine    ? 1.0f / 48.0f
                                                             : large ? 1.0f
                                                                     : 1.0f / 12.0f));
    return current + (float)step.direction * (fine ? 0.1f : large ? 10.0f : 1.0f);
}
} // namespace

class EdgeElements::Element : public juce::Component
{
public:
    Element (Edges& edgesToShow, BandEdge edgeToMove) : edges (edgesToShow), edge (edgeToMove)
    {
        setWantsKeyboardFocus (true);
        setInterceptsMouseClicks (false, false);
        setExplicitFocusOrder ((int)edge);
    }

    bool keyPressed (const juce::KeyPress& key) override
    {
        const auto step = findKeyStep (key);
        if (!step.has_value())
            return false;
        edges.setEdgeValue (edge, steppedEdgeValue (edge, edges.getEdgeValue (edge), *step));
        return true;
    }

    void paint (juce::Graphics& g) override
    {
        if (hasKeyboardFocus (false))
            drawFocusOutline (g, getLocalBounds().toFloat());
    }
    void focusGained (FocusChangeType) override { repaint(); }
    void focusLost (FocusChangeType) override { repaint(); }

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override
    {
        return std::make_unique<Accessibility> (*this);
    }

private:
    Edges& edges;

public:
    const BandEdge edge;

private:
    class Value : public UnitValue
    {
    public:
        explicit Value (Element& e) : element (e) {}

        double getCurrentValue() const override { return element.edges.getEdgeValue (element.edge); }
        juce::String getCurrentValueAsString() const override
        {
            const auto v = (float)getCurrentValue();
            if (isFrequencyEdge (element.edge))
                return juce::String (juce::roundToInt (v)) + " Hz";
            return withTypographicMinus (juce::String (v, 1)) + " dB";
        }
        void setValue (double newValue) override
        {
            element.edges.setEdgeValue (element.edge, (float)newValue);
        }
        AccessibleValueRange getRange() const override
        {
            if (isFrequencyEdge (element.edge))
                return {{DisplayLayout::minFrequencyHz, DisplayLayout::maxFrequencyHz}, 0.0};
            return {{DisplayLayout::minLevelDb, DisplayLayout::maxLevelDb}, 0.1};
        }

    private:
        Element& element;
    };

    class Accessibility : public juce::AccessibilityHandler
    {
    public:
        explicit Accessibility (Element& e)
            : juce::AccessibilityHandler (e, juce::AccessibilityRole::slider, {},
                                          Interfaces{std::make_unique<Value> (e)}),
              element (e)
        {
        }

        juce::String getTitle() const override
        {
            return getBandParameterName (element.edges.getSelectedBand(), slotForEdge (element.edge));
        }

    private:
        Element& element;
    };
};

EdgeElements::EdgeElements (juce::Component& display, Edges& edgesToShow) : edges (edgesToShow)
{
    for (auto edge : {BandEdge::freqLow, BandEdge::freqHigh, BandEdge::levelMin, BandEdge::levelMax})
    {
        auto& element = elements[(size_t)edge - 1];
        element = std::make_unique<Element> (edges, edge);
        display.addAndMakeVisible (*element);
    }
}

EdgeElements::~EdgeElements() = default;

void EdgeElements::layout (const DisplayLayout& layout)
{
    // Over the edge's own line (each as stored) or its level badge, where the outline shows it.
    const auto plot = layout.plot;
    const auto badges = layout.getLevelBadgeBounds (edges.getEdgeValue (BandEdge::levelMin),
                                                    edges.getEdgeValue (BandEdge::levelMax));
    for (auto& element : elements)
    {
        const auto edge = element->edge;
        if (isFrequencyEdge (edge))
        {
            const int y = juce::roundToInt (layout.yForFrequency (edges.getEdgeValue (edge)));
            element->setBounds (plot.getX(), y - 7, plot.getWidth(), 14);
        }
        else
        {
            element->setBounds ((edge == BandEdge::levelMin ? badges.lower : badges.upper).expanded (2));
        }
    }
}

void EdgeElements::titlesChanged()
{
    for (auto& element : elements)
        if (auto* handler = element->getAccessibilityHandler())
            handler->notifyAccessibilityEvent (juce::AccessibilityEvent::titleChanged);
}

void EdgeElements::valueChanged (BandEdge edge)
{
    if (edge == BandEdge::none)
        return;
    if (auto* handler = elements[(size_t)edge - 1]->getAccessibilityHandler())
        handler->notifyAccessibilityEvent (juce::AccessibilityEvent::valueChanged);
}

} // namespace varnelle::editor
