// Writes a stereo demo signal for trying the plug-in offline: a slow logarithmic sine sweep
// over pink noise with level bursts, so that bands with level ranges have something to act on.

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <iostream>

namespace
{
int fail (const juce::String& message)
{
    std::cerr << "varnelle-testsignal: " << message << "\n";
    return 1;
}

void synthesise (juce::AudioBuffer<float>& buffer, double sampleRate)
{
    juce::Random random (20261209);
    const int n = buffer.getNumSamples();
    const double seconds = n / sampleRate;
    double phase = 0.0;
    float b0 = 0, b1 = 0, b2 = 0;

    for (int i = 0; i < n; ++i)
    {
        const double t = i / sampleRate;
        const double sweepHz = 40.0 * std::pow (12000.0 / 40.0, t / seconds);
        phase += juce::MathConstants<double>::twoPi * sweepHz / sampleRate;

        const float white = random.nextFloat() * 2.0f - 1.0f;
        b0 = 0.99765f * b0 + white * 0.0990460f;
        b1 = 0.96300f * b1 + white * 0.2965164f;
        b2 = 0.57000f * b2 + white * 1.0526913f;
        const float pink = 0.25f * (b0 + b1 + b2 + white * 0.1848f);

        // Half-second bursts, 20 dB louder, every two seconds.
        const float burst = std::fmod (t, 2.0) < 0.5 ? 1.0f : 0.1f;
        const float sweep = 0.25f * (float)std::sin (phase);

        buffer.setSample (0, i, 0.5f * burst * pink + sweep);
        buffer.setSample (1, i, 0.5f * burst * pink * 0.8f + sweep);
    }
}
} // namespace

int main (int argc, char** argv)
{
    if (argc < 2 || juce::String (argv[1]) == "--help")
    {
        std::cout << "usage: varnelle-testsignal out.wav [seconds] [sample-rate]\n"
                     "Writes a stereo 32-bit float WAV: a sine sweep over pink noise with level bursts.\n";
        return argc < 2 ? 1 : 0;
    }

    const double seconds = argc > 2 ? juce::String (argv[2]).getDoubleValue() : 8.0;
    const double sampleRate = argc > 3 ? juce::String (argv[3]).getDoubleValue() : 48000.0;
    if (!(seconds > 0.0 && seconds <= 600.0) || !(sampleRate >= 8000.0 && sampleRate <= 384000.0))
        return fail ("seconds must be in (0, 600] and the sample rate in [8000, 384000]");

    const juce::File target = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    juce::AudioBuffer<float> buffer (2, (int)std::lround (seconds * sampleRate));
    synthesise (buffer, sampleRate);

    // Written beside the target and moved into place, so a failure never leaves half a file.
    juce::TemporaryFile temporary (target);
    {
        auto stream = temporary.getFile().createOutputStream();
        if (stream == nullptr)
            return fail ("cannot write " + target.getFullPathName());

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (stream.get(), sampleRate, 2, 32, {}, 0));
        if (writer == nullptr)
            return fail ("cannot create a WAV writer");
        stream.release(); // the writer owns the stream now
        if (!writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples()))
            return fail ("cannot write " + target.getFullPathName());
    }
    if (!temporary.overwriteTargetFileWithTemporary())
        return fail ("cannot move the file into place at " + target.getFullPathName());

    std::cout << "wrote " << target.getFullPathName() << "\n";
    return 0;
}
