#pragma once

#include "editor/DisplayBands.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <memory>

namespace varnelle::editor
{

/** The selected band's four edges for keys and screen readers: one focusable child of the
    display per edge, lying over the edge's line or badge, titled like its parameter ("Band 2
    Frequency Low") with a value that carries its unit ("120 Hz"). The adjusting keys move the
    focused edge (Shift: fine, Page Up/Down: large). Each element paints only its focus outline
    and lets every mouse event through to the display.

    Owned by the display, which must outlive them and answers for the edges through Edges;
    message thread only. */
class EdgeElements
{
public:
    /** What the elements show and move: the selected band's edges. */
    struct Edges
    {
        virtual ~Edges() = default;
        virtual int getSelectedBand() const = 0;
        virtual float getEdgeValue (BandEdge edge) const = 0;
        virtual void setEdgeValue (BandEdge edge, float value) = 0;
    };

    /** Adds the four elements to `display` in the order of BandEdge. */
    EdgeElements (juce::Component& display, Edges& edges);
    ~EdgeElements();

    /** Places the elements over the selected band's lines and badges. */
    void layout (const DisplayLayout& layout);

    /** Tells screen readers that the titles changed (another band is selected). */
    void titlesChanged();

    /** Tells screen readers that an edge's value changed. */
    void valueChanged (BandEdge edge);

private:
    class Element;
    Edges& edges;
    std::array<std::unique_ptr<Element>, 4> elements; // in BandEdge order
};

} // namespace varnelle::editor
