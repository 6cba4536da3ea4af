#include "Renderer.h"

#include "FrameCsv.h"
#include "InputAudio.h"
#include "InterruptCleanup.h"

#include "editor/SpectrogramComponent.h"
#include "editor/VarnelleAudioProcessorEditor.h"
#include "engine/StatePersistence.h"
#include "engine/StftConstants.h"
#include "engine/VarnelleAudioProcessor.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace
{
// Many times the size of any block the plug-in writes; a bigger file is something else, and
// would not fit the int-sized restore call anyway.
constexpr juce::int64 maxStateFileBytes = 16 * 1024 * 1024;

// Short renders finish before a progress line would be read.
constexpr double minSecondsForProgress = 5.0;

juce::Result fail (const juce::String& message)
{
    return juce::Result::fail (message);
}

juce::File resolvePath (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

juce::String quoted (const juce::String& path)
{
    return "'" + path + "'";
}

juce::String formatNumber (double value)
{
    char text[32];
    std::snprintf (text, sizeof (text), "%g", value);
    return text;
}

// Says what is wrong with an input in the user's terms before a reader gives a vaguer answer.
juce::Result checkReadableFile (const juce::File& file, const juce::String& path)
{
    if (file.isDirectory())
        return fail (quoted (path) + " is a folder, not a file");

    if (!file.existsAsFile())
        return fail (quoted (path) + " does not exist");

    juce::FileInputStream stream (file);
    if (stream.failedToOpen())
        return fail ("cannot open " + quoted (path) + ": " + stream.getStatus().getErrorMessage());

    return juce::Result::ok();
}

/** An output written under a temporary name in its target's folder. The target is replaced
    only by commit(), so a failed or interrupted run leaves any existing file as it was; the
    temporary file is deleted when this object goes away. */
class PendingOutput
{
public:
    PendingOutput (const juce::String& pathAsTyped)
        : path (pathAsTyped), temporary (resolvePath (pathAsTyped))
    {
        removalOnSignal = std::make_unique<interruptCleanup::ScopedRegistration> (temporary.getFile());
    }

    juce::Result open()
    {
        const auto target = temporary.getTargetFile();
        if (target.isDirectory())
            return fail ("cannot write " + quoted (path) + ": it is a folder");

        if (!target.getParentDirectory().isDirectory())
            return fail ("cannot write " + quoted (path) + ": the folder " +
                         quoted (target.getParentDirectory().getFullPathName()) + " does not exist");

        stream = std::make_unique<juce::FileOutputStream> (temporary.getFile());
        if (stream->failedToOpen())
        {
            const auto reason = stream->getStatus().getErrorMessage();
            stream.reset();
            return fail ("cannot write " + quoted (path) + ": " + reason);
        }

        return juce::Result::ok();
    }

    /** Flushes and closes the stream, if it is still owned here. */
    juce::Result close()
    {
        if (stream == nullptr)
            return juce::Result::ok();

        stream->flush();
        const auto status = stream->getStatus();
        stream.reset();

        if (status.failed())
            return fail ("cannot write " + quoted (path) + ": " + status.getErrorMessage());

        return juce::Result::ok();
    }

    juce::Result commit()
    {
        if (!temporary.overwriteTargetFileWithTemporary())
            return fail ("cannot replace " + quoted (path) + " with the finished file");

        return juce::Result::ok();
    }

    const juce::String& getPath() const noexcept { return path; }
    juce::File getTemporaryFile() const { return temporary.getFile(); }

    /** The open stream; whoever takes it over (an audio writer) closes it. */
    std::unique_ptr<juce::FileOutputStream> stream;

private:
    juce::String path;
    // Declared before the temporary file, so that it is given up only once the file is gone.
    std::unique_ptr<interruptCleanup::ScopedRegistration> removalOnSignal;
    juce::TemporaryFile temporary;
};

juce::Result loadState (VarnelleAudioProcessor& processor, const juce::String& path)
{
    const auto file = resolvePath (path);
    if (const auto readable = checkReadableFile (file, path); readable.failed())
        return fail ("cannot load the state: " + readable.getErrorMessage());

    if (file.getSize() > maxStateFileBytes)
        return fail (quoted (path) + " is too large to be a Varnelle state block");

    juce::MemoryBlock data;
    if (!file.loadFileAsData (data))
        return fail ("cannot read the state file " + quoted (path));

    if (!varnelle::restoreStateBlock (processor.parameters, data.getData(), (int)data.getSize()))
        return fail (quoted (path) +
                     " is not a Varnelle state block (the data a host or preset file stores)");

    return juce::Result::ok();
}

juce::Result writeAndClose (PendingOutput& output, const juce::MemoryBlock& data)
{
    if (!output.stream->write (data.getData(), data.getSize()))
    {
        output.close();
        return fail ("cannot write " + quoted (output.getPath()));
    }

    return output.close();
}

juce::Result writeStateFile (PendingOutput& output, const juce::MemoryBlock& data)
{
    auto result = output.open();
    if (result.wasOk())
        result = writeAndClose (output, data);
    if (result.wasOk())
        result = output.commit();
    return result;
}

juce::String listParameters (juce::AudioProcessor& processor)
{
    juce::StringArray lines;
    for (auto* parameter : processor.getParameters())
    {
        const auto* withId = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter);
        if (withId == nullptr)
            continue;

        auto line = "  " + withId->paramID;
        if (const auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
        {
            const auto& range = ranged->getNormalisableRange();
            line << " (" << formatNumber (range.start) << " .. " << formatNumber (range.end) << ")";
        }
        lines.add (line);
    }
    return lines.joinIntoString ("\n");
}

juce::Result applySettings (VarnelleAudioProcessor& processor, const std::vector<ParameterSetting>& settings,
                            const RenderCallbacks& callbacks)
{
    for (const auto& setting : settings)
    {
        auto* parameter = processor.parameters.getParameter (setting.id);
        if (parameter == nullptr)
            return fail ("unknown parameter ID " + quoted (setting.id) + "; the valid IDs are:\n" +
                         listParameters (processor));

        // Clamped here rather than by the range so that a huge value never meets a float cast.
        const auto& range = parameter->getNormalisableRange();
        const double value = juce::jlimit ((double)range.start, (double)range.end, setting.value);
        if (value != setting.value && callbacks.warning)
            callbacks.warning (setting.id + "=" + formatNumber (setting.value) + " is outside " +
                               formatNumber (range.start) + " .. " + formatNumber (range.end) + "; using " +
                               formatNumber (value));

        parameter->setValueNotifyingHost (parameter->convertTo0to1 ((float)value));
    }

    return juce::Result::ok();
}

/** Writes the analyzer frames as CSV rows, each float with enough digits to read back exactly. */
/** One pass of the processor over an input file. The steps are separate so that every
    output can be opened, and so checked for writability, before the long part starts. */
class AudioRender
{
public:
    AudioRender (VarnelleAudioProcessor& processorToUse, const RenderOptions& renderOptions,
                 const RenderCallbacks& renderCallbacks)
        : processor (processorToUse), options (renderOptions), callbacks (renderCallbacks),
          audioOutput (renderOptions.outputPath)
    {
        if (options.spectraPath.isNotEmpty())
            frameFiles.push_back ({std::make_unique<PendingOutput> (options.spectraPath),
                                   FrameCsvWriter::Content::spectra, nullptr});
        if (options.gainChangesPath.isNotEmpty())
            frameFiles.push_back ({std::make_unique<PendingOutput> (options.gainChangesPath),
                                   FrameCsvWriter::Content::gainChanges, nullptr});
        if (options.snapshotPath.isNotEmpty())
            snapshotOutput = std::make_unique<PendingOutput> (options.snapshotPath);
    }

    /** Opens the window off screen, as a host would, so its display follows the render. */
    void createEditor()
    {
        if (snapshotOutput == nullptr)
            return;

        editor = std::make_unique<VarnelleAudioProcessorEditor> (processor, false);
        editor->setSize (options.snapshotWidth, options.snapshotHeight);
        editor->selectBand (options.snapshotSelectedBand);
        auto& viewButton =
            options.snapshotShowsAfterGain ? editor->getAfterButton() : editor->getBeforeButton();
        viewButton.setToggleState (true, juce::sendNotificationSync);
        editor->showChangeView (options.snapshotShowsChange);
    }

    /** The display's 30 Hz timer, in audio time: one tick per 1/30 s of rendered audio. */
    void tickDisplayUpTo (juce::int64 position)
    {
        if (editor == nullptr)
            return;

        while ((double)nextDisplayTick * sampleRate / 30.0 <= (double)position)
        {
            editor->getSpectrogram().timerCallback();
            editor->getActivityMeters().poll (1000.0 * (double)nextDisplayTick / 30.0); // audio time, ms
            ++nextDisplayTick;
        }
    }

    juce::Result writeSnapshot()
    {
        if (editor == nullptr)
            return juce::Result::ok();

        const auto image = editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f);
        juce::PNGImageFormat png;
        if (!png.writeImageToStream (image, *snapshotOutput->stream))
        {
            snapshotOutput->close();
            return fail ("cannot write " + quoted (snapshotOutput->getPath()));
        }
        return snapshotOutput->close();
    }

    juce::Result openInput()
    {
        const auto file = resolvePath (options.inputPath);
        if (const auto readable = checkReadableFile (file, options.inputPath); readable.failed())
            return readable;

        if (const auto opened = openInputAudio (file.createInputStream(), quoted (options.inputPath), input);
            opened.failed())
            return opened;

        if (input->getNumChannels() != 1 && input->getNumChannels() != 2)
            return fail (quoted (options.inputPath) + " has " + juce::String (input->getNumChannels()) +
                         " channels; only mono and stereo files can be rendered");

        // Far outside any real rate a damaged header is the likelier story.
        if (!std::isfinite (input->getSampleRate()) || input->getSampleRate() < 1000.0 ||
            input->getSampleRate() > 768000.0)
            return fail (quoted (options.inputPath) + " has no usable sample rate (" +
                         formatNumber (input->getSampleRate()) + " Hz; 1000 to 768000 Hz can be rendered)");

        numChannels = input->getNumChannels();
        sampleRate = input->getSampleRate();
        return openKey();
    }

    // The key must run at the input's rate: a key resampled quietly would put its sounds at
    // other moments and frequencies than the user hears.
    juce::Result openKey()
    {
        if (options.keyPath.isEmpty())
            return juce::Result::ok();

        const auto file = resolvePath (options.keyPath);
        if (const auto readable = checkReadableFile (file, options.keyPath); readable.failed())
            return readable;
        if (const auto opened = openInputAudio (file.createInputStream(), quoted (options.keyPath), key);
            opened.failed())
            return opened;

        if (key->getNumChannels() != 1 && key->getNumChannels() != 2)
            return fail ("the key " + quoted (options.keyPath) + " has " +
                         juce::String (key->getNumChannels()) + " channels; a key is mono or stereo");
        if (key->getSampleRate() != sampleRate)
            return fail ("the key " + quoted (options.keyPath) + " is at " +
                         formatNumber (key->getSampleRate()) + " Hz but " + quoted (options.inputPath) +
                         " is at " + formatNumber (sampleRate) +
                         " Hz; convert the key to the input's sample rate");
        numKeyChannels = key->getNumChannels();
        return juce::Result::ok();
    }

    // A key's next samples into the buffer's key channels: as many as the input gave (a key
    // longer than the input is cut), silence where the key has ended.
    juce::Result readKey (juce::AudioBuffer<float>& buffer, int fromInput, int numSamples)
    {
        if (key == nullptr)
            return juce::Result::ok();

        float* channels[2] = {buffer.getWritePointer (numChannels),
                              buffer.getWritePointer (numChannels + numKeyChannels - 1)};
        int fromKey = 0;
        if (!keyEnded && fromInput > 0)
        {
            fromKey = key->read (channels, fromInput);
            if (fromKey < 0)
                return fail ("cannot read the key " + quoted (options.keyPath) + ": " + key->getError());
            keyEnded = fromKey < fromInput;
        }
        for (int ch = numChannels; ch < numChannels + numKeyChannels; ++ch)
            buffer.clear (ch, fromKey, numSamples - fromKey);
        return juce::Result::ok();
    }

    juce::Result prepareProcessor()
    {
        const auto channelSet =
            numChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();

        processor.enableAllBuses();
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (channelSet);
        layout.outputBuses.add (channelSet);
        if (processor.isKeyed())
            layout.inputBuses.add (numKeyChannels == 0   ? juce::AudioChannelSet::disabled()
                                   : numKeyChannels == 1 ? juce::AudioChannelSet::mono()
                                                         : juce::AudioChannelSet::stereo());
        if (!processor.setBusesLayout (layout))
            return fail ("the processor does not accept a " + channelSet.getDescription() + " layout");

        processor.setRateAndBufferSizeDetails (sampleRate, options.blockSize);
        if (processor.getTotalNumInputChannels() != numChannels + numKeyChannels ||
            processor.getTotalNumOutputChannels() != numChannels)
            return fail ("the processor could not be set up for " + juce::String (numChannels) + " channels");

        processor.setNonRealtime (true);
        processor.setListeningToChange (options.listensToChange);
        processor.setListeningToBand (options.listenedBand);
        processor.prepareToPlay (sampleRate, options.blockSize);
        return juce::Result::ok();
    }

    juce::Result openOutputs()
    {
        if (const auto opened = audioOutput.open(); opened.failed())
            return opened;

        auto* stream = audioOutput.stream.get();
        writer.reset (wav.createWriterFor (stream, sampleRate, (unsigned int)numChannels, 32, {}, 0));
        if (writer == nullptr)
            return fail ("cannot write a " + juce::String (numChannels) + "-channel WAV file at " +
                         formatNumber (sampleRate) + " Hz to " + quoted (audioOutput.getPath()));
        audioOutput.stream.release(); // the writer owns and closes it now

        for (auto& file : frameFiles)
        {
            if (const auto opened = file.output->open(); opened.failed())
                return opened;

            file.writer = std::make_unique<FrameCsvWriter> (*file.output->stream, file.content);
            if (!file.writer->writeHeader())
                return fail ("cannot write " + quoted (file.output->getPath()));
        }

        if (snapshotOutput != nullptr)
            if (const auto opened = snapshotOutput->open(); opened.failed())
                return opened;

        return juce::Result::ok();
    }

    juce::Result process()
    {
        // The input is followed by one latency's worth of silence; the output starts one
        // latency late, so dropping its first samples leaves exactly the input's length. The
        // input's end is where its reader stops, whatever its header said.
        const juce::int64 latency = varnelle::latencySamples;
        const juce::int64 hop = varnelle::hopSize;
        juce::int64 inputEnd = -1; // unknown until the reader returns less than asked

        juce::AudioBuffer<float> buffer (numChannels + numKeyChannels, options.blockSize);
        juce::MidiBuffer midi;
        ProgressReporter progress (callbacks, expectedSeconds() > minSecondsForProgress);

        for (juce::int64 position = 0; inputEnd < 0 || position < inputEnd + latency;)
        {
            auto end = position + options.blockSize;

            // A frame is published at the last sample of every hop-aligned stretch, so a
            // chunk that never crosses a hop boundary holds at most one new frame, which is
            // polled before the next can replace it.
            if (!frameFiles.empty())
                end = std::min (end, (position / hop + 1) * hop);

            int fromInput = 0;
            if (inputEnd < 0)
            {
                fromInput = input->read (buffer.getArrayOfWritePointers(), (int)(end - position));
                if (fromInput < 0)
                    return fail ("cannot read " + quoted (options.inputPath) + " at sample " +
                                 juce::String (position) + ": " + input->getError());

                if (fromInput < end - position)
                {
                    inputEnd = position + fromInput;
                    for (const auto& warning : input->getWarnings())
                        if (callbacks.warning)
                            callbacks.warning (warning);
                }
            }

            if (inputEnd >= 0)
                end = std::min (end, inputEnd + latency);

            const int numSamples = (int)(end - position);
            for (int ch = 0; ch < numChannels && fromInput < numSamples; ++ch)
                buffer.clear (ch, fromInput, numSamples - fromInput);
            if (const auto keyRead = readKey (buffer, fromInput, numSamples); keyRead.failed())
                return keyRead;

            juce::AudioBuffer<float> processed (buffer.getArrayOfWritePointers(),
                                                numChannels + numKeyChannels, numSamples);
            processor.processBlock (processed, midi);
            juce::AudioBuffer<float> chunk (buffer.getArrayOfWritePointers(), numChannels, numSamples);

            const int skip = (int)juce::jlimit<juce::int64> (0, numSamples, latency - position);
            if (skip < numSamples && !writer->writeFromAudioSampleBuffer (chunk, skip, numSamples - skip))
                return fail ("cannot write " + quoted (audioOutput.getPath()) + " (is the disk full?)");

            if (!frameFiles.empty())
                if (const auto polled = pollFrame(); polled.failed())
                    return polled;

            position = end;
            tickDisplayUpTo (position);
            progress.update (proportionDone (position, inputEnd));
        }

        inputLength = inputEnd;
        processor.releaseResources();
        return juce::Result::ok();
    }

    /** Closes the outputs and checks that the audio file reads back whole. */
    juce::Result finishOutputs()
    {
        writer.reset();
        input.reset();
        key.reset();

        const auto written = audioOutput.getTemporaryFile();
        auto writtenStream = written.createInputStream();
        std::unique_ptr<juce::AudioFormatReader> check (
            writtenStream != nullptr ? wav.createReaderFor (writtenStream.release(), true) : nullptr);
        if (check == nullptr || (int)check->numChannels != numChannels ||
            check->lengthInSamples != inputLength)
            return fail ("cannot write " + quoted (audioOutput.getPath()) +
                         " completely (is the disk full?)");
        check.reset();

        for (auto& file : frameFiles)
        {
            file.writer.reset();
            if (const auto closed = file.output->close(); closed.failed())
                return closed;
        }

        return juce::Result::ok();
    }

    juce::Result commit()
    {
        if (const auto committed = audioOutput.commit(); committed.failed())
            return committed;

        for (auto& file : frameFiles)
            if (const auto committed = file.output->commit(); committed.failed())
                return committed;

        if (snapshotOutput != nullptr)
            return snapshotOutput->commit();

        return juce::Result::ok();
    }

private:
    class ProgressReporter
    {
    public:
        ProgressReporter (const RenderCallbacks& renderCallbacks, bool isEnabled)
            : callbacks (renderCallbacks), enabled (isEnabled && renderCallbacks.progress)
        {
        }

        void update (double proportionDone)
        {
            if (!enabled)
                return;

            while (nextPercent <= 100 && proportionDone * 100.0 >= (double)nextPercent)
            {
                callbacks.progress (nextPercent);
                nextPercent += 10;
            }
        }

    private:
        const RenderCallbacks& callbacks;
        bool enabled;
        int nextPercent = 10;
    };

    /** The input's duration as far as it can be told before reading it: the real length of a
        WAV or AIFF, the header's claim for FLAC (the percentages then follow the bytes read). */
    double expectedSeconds() const
    {
        const auto length =
            input->getKnownLength() >= 0 ? input->getKnownLength() : input->getClaimedLength();
        return (double)length / sampleRate;
    }

    double proportionDone (juce::int64 position, juce::int64 inputEnd) const
    {
        constexpr auto latency = (double)varnelle::latencySamples;
        if (inputEnd >= 0)
            return (double)position / ((double)inputEnd + latency);
        if (const auto known = input->getKnownLength(); known >= 0)
            return (double)position / ((double)known + latency);
        return std::min (input->getProportionRead(), 0.99);
    }

    juce::Result pollFrame()
    {
        const int previous = lastSeenFrame;
        if (!processor.getLatestDisplayFrame (*latestFrame, lastSeenFrame))
            return juce::Result::ok();

        if (lastSeenFrame != previous + 1)
            return fail ("analyzer frames " + juce::String (previous) + " to " +
                         juce::String (lastSeenFrame - 2) + " were published before they could be written");

        for (auto& file : frameFiles)
            if (!file.writer->writeFrame (lastSeenFrame - 1, *latestFrame))
                return fail ("cannot write " + quoted (file.output->getPath()) + " (is the disk full?)");

        return juce::Result::ok();
    }

    VarnelleAudioProcessor& processor;
    const RenderOptions& options;
    const RenderCallbacks& callbacks;

    juce::WavAudioFormat wav;
    std::unique_ptr<InputAudio> input;
    std::unique_ptr<InputAudio> key;
    int numKeyChannels = 0;
    bool keyEnded = false;
    int numChannels = 0;
    double sampleRate = 0.0;
    juce::int64 inputLength = 0;

    // Each writer is declared after the output it writes into, so it is destroyed, and closes
    // its stream, before the temporary file goes.
    PendingOutput audioOutput;
    std::unique_ptr<juce::AudioFormatWriter> writer;
    // A file of one row per analysis frame (--spectra, --gain-changes).
    struct FrameFile
    {
        std::unique_ptr<PendingOutput> output;
        FrameCsvWriter::Content content;
        std::unique_ptr<FrameCsvWriter> writer;
    };
    std::vector<FrameFile> frameFiles;
    std::unique_ptr<PendingOutput> snapshotOutput;
    std::unique_ptr<VarnelleAudioProcessorEditor> editor;
    juce::int64 nextDisplayTick = 1;

    std::unique_ptr<varnelle::DisplayFrame> latestFrame = std::make_unique<varnelle::DisplayFrame>();
    int lastSeenFrame = 0;
};
} // namespace

juce::Result runRender (const RenderOptions& options, const RenderCallbacks& callbacks)
{
    VarnelleAudioProcessor processor (options.keyPath.isNotEmpty() ? VarnelleAudioProcessor::Variant::keyed
                                                                   : VarnelleAudioProcessor::Variant::plain);

    if (options.statePath.isNotEmpty())
        if (const auto loaded = loadState (processor, options.statePath); loaded.failed())
            return loaded;

    if (const auto applied = applySettings (processor, options.settings, callbacks); applied.failed())
        return applied;

    // Taken now: this is the state the audio is rendered with.
    juce::MemoryBlock stateBlock;
    std::unique_ptr<PendingOutput> stateOutput;
    if (options.saveStatePath.isNotEmpty())
    {
        processor.getStateInformation (stateBlock);
        if (stateBlock.isEmpty())
            return fail ("the processor produced no state to save");

        stateOutput = std::make_unique<PendingOutput> (options.saveStatePath);
    }

    if (!options.rendersAudio())
    {
        if (stateOutput == nullptr)
            return juce::Result::ok();

        return writeStateFile (*stateOutput, stateBlock);
    }

    AudioRender render (processor, options, callbacks);

    // Everything that can be checked up front is, so that a bad output path shows before
    // a long render rather than after it.
    auto result = render.openInput();
    if (result.wasOk())
        result = render.prepareProcessor();
    if (result.wasOk())
        result = render.openOutputs();
    if (result.wasOk() && stateOutput != nullptr)
        result = stateOutput->open();
    if (result.wasOk())
    {
        render.createEditor();
        result = render.process();
    }
    if (result.wasOk())
        result = render.finishOutputs();
    if (result.wasOk())
        result = render.writeSnapshot();
    if (result.wasOk() && stateOutput != nullptr)
        result = writeAndClose (*stateOutput, stateBlock);
    if (result.wasOk())
        result = render.commit();
    if (result.wasOk() && stateOutput != nullptr)
        result = stateOutput->commit();

    return result;
}
