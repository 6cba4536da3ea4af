#include "EditorShared.h"

namespace varnelle::editor
{

juce::Colour getBandColour (int bandIndex) noexcept
{
    static constexpr juce::uint32 colours[] = {0xff61b8ff, 0xff5fd67e, 0xffffc95a, 0xffff9550, 0xffdf79ff};
    return juce::Colour (colours[juce::jlimit (0, 4, bandIndex)]);
}

juce::String findBypassParameterId (const juce::AudioProcessorValueTreeState& parameters, int bandIndex)
{
    const juce::String n (bandIndex + 1);
    const juce::String candidates[] = {"band" + n + "_bypass", "band_" + n + "_bypass", "b" + n + "_bypass",
                                       "band" + n + "Bypass",  "Band" + n + "Bypass",   "bypass_band" + n};
    for (const auto& id : candidates)
        if (parameters.getParameter (id) != nullptr)
            return id;
    return {};
}

bool isBandBypassed (const juce::AudioProcessorValueTreeState& parameters, int bandIndex)
{
    const auto id = findBypassParameterId (parameters, bandIndex);
    if (id.isEmpty())
        return false;
    const auto* value = parameters.getRawParameterValue (id);
    return value != nullptr && value->load() >= 0.5f;
}

juce::Font makeFont (float height, bool bold)
{
    return juce::Font (height, bold ? juce::Font::bold : juce::Font::plain);
}

} // namespace varnelle::editor
