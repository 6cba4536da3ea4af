#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <deque>
#include <functional>
#include <vector>

namespace varnelle
{

/** Undo and redo of the edits made in the plug-in's window.

    A step is what one user action changed: the parameters' values before and after. Gestures
    make the steps: from the first begin gesture to the last end gesture of a group, whatever
    parameters changed form one step named after the parameter that began it ("Band 2 Gain").
    A host's automation makes no gestures, so it is never recorded. Actions that set many
    parameters at once (a preset load) open a named step around them (ScopedStep); gestures
    inside it join it. Undo and redo set each changed parameter inside one gesture of its own,
    so hosts record them like any other edit, and are not recorded themselves.

    Wheel ticks and key presses come in runs: consecutive steps of the same control from the
    same source (wheel, or keys), each less than mergeWindowMs after the one before, are one
    step, as typing is in a text editor; another control, a drag, an undo or redo, or a pause
    ends the run. Each of them is still a host gesture of its own.

    A host's state restore clears the history (requestClear, from any thread); at most
    maxSteps steps are kept. Everything else: message thread only. The history belongs to the
    processor, so it outlives the window. */
class EditHistory : private juce::AudioProcessorParameter::Listener
{
public:
    static constexpr int maxSteps = 100;
    static constexpr double mergeWindowMs = 500.0;

    /** Where an edit comes from; only wheel and key steps join a run. */
    enum class Source
    {
        other,
        drag,
        wheel,
        key
    };

    explicit EditHistory (juce::AudioProcessor& processor);
    ~EditHistory() override;

    /** Groups everything changed until endStep into one step called `name`; nests. */
    void beginStep (const juce::String& name);
    void endStep();

    struct ScopedStep
    {
        ScopedStep (EditHistory& h, const juce::String& name) : history (h) { history.beginStep (name); }
        ~ScopedStep() { history.endStep(); }
        EditHistory& history;
        JUCE_DECLARE_NON_COPYABLE (ScopedStep)
    };

    /** The step that opens next comes from `source` (a control says so before its gesture
        begins); steps without a word are Source::other. */
    void noteNextSource (Source source) noexcept { nextSource = source; }

    /** Where the history reads the time in milliseconds (a test's own clock); the default is
        Time::getMillisecondCounterHiRes. */
    void setClock (std::function<double()> millisecondsNow);

    bool canUndo();
    bool canRedo();
    /** The name of the step undo or redo would take back or bring back; empty if none. */
    juce::String getUndoName();
    juce::String getRedoName();
    bool undo();
    bool redo();

    /** Ends every gesture still open on a parameter, as its control would have: for a window
        closing in the middle of a drag, whose controls can no longer end theirs. The step
        they make is recorded, and the host sees its edits end. */
    void endOpenGestures();

    /** Thread-safe: the history is emptied before its next use on the message thread. */
    void requestClear() noexcept { clearRequested = true; }

    int getNumUndoSteps();

private:
    struct Change
    {
        int parameterIndex;
        float before, after; // normalised values
    };
    struct Step
    {
        juce::String name;
        std::vector<Change> changes;
        Source source = Source::other;
        double lastChangeMs = 0.0; // when its last change was recorded
    };

    void parameterValueChanged (int, float) override {}
    void parameterGestureChanged (int parameterIndex, bool gestureIsStarting) override;

    void open (const juce::String& name);
    void close();
    void applyPendingClear();
    void apply (const Step& step, bool forwards);
    bool joinsLastStep (const Step& step, double nowMs) const;
    void record (Step step);

    juce::Array<juce::AudioProcessorParameter*> parameters;
    std::deque<Step> undoSteps, redoSteps;

    // The open step: values at its start and its name; gestures and named steps still open.
    std::vector<float> valuesAtStart;
    juce::String openName;
    bool openedByName = false;
    std::vector<bool> gestured;     // per parameter: a gesture of this step began on it
    std::vector<int> gestureCounts; // per parameter: gestures begun and not yet ended
    int openGestures = 0;
    int openNamedSteps = 0;
    bool applying = false;
    Source nextSource = Source::other, openSource = Source::other;
    bool lastStepOpenToRuns = false; // the newest undo step may still take a run's next step
    std::function<double()> clock;
    std::atomic<bool> clearRequested{false};

    JUCE_DECLARE_NON_COPYABLE (EditHistory)
};

} // namespace varnelle
