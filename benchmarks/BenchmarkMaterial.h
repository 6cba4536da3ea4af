#pragma once

// The input every engine measurement and the peer benchmark use. Needs only JUCE's audio
// basics, so that programs hosting the plug-in through their own JUCE copy can use it too.

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>

namespace varnelle::bench
{
/** Stereo material at `rate`: pink noise on both channels (different seeds) plus a few sines. */
inline juce::AudioBuffer<float> makeMaterial (int numSamples, double rate)
{
    juce::AudioBuffer<float> material (2, numSamples);
    for (int ch = 0; ch < 2; ++ch)
    {
        juce::Random random (17 + ch);
        float b0 = 0, b1 = 0, b2 = 0;
        for (int i = 0; i < numSamples; ++i)
        {
            const float white = random.nextFloat() * 2.0f - 1.0f;
            b0 = 0.99765f * b0 + white * 0.0990460f;
            b1 = 0.96300f * b1 + white * 0.2965164f;
            b2 = 0.57000f * b2 + white * 1.0526913f;
            const double t = (double)i / rate;
            const double sines = 0.2 * std::sin (2.0 * 3.14159265358979 * (ch == 0 ? 220.0 : 330.0) * t) +
                                 0.1 * std::sin (2.0 * 3.14159265358979 * 1500.0 * t) +
                                 0.05 * std::sin (2.0 * 3.14159265358979 * 6100.0 * t);
            material.setSample (ch, i, 0.3f * 0.25f * (b0 + b1 + b2 + white * 0.1848f) + (float)sines);
        }
    }
    return material;
}
} // namespace varnelle::bench
