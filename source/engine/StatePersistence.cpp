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
    parameters.replaceState (juce::ValueTree::fromXml (*xml));
    return true;
}

} // namespace varnelle
