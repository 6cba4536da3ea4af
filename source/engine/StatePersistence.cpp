#include "StatePersistence.h"

#include <cmath>

namespace varnelle
{
namespace
{
const juce::Identifier valueAttribute{"value"};

// A "value" such as "nan", "inf" or "1e999" would reach the parameter as a non-finite
// number and turn the audio into NaN. Such a child is treated as one without a value, so its
// parameter takes the default.
void dropNonFiniteValues (juce::XmlElement& root)
{
    for (auto* child : root.getChildIterator())
    {
        if (!child->hasAttribute (valueAttribute.toString()))
            continue;

        const auto value = child->getDoubleAttribute (valueAttribute.toString());
        if (!std::isfinite (value))
            child->removeAttribute (valueAttribute);
    }
}
// The parameter tree resets a parameter that the restored tree does not mention to its
// default when it appends the missing child. A partial block must leave such a parameter as
// it is, so the missing children are added beforehand, carrying the current values.
void addMissingParameters (juce::AudioProcessorValueTreeState& parameters, juce::ValueTree& newState)
{
    const juce::Identifier idAttribute{"id"};
    for (auto* parameter : parameters.processor.getParameters())
    {
        const auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter);
        if (ranged == nullptr || newState.getChildWithProperty (idAttribute, ranged->paramID).isValid())
            continue;

        juce::ValueTree child ("PARAM");
        child.setProperty (idAttribute, ranged->paramID, nullptr);
        child.setProperty (valueAttribute, parameters.getRawParameterValue (ranged->paramID)->load(),
                           nullptr);
        newState.appendChild (child, nullptr);
    }
}
} // namespace

void writeStateBlock (juce::AudioProcessorValueTreeState& parameters, juce::MemoryBlock& destData)
{
    const auto state = parameters.copyState();
    if (const auto xml = state.createXml())
        juce::AudioProcessor::copyXmlToBinary (*xml, destData);
}

std::unique_ptr<juce::XmlElement> decodeStateBlock (const juce::AudioProcessorValueTreeState& parameters,
                                                    const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return {};

    auto xml = juce::AudioProcessor::getXmlFromBinary (data, sizeInBytes);
    if (xml == nullptr || !xml->hasTagName (parameters.state.getType().toString()))
        return {};

    return xml;
}

bool restoreStateBlock (juce::AudioProcessorValueTreeState& parameters, const void* data, int sizeInBytes)
{
    auto xml = decodeStateBlock (parameters, data, sizeInBytes);
    if (xml == nullptr)
        return false;

    dropNonFiniteValues (*xml);
    auto newState = juce::ValueTree::fromXml (*xml);
    addMissingParameters (parameters, newState);
    parameters.replaceState (newState);
    return true;
}

} // namespace varnelle
