#pragma once

#include "editor/DisplayBands.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace varnelle::editor
{

/** Moving a band's edges on the display: which edge a press grabs, drags that write it inside
    one host change gesture, and single steps (keys, screen readers) as gestures of their own.

    The mouse never selects a band and never moves a whole band. Each edge keeps its gap to the
    band's other edge of the same kind (10 Hz, 3 dB) and stays inside its parameter's range; only
    the moved edge is ever written. Owned by the display, with the parameter tree and the band
    values outliving it; message thread only. */
class BandEdgeEditor
{
public:
    BandEdgeEditor (juce::AudioProcessorValueTreeState& parameters, const DisplayBands& bands);
    /** Ends a drag still in progress, gesture and all. */
    ~BandEdgeEditor();

    /** The edge of band `bandIndex` that a press at `position` would grab (none when nothing is
        in reach). Ties go to the upper edge. */
    BandEdge findTarget (juce::Point<float> position, const DisplayLayout& layout, int bandIndex) const;

    /** A press: grabs the edge in reach, if any, closing a gesture still open first, and moves it
        to the press at once. The band is kept until the release, so the gesture and the writes
        stay on the grabbed parameter even if the selection changes during the drag. A press on
        nothing leaves an open gesture alone. */
    void press (juce::Point<float> position, const DisplayLayout& layout, int bandIndex);

    /** Moves the grabbed edge to the pointer; nothing without one. */
    void drag (juce::Point<float> position, const DisplayLayout& layout);

    /** Ends the drag and its gesture. */
    void release();

    BandEdge getDragEdge() const noexcept { return dragEdge; }

    /** Moves an edge to `value` (Hz or dB) as one host gesture, under the gaps and ranges of
        dragging. Ignored during a drag, for a value that is not finite and where the step would
        change nothing (it then opens no gesture). True when it wrote. */
    bool setEdgeValue (int bandIndex, BandEdge edge, float value);

    /** The parameter ID of a band's edge ("band3_levelMax"); empty for none. */
    static juce::String getParameterId (int bandIndex, BandEdge edge);

private:
    float limitToGap (int bandIndex, BandEdge edge, float value) const;
    void writeEdge (int bandIndex, BandEdge edge, float value);
    void enforceLevelGap (int bandIndex, BandEdge edge);
    void setParameterValue (const juce::String& id, float value);

    juce::AudioProcessorValueTreeState& parameters;
    const DisplayBands& bands;
    BandEdge dragEdge = BandEdge::none;
    int dragBand = 0; // the band whose edge the current drag moves, taken at the press
    juce::RangedAudioParameter* gestureParameter = nullptr;
};

} // namespace varnelle::editor
