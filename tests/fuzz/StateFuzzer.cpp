// libFuzzer target for the plug-in's state restore.
//
// Input layout: the first byte picks the mode, the rest is the payload.
//   even first byte: the payload is handed to setStateInformation as it is (a whole block,
//                    header included), so the magic and length checks get fuzzed too;
//   odd first byte:  the payload is XML text, wrapped in a valid header (magic "VC2!", its
//                    length, a trailing zero byte) so most inputs get past the header and
//                    exercise the XML parser and the parameter tree restore.
//
// After each input the target checks, and traps when one fails:
//   - every parameter's raw value is finite and inside its range;
//   - a block that could not be decoded left the state exactly as it was;
//   - a "value" that is not a finite number left its parameter at the default;
//   - the saved state is a well-formed block that restores again, brings back exactly the
//     values the plug-in had, and saves to the same bytes once more;
//   - a short run of processBlock over a fixed signal yields finite samples only.
// Before each input the processor goes back to its default state, so inputs do not depend
// on each other and a crash file reproduces on its own.
//
// Setting VARNELLE_FUZZ_WRITE_SEEDS=<dir> makes the binary write the seed corpus into <dir>
// and exit instead of fuzzing.
//
// Setting VARNELLE_FUZZ_SKIP_KNOWN_ISSUES=1 skips the kinds of input behind problems this
// target has already turned up, so that a long run can look for anything else. It is off by
// default, so a plain run still reports them:
//   - XML text that is not valid UTF-8: JUCE's XML parser then reads past the end of its
//     buffer or gets stuck for a long time (String::fromUTF8 checks validity only with a
//     debug assertion);
//   - a processing instruction ("<?...?>") inside an element: when text follows it, JUCE's
//     parser rolls back to before the instruction and loops for ever;
//   - a hexadecimal character reference ("&#x") that runs into the end of the text: the
//     parser steps over the terminating zero and reads past its buffer;
//   - a number whose exponent has ten or more digits: JUCE's number parser overflows an int
//     (undefined behaviour, reported by UBSan without stopping the run);
//   - an element that repeats an attribute name: the parser keeps both copies, the tree
//     reads the first "value" while saving writes the last, and only the first is checked
//     for non-finite numbers.

#include "SeedRequest.h"
#include "engine/StatePersistence.h"
#include "engine/VarnelleAudioProcessor.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace
{
constexpr std::uint32_t stateMagic = 0x21324356; // "VC2!" little-endian
constexpr double sampleRate = 44100.0;
constexpr int blockSize = 256;
constexpr int numChannels = 2;

// The engine outputs nothing for its first 2048 samples and computes its first frame at the
// 2048th, so nine blocks (2304 samples) put a frame computed with the restored parameters on
// the output. Frames are the expensive part under the sanitizers; one per channel is enough.
constexpr int blocksPerAudioCheck = 9;

// With a fresh engine and a fixed signal, the audio depends on the 55 parameter values alone.
// Most inputs that decode restore a set of values seen before, and those need no second run.
constexpr size_t maxRememberedValueSets = 1u << 18;

[[noreturn]] void fail (const char* what, const juce::String& detail = {})
{
    std::fprintf (stderr, "\n*** varnelle_state_fuzzer: invariant broken: %s %s\n", what, detail.toRawUTF8());
    std::fflush (stderr);
    __builtin_trap();
}

void check (bool condition, const char* what, const juce::String& detail = {})
{
    if (!condition)
        fail (what, detail);
}

bool sameBytes (const juce::MemoryBlock& a, const juce::MemoryBlock& b)
{
    return a.getSize() == b.getSize() && std::memcmp (a.getData(), b.getData(), a.getSize()) == 0;
}

void appendLittleEndian32 (juce::MemoryBlock& block, std::uint32_t value)
{
    const std::uint8_t bytes[4] = {(std::uint8_t)value, (std::uint8_t) (value >> 8),
                                   (std::uint8_t) (value >> 16), (std::uint8_t) (value >> 24)};
    block.append (bytes, sizeof (bytes));
}

// The header the processor itself writes: magic, text length (without the zero byte), text, 0.
juce::MemoryBlock wrapInHeader (const void* text, size_t textSize)
{
    juce::MemoryBlock block;
    appendLittleEndian32 (block, stateMagic);
    appendLittleEndian32 (block, (std::uint32_t)textSize);
    if (textSize > 0)
        block.append (text, textSize);
    const std::uint8_t zero = 0;
    block.append (&zero, 1);
    return block;
}

// For the crash report: the first place where two saved blocks' XML texts differ.
juce::String describeDifference (const juce::MemoryBlock& a, const juce::MemoryBlock& b)
{
    const auto textA = a.getSize() > 8
                           ? juce::String::fromUTF8 ((const char*)a.getData() + 8, (int)a.getSize() - 9)
                           : juce::String();
    const auto textB = b.getSize() > 8
                           ? juce::String::fromUTF8 ((const char*)b.getData() + 8, (int)b.getSize() - 9)
                           : juce::String();
    int i = 0;
    while (i < textA.length() && i < textB.length() && textA[i] == textB[i])
        ++i;
    const int from = juce::jmax (0, i - 60);
    return "(sizes " + juce::String ((int)a.getSize()) + " and " + juce::String ((int)b.getSize()) +
           ", first difference at " + juce::String (i) + ")\n  expected: ..." +
           textA.substring (from, i + 60) + "...\n  actual:   ..." + textB.substring (from, i + 60) + "...";
}

struct ParameterInfo
{
    juce::RangedAudioParameter* parameter = nullptr;
    juce::String id;
    juce::NormalisableRange<float> range;
    std::atomic<float>* raw = nullptr;
    float defaultValue = 0.0f; // real units, as the tree restores it when a value is missing
};

class Harness
{
public:
    Harness()
    {
        const auto& all = processor.getParameters();
        check (all.size() == varnelle::numParameters, "parameter count", juce::String (all.size()));

        for (auto* p : all)
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
            check (ranged != nullptr, "parameter is not ranged", p->getName (64));

            ParameterInfo info;
            info.parameter = ranged;
            info.id = ranged->paramID;
            info.range = ranged->getNormalisableRange();
            info.raw = processor.parameters.getRawParameterValue (info.id);
            info.defaultValue = info.range.convertFrom0to1 (ranged->getDefaultValue());
            check (info.raw != nullptr, "no raw value for", info.id);
            params.push_back (info);
        }

        processor.getStateInformation (defaultState);
        check (defaultState.getSize() > 9, "default state is empty");
        const auto defaultXml =
            juce::AudioProcessor::getXmlFromBinary (defaultState.getData(), (int)defaultState.getSize());
        check (defaultXml != nullptr, "default state does not parse");
        defaultTree = juce::ValueTree::fromXml (*defaultXml);

        processor.prepareToPlay (sampleRate, blockSize);
        buffer.setSize (numChannels, blockSize);
        makeSignal();

        // The starting point itself must pass every check, or no finding would mean anything.
        checkParameters();
        checkRoundTrip();
        checkAudio();
    }

    void run (const std::uint8_t* data, size_t size)
    {
        resetToDefaults();

        juce::MemoryBlock wrapped;
        const void* block = nullptr;
        int blockBytes = 0;

        if (size > 0 && (data[0] & 1) != 0)
        {
            wrapped = wrapInHeader (data + 1, size - 1);
            block = wrapped.getData();
            blockBytes = (int)wrapped.getSize();
        }
        else if (size > 0)
        {
            block = data + 1;
            blockBytes = (int)(size - 1);
        }

        if (skipKnownIssues && textHasKnownIssue (block, blockBytes))
            return;

        // Decoded separately so the checks know what the restore was given to work with.
        const auto decoded = varnelle::decodeStateBlock (processor.parameters, block, blockBytes);

        if (skipKnownIssues && decoded != nullptr && repeatsAnAttribute (*decoded))
            return;

        // Compared with the state after the reset rather than with the default block:
        // restoring a saved value over a different one can land a few float steps away from
        // it (the value goes through the parameter's normalised form and back), so the reset
        // state depends slightly on the previous input.
        if (decoded == nullptr)
            processor.getStateInformation (stateBefore);

        processor.setStateInformation (block, blockBytes);

        checkParameters();

        if (decoded == nullptr)
        {
            juce::MemoryBlock after;
            processor.getStateInformation (after);
            if (!sameBytes (after, stateBefore))
                fail ("an unusable block changed the state", describeDifference (stateBefore, after));
            return;
        }

        checkDroppedValuesTookDefaults (*decoded);
        checkRoundTrip();
        checkAudio();
    }

    void writeSeeds (const juce::File& dir) const;

private:
    static bool repeatsAnAttribute (const juce::XmlElement& element)
    {
        const int count = element.getNumAttributes();
        for (int i = 1; i < count; ++i)
            for (int j = 0; j < i; ++j)
                if (element.getAttributeName (i) == element.getAttributeName (j))
                    return true;

        for (auto* child : element.getChildIterator())
            if (repeatsAnAttribute (*child))
                return true;

        return false;
    }

    static bool isHexDigit (char c)
    {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }

    static bool isDigit (char c) { return c >= '0' && c <= '9'; }

    // Looks at the bytes AudioProcessor::getXmlFromBinary hands to String::fromUTF8, which
    // end at the first zero byte.
    static bool textHasKnownIssue (const void* block, int blockBytes)
    {
        if (block == nullptr || blockBytes <= 8 || juce::ByteOrder::littleEndianInt (block) != stateMagic)
            return false;

        const auto* bytes = static_cast<const char*> (block);
        const auto length = (int)juce::ByteOrder::littleEndianInt (bytes + 4);
        if (length <= 0)
            return false;

        const char* text = bytes + 8;
        const int available = juce::jmin (blockBytes - 8, length);
        if (!juce::CharPointer_UTF8::isValidString (text, available))
            return true;

        const int n = (int)(std::find (text, text + available, '\0') - text);
        bool insideRoot = false;
        for (int i = 0; i < n; ++i)
        {
            const char c = text[i];
            const char next = i + 1 < n ? text[i + 1] : '\0';

            if (c == '<' && next != '?' && next != '!')
                insideRoot = true;
            else if (c == '<' && next == '?' && insideRoot)
                return true;

            if (c == '&' && next == '#' && i + 2 < n && (text[i + 2] == 'x' || text[i + 2] == 'X'))
            {
                int j = i + 3;
                while (j < n && j - (i + 3) <= 8 && isHexDigit (text[j]))
                    ++j;
                if (j >= n)
                    return true;
            }

            if (c == 'e' || c == 'E')
            {
                int j = i + 1;
                if (j < n && (text[j] == '+' || text[j] == '-'))
                    ++j;
                while (j < n && text[j] == '0')
                    ++j;
                int digits = 0;
                while (j < n && isDigit (text[j]))
                {
                    ++j;
                    ++digits;
                }
                if (digits >= 10)
                    return true;
            }
        }

        return false;
    }

    // The tree a restore of the default block builds, handed over directly: parsing the
    // block again for every input would cost a good part of the fuzzer's speed.
    void resetToDefaults() { processor.parameters.replaceState (defaultTree.createCopy()); }

    void checkParameters() const
    {
        for (const auto& p : params)
        {
            const float v = p.raw->load();
            check (std::isfinite (v), "raw value is not finite:", p.id);
            check (v >= p.range.start && v <= p.range.end,
                   "raw value out of range:", p.id + " = " + juce::String (v, 9));
        }
    }

    // The tree takes each parameter's value from the last child carrying its id, whatever
    // the child's tag. If that child's "value" attributes are all non-numbers like "nan" or
    // "inf", the parameter must sit at its default. A "base64:value" attribute also becomes
    // the "value" property, so such children are left out of this check.
    void checkDroppedValuesTookDefaults (const juce::XmlElement& root) const
    {
        for (const auto& p : params)
        {
            const juce::XmlElement* last = nullptr;
            for (auto* child : root.getChildIterator())
                if (child->getStringAttribute ("id") == p.id)
                    last = child;

            if (last == nullptr)
                continue;

            bool anyValue = false;
            bool allNonFinite = true;
            for (int i = 0; i < last->getNumAttributes(); ++i)
            {
                const auto name = last->getAttributeName (i);
                if (name == "base64:value")
                {
                    allNonFinite = false;
                    break;
                }
                if (name == "value")
                {
                    anyValue = true;
                    // strtod rather than JUCE's reader, which overflows on long exponents.
                    const auto text = last->getAttributeValue (i).toStdString();
                    if (std::isfinite (std::strtod (text.c_str(), nullptr)))
                        allNonFinite = false;
                }
            }

            if (!(anyValue && allNonFinite))
                continue;

            const float v = p.raw->load();
            const float tolerance = 1.0e-5f * (p.range.end - p.range.start);
            check (std::abs (v - p.defaultValue) <= tolerance, "a non-finite value did not give the default:",
                   p.id + " = " + juce::String (v, 9) + ", default " + juce::String (p.defaultValue, 9));
        }
    }

    void checkRoundTrip()
    {
        juce::MemoryBlock first;
        processor.getStateInformation (first);
        checkBlockShape (first);

        for (size_t i = 0; i < params.size(); ++i)
            liveValues[i] = params[i].raw->load();

        check (varnelle::restoreStateBlock (processor.parameters, first.getData(), (int)first.getSize()),
               "the saved state was not accepted back");
        checkParameters();

        // The saved block must hold the values the plug-in was running with, or a host
        // session would reopen with different settings.
        for (size_t i = 0; i < params.size(); ++i)
        {
            const float now = params[i].raw->load();
            if (!(now == liveValues[i]))
                fail ("the saved state does not hold the live value of",
                      params[i].id + ": live " + juce::String (liveValues[i], 9) +
                          ", restored from the saved state " + juce::String (now, 9));
        }

        juce::MemoryBlock second;
        processor.getStateInformation (second);
        if (!sameBytes (first, second))
            fail ("save -> restore -> save changed the bytes", describeDifference (first, second));
    }

    static void checkBlockShape (const juce::MemoryBlock& block)
    {
        const auto size = block.getSize();
        check (size > 9, "saved block too short", juce::String ((int)size));
        const auto* bytes = static_cast<const std::uint8_t*> (block.getData());
        const auto magic = juce::ByteOrder::littleEndianInt (bytes);
        const auto length = juce::ByteOrder::littleEndianInt (bytes + 4);
        check (magic == stateMagic, "saved block has the wrong magic");
        check (length == size - 9, "saved block length field",
               juce::String (length) + " vs " + juce::String ((int)size));
        check (bytes[size - 1] == 0, "saved block lacks the zero byte");
    }

    void makeSignal()
    {
        // Tones across the five default bands plus a little noise, loud enough to reach the
        // level ranges; fixed, so a crash file reproduces.
        const int total = blockSize * blocksPerAudioCheck;
        signal.setSize (numChannels, total);
        std::uint32_t noise = 12345u;
        for (int ch = 0; ch < numChannels; ++ch)
        {
            auto* out = signal.getWritePointer (ch);
            for (int i = 0; i < total; ++i)
            {
                const double t = i / sampleRate;
                noise = noise * 1664525u + 1013904223u;
                const double n = ((double)(noise >> 8) / (double)(1u << 24)) * 2.0 - 1.0;
                const double s = 0.30 * std::sin (2.0 * juce::MathConstants<double>::pi * 60.0 * t) +
                                 0.20 * std::sin (2.0 * juce::MathConstants<double>::pi * 330.0 * t + ch) +
                                 0.15 * std::sin (2.0 * juce::MathConstants<double>::pi * 1500.0 * t) +
                                 0.10 * std::sin (2.0 * juce::MathConstants<double>::pi * 4800.0 * t) +
                                 0.05 * std::sin (2.0 * juce::MathConstants<double>::pi * 12000.0 * t) +
                                 0.05 * n;
                out[i] = (float)s;
            }
        }
    }

    std::uint64_t hashParameterValues() const
    {
        std::uint64_t hash = 14695981039346656037ull; // FNV-1a
        for (const auto& p : params)
        {
            const float v = p.raw->load();
            std::uint32_t bits;
            std::memcpy (&bits, &v, sizeof (bits));
            for (int i = 0; i < 4; ++i)
            {
                hash ^= (bits >> (8 * i)) & 0xffu;
                hash *= 1099511628211ull;
            }
        }
        return hash;
    }

    void checkAudio()
    {
        // A value set that passed once passes again, so only new ones are run. A crash file
        // run on its own is always new.
        if (checkedValueSets.size() >= maxRememberedValueSets)
            checkedValueSets.clear();
        if (!checkedValueSets.insert (hashParameterValues()).second)
            return;

        // Fresh engine history for every run, so the result depends on this input only.
        processor.releaseResources();

        for (int b = 0; b < blocksPerAudioCheck; ++b)
        {
            for (int ch = 0; ch < numChannels; ++ch)
                buffer.copyFrom (ch, 0, signal, ch, b * blockSize, blockSize);

            processor.processBlock (buffer, midi);

            for (int ch = 0; ch < numChannels; ++ch)
            {
                const auto* samples = buffer.getReadPointer (ch);
                for (int i = 0; i < blockSize; ++i)
                    if (!std::isfinite (samples[i]))
                        fail ("processBlock produced a non-finite sample:",
                              "channel " + juce::String (ch) + ", sample " +
                                  juce::String (b * blockSize + i));
            }
        }
    }

    // Held for the process lifetime: the processor's constructor needs the message manager.
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    VarnelleAudioProcessor processor;
    std::vector<ParameterInfo> params;
    juce::MemoryBlock defaultState;
    juce::MemoryBlock stateBefore;
    juce::ValueTree defaultTree;
    juce::AudioBuffer<float> buffer;
    juce::AudioBuffer<float> signal;
    juce::MidiBuffer midi;
    std::vector<float> liveValues = std::vector<float> ((size_t)varnelle::numParameters);
    std::unordered_set<std::uint64_t> checkedValueSets;
    const bool skipKnownIssues = std::getenv ("VARNELLE_FUZZ_SKIP_KNOWN_ISSUES") != nullptr &&
                                 std::string (std::getenv ("VARNELLE_FUZZ_SKIP_KNOWN_ISSUES")) != "0";
};

void writeFile (const juce::File& dir, const char* name, std::uint8_t mode, const void* payload, size_t size)
{
    juce::MemoryBlock bytes;
    bytes.append (&mode, 1);
    if (size > 0)
        bytes.append (payload, size);
    const auto file = dir.getChildFile (name);
    if (!file.replaceWithData (bytes.getData(), bytes.getSize()))
        fail ("could not write", file.getFullPathName());
}

void writeXmlSeed (const juce::File& dir, const char* name, const juce::XmlElement& xml)
{
    const auto text = xml.toString (juce::XmlElement::TextFormat().singleLine());
    const auto utf8 = text.toUTF8();
    writeFile (dir, name, 1, utf8.getAddress(), std::strlen (utf8.getAddress()));
}

void Harness::writeSeeds (const juce::File& dir) const
{
    check (dir.createDirectory().wasOk(), "could not create", dir.getFullPathName());

    const auto* bytes = static_cast<const std::uint8_t*> (defaultState.getData());
    const auto size = defaultState.getSize();
    const auto defaultXml = juce::AudioProcessor::getXmlFromBinary (bytes, (int)size);
    check (defaultXml != nullptr, "default state does not parse");

    // Whole blocks, header included.
    writeFile (dir, "default-block", 0, bytes, size);
    writeFile (dir, "truncated-block", 0, bytes, size / 2);
    {
        juce::MemoryBlock badMagic (defaultState);
        static_cast<char*> (badMagic.getData())[2] = '1';
        writeFile (dir, "wrong-magic-block", 0, badMagic.getData(), badMagic.getSize());
    }
    {
        juce::MemoryBlock longLength (defaultState);
        static_cast<std::uint8_t*> (longLength.getData())[7] = 0x7f;
        writeFile (dir, "overlong-length-block", 0, longLength.getData(), longLength.getSize());
    }

    // XML text only; the target adds the header.
    writeXmlSeed (dir, "default-xml", *defaultXml);

    {
        juce::XmlElement xml (*defaultXml);
        xml.setTagName ("parameters");
        writeXmlSeed (dir, "lowercase-root-xml", xml);
    }
    {
        juce::XmlElement xml (*defaultXml);
        if (auto* child = xml.getChildByAttribute ("id", "band2_gain"))
            child->removeAttribute ("value");
        if (auto* child = xml.getChildByAttribute ("id", "band4_freqLow"))
            child->removeAttribute ("value");
        writeXmlSeed (dir, "missing-value-xml", xml);
    }
    {
        juce::XmlElement xml (*defaultXml);
        if (auto* child = xml.getChildByAttribute ("id", "band1_gain"))
            child->setAttribute ("value", "nan");
        if (auto* child = xml.getChildByAttribute ("id", "band3_attackMs"))
            child->setAttribute ("value", "inf");
        if (auto* child = xml.getChildByAttribute ("id", "band5_freqHigh"))
            child->setAttribute ("value", "-1e999");
        writeXmlSeed (dir, "non-finite-value-xml", xml);
    }
    {
        juce::XmlElement xml (*defaultXml);
        auto* extra = xml.createNewChildElement ("EXTRA");
        extra->setAttribute ("id", "band1_gain");
        extra->setAttribute ("note", "not a parameter");
        auto* unknown = xml.createNewChildElement ("PARAM");
        unknown->setAttribute ("id", "band6_gain");
        unknown->setAttribute ("value", "3.0");
        writeXmlSeed (dir, "unknown-child-xml", xml);
    }
    {
        // Every parameter at one end of its range: the engine at its extremes.
        juce::XmlElement low (*defaultXml);
        juce::XmlElement high (*defaultXml);
        // The bypass switches stay off, or both files would describe an inert plug-in.
        for (const auto& p : params)
        {
            if (p.id.endsWith ("_bypass"))
                continue;
            if (auto* child = low.getChildByAttribute ("id", p.id))
                child->setAttribute ("value", (double)p.range.start);
            if (auto* child = high.getChildByAttribute ("id", p.id))
                child->setAttribute ("value", (double)p.range.end);
        }
        writeXmlSeed (dir, "range-start-xml", low);
        writeXmlSeed (dir, "range-end-xml", high);
    }
    {
        // A few values well outside their ranges, as a damaged or foreign preset might have.
        juce::XmlElement xml (*defaultXml);
        if (auto* child = xml.getChildByAttribute ("id", "band1_freqLow"))
            child->setAttribute ("value", "-5000");
        if (auto* child = xml.getChildByAttribute ("id", "band2_levelMax"))
            child->setAttribute ("value", "1e30");
        if (auto* child = xml.getChildByAttribute ("id", "band3_bypass"))
            child->setAttribute ("value", "0.7");
        if (auto* child = xml.getChildByAttribute ("id", "band4_releaseMs"))
            child->setAttribute ("value", "abc");
        writeXmlSeed (dir, "out-of-range-xml", xml);
    }
    {
        // The default values below 100,000 nested elements (700 KB): libFuzzer grows inputs far
        // too slowly to reach such depths by itself, so mutations start from the worst case.
        auto text = defaultXml->toString (juce::XmlElement::TextFormat().singleLine());
        const auto rootEnd = text.indexOf ("<PARAM");
        check (rootEnd > 0, "default state has no parameters");
        constexpr int depth = 100000;
        text = text.substring (0, rootEnd) + juce::String::repeatedString ("<a>", depth) +
               juce::String::repeatedString ("</a>", depth) + text.substring (rootEnd);
        const auto utf8 = text.toUTF8();
        writeFile (dir, "deep-nesting-xml", 1, utf8.getAddress(), std::strlen (utf8.getAddress()));
    }
}

Harness& harness()
{
    // Never destroyed: tearing JUCE down at exit, after libFuzzer is done, gains nothing.
    static auto* instance = new Harness();
    return *instance;
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    auto& h = harness();

    writeSeedsAndExitIfAsked ([&h] (const juce::File& dir) { h.writeSeeds (dir); });

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    harness().run (data, size);
    return 0;
}
