#include "EditHistory.h"

namespace varnelle
{

EditHistory::EditHistory (juce::AudioProcessor& processor)
    : parameters (processor.getParameters()), clock ([] { return juce::Time::getMillisecondCounterHiRes(); })
{
    for (auto* parameter : parameters)
        parameter->addListener (this);
}

EditHistory::~EditHistory()
{
    for (auto* parameter : parameters)
        parameter->removeListener (this);
}

void EditHistory::parameterGestureChanged (int parameterIndex, bool gestureIsStarting)
{
    if (applying || !juce::isPositiveAndBelow (parameterIndex, parameters.size()))
        return;

    gestureCounts.resize ((size_t)parameters.size());
    auto& count = gestureCounts[(size_t)parameterIndex];

    if (gestureIsStarting)
    {
        if (openGestures++ == 0 && openNamedSteps == 0)
            open (parameters[parameterIndex]->getName (64));
        ++count;
        if (openNamedSteps == 0)
            gestured[(size_t)parameterIndex] = true;
        return;
    }

    // An end without a begin (a control created mid-gesture) is ignored.
    if (count == 0 || openGestures == 0)
        return;
    --count;
    if (--openGestures == 0 && openNamedSteps == 0)
        close();
}

void EditHistory::endOpenGestures()
{
    for (int i = 0; i < parameters.size() && (size_t)i < gestureCounts.size(); ++i)
        while (gestureCounts[(size_t)i] > 0)
            parameters[i]->endChangeGesture(); // comes back through parameterGestureChanged
}

void EditHistory::beginStep (const juce::String& name)
{
    if (openNamedSteps++ == 0 && openGestures == 0)
        open (name);
    else if (openNamedSteps == 1)
        openName = name; // a named action inside a gesture names the step
}

void EditHistory::endStep()
{
    jassert (openNamedSteps > 0);
    if (openNamedSteps > 0 && --openNamedSteps == 0 && openGestures == 0)
        close();
}

void EditHistory::setClock (std::function<double()> millisecondsNow)
{
    if (millisecondsNow != nullptr)
        clock = std::move (millisecondsNow);
}

void EditHistory::open (const juce::String& name)
{
    applyPendingClear();
    openSource = openNamedSteps > 0 ? Source::other : nextSource;
    nextSource = Source::other;
    openName = name;
    openedByName = openNamedSteps > 0;
    gestured.assign ((size_t)parameters.size(), false);
    valuesAtStart.resize ((size_t)parameters.size());
    for (int i = 0; i < parameters.size(); ++i)
        valuesAtStart[(size_t)i] = parameters[i]->getValue();
}

void EditHistory::close()
{
    // A restore by the host while the step was open: what it changed is not the user's edit.
    if (clearRequested)
    {
        applyPendingClear();
        return;
    }

    // A gesture step holds only what its gestures moved: the host may automate other
    // parameters meanwhile. A named step (a preset load) holds whatever it changed.
    Step step{openName, {}};
    for (int i = 0; i < parameters.size() && (size_t)i < valuesAtStart.size(); ++i)
    {
        if (!openedByName && !gestured[(size_t)i])
            continue;
        const float now = parameters[i]->getValue();
        if (now != valuesAtStart[(size_t)i])
            step.changes.push_back ({i, valuesAtStart[(size_t)i], now});
    }
    if (step.changes.empty())
    {
        // A drag or a click that changed nothing still ends a run; a wheel tick or key press
        // against a limit does not.
        if (openSource != Source::wheel && openSource != Source::key)
            lastStepOpenToRuns = false;
        return;
    }
    step.source = openSource;
    step.lastChangeMs = clock();
    record (std::move (step));
}

bool EditHistory::joinsLastStep (const Step& step, double nowMs) const
{
    if (!lastStepOpenToRuns || undoSteps.empty() ||
        (step.source != Source::wheel && step.source != Source::key))
        return false;
    const auto& last = undoSteps.back();
    if (last.source != step.source || !(nowMs - last.lastChangeMs < mergeWindowMs) ||
        last.changes.size() != step.changes.size())
        return false;
    for (size_t i = 0; i < step.changes.size(); ++i)
        if (last.changes[i].parameterIndex != step.changes[i].parameterIndex)
            return false; // another control
    return true;
}

void EditHistory::record (Step step)
{
    redoSteps.clear();
    const bool joins = joinsLastStep (step, step.lastChangeMs);
    lastStepOpenToRuns = true;
    if (joins)
    {
        // The run's step keeps its start and takes the newest values; a run that ends where
        // it began changed nothing.
        auto& last = undoSteps.back();
        bool changesSomething = false;
        for (size_t i = 0; i < step.changes.size(); ++i)
        {
            last.changes[i].after = step.changes[i].after;
            changesSomething = changesSomething || last.changes[i].after != last.changes[i].before;
        }
        last.lastChangeMs = step.lastChangeMs;
        if (!changesSomething)
        {
            undoSteps.pop_back();
            lastStepOpenToRuns = false;
        }
        return;
    }

    undoSteps.push_back (std::move (step));
    if ((int)undoSteps.size() > maxSteps)
        undoSteps.pop_front();
}

void EditHistory::applyPendingClear()
{
    if (clearRequested.exchange (false))
    {
        undoSteps.clear();
        redoSteps.clear();
        lastStepOpenToRuns = false;
    }
}

void EditHistory::apply (const Step& step, bool forwards)
{
    const juce::ScopedValueSetter<bool> notRecorded (applying, true);
    for (const auto& change : step.changes)
    {
        auto* parameter = parameters[change.parameterIndex];
        parameter->beginChangeGesture();
        parameter->setValueNotifyingHost (forwards ? change.after : change.before);
        parameter->endChangeGesture();
    }
}

bool EditHistory::canUndo()
{
    applyPendingClear();
    return !undoSteps.empty();
}

bool EditHistory::canRedo()
{
    applyPendingClear();
    return !redoSteps.empty();
}

juce::String EditHistory::getUndoName()
{
    return canUndo() ? undoSteps.back().name : juce::String();
}

juce::String EditHistory::getRedoName()
{
    return canRedo() ? redoSteps.back().name : juce::String();
}

int EditHistory::getNumUndoSteps()
{
    applyPendingClear();
    return (int)undoSteps.size();
}

bool EditHistory::undo()
{
    // Not in the middle of an edit: its start values would no longer be true.
    if (!canUndo() || openGestures > 0 || openNamedSteps > 0)
        return false;
    auto step = std::move (undoSteps.back());
    undoSteps.pop_back();
    lastStepOpenToRuns = false;
    apply (step, false);
    redoSteps.push_back (std::move (step));
    return true;
}

bool EditHistory::redo()
{
    if (!canRedo() || openGestures > 0 || openNamedSteps > 0)
        return false;
    auto step = std::move (redoSteps.back());
    redoSteps.pop_back();
    lastStepOpenToRuns = false;
    apply (step, true);
    undoSteps.push_back (std::move (step));
    return true;
}

} // namespace varnelle
