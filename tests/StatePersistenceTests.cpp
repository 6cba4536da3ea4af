#include "helpers/TestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace varnelle;

namespace
{
juce::MemoryBlock saveState (VarnelleAudioProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

void restore (VarnelleAudioProcessor& processor, const juce::MemoryBlock& block)
{
    processor.setStateInformation (block.getData(), (int)block.getSize());
}

juce::String stateText (const juce::MemoryBlock& block)
{
    return juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int)block.getSize() - 9);
}

/** A block with the right header around arbitrary text, as a host would store it. */
juce::MemoryBlock blockFromText (const juce::String& xmlText)
{
    juce::MemoryBlock block;
    juce::MemoryOutputStream out (block, false);
    const auto utf8 = xmlText.toRawUTF8();
    const auto length = (juce::uint32)std::strlen (utf8);
    out.writeInt (0x21324356);
    out.writeInt ((int)length);
    out.write (utf8, length);
    out.writeByte (0);
    return block;
}

juce::MemoryBlock blockWithParams (const juce::String& children, const juce::String& root = "Parameters")
{
    return blockFromText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <" + root + ">" + children + "</" +
                          root + ">");
}

float valueOf (VarnelleAudioProcessor& processor, const juce::String& id)
{
    return processor.parameters.getRawParameterValue (id)->load();
}

std::vector<float> allValues (VarnelleAudioProcessor& processor)
{
    std::vector<float> values;
    for (auto* p : processor.getParameters())
        values.push_back (valueOf (processor, dynamic_cast<juce::RangedAudioParameter*> (p)->paramID));
    return values;
}

/** Moves every parameter away from its default to a distinct, valid value. */
void setDistinctValues (VarnelleAudioProcessor& processor, juce::int64 seed)
{
    juce::Random random (seed);
    for (auto* p : processor.getParameters())
        p->setValueNotifyingHost (random.nextFloat());
}
} // namespace

TEST (StatePersistence, ARoundTripReproducesEveryValueExactly)
{
    VarnelleAudioProcessor source;
    setDistinctValues (source, 1);
    const auto block = saveState (source);

    VarnelleAudioProcessor fresh;
    restore (fresh, block);
    EXPECT_EQ (allValues (fresh), allValues (source));
    EXPECT_EQ (saveState (fresh), block);
}

TEST (StatePersistence, TheBlockLayoutIsWhatHostsStore)
{
    VarnelleAudioProcessor processor;
    const auto block = saveState (processor);
    const auto* bytes = static_cast<const juce::uint8*> (block.getData());
    ASSERT_GT (block.getSize(), 9u);
    EXPECT_EQ (bytes[0], 0x56);
    EXPECT_EQ (bytes[1], 0x43);
    EXPECT_EQ (bytes[2], 0x32);
    EXPECT_EQ (bytes[3], 0x21);
    EXPECT_EQ ((size_t)juce::ByteOrder::littleEndianInt (bytes + 4), block.getSize() - 9);
    EXPECT_EQ (bytes[block.getSize() - 1], 0);

    const auto text = stateText (block);
    EXPECT_TRUE (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Parameters>")) << text;
    EXPECT_FALSE (text.containsChar ('\n'));
    EXPECT_TRUE (text.contains ("<PARAM id=\"band1_attackMs\" value=\"25.0\"/>"));
    EXPECT_TRUE (text.contains ("<PARAM id=\"band5_freqHigh\" value=\"20000.0\"/>"));
    EXPECT_LT (text.indexOf ("band1_attackMs"), text.indexOf ("band1_bypass")); // byte order of the ids
    EXPECT_EQ (text.indexOf ("<PARAM"), text.indexOf ("<PARAM id=\"band1_attackMs\""));
}

TEST (StatePersistence, PartialBlocksMissingValuesAndLimits)
{
    VarnelleAudioProcessor processor;
    setDistinctValues (processor, 2);
    auto before = allValues (processor);

    restore (processor, blockWithParams ("<PARAM id=\"band1_gain\" value=\"-6\"/>"));
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), -6.0f);
    auto after = allValues (processor);
    after[4] = before[4];
    EXPECT_EQ (after, before); // the other 54 are untouched

    restore (processor, blockWithParams ("<PARAM id=\"band2_attackMs\"/>"));
    EXPECT_FLOAT_EQ (valueOf (processor, "band2_attackMs"), 25.0f);

    restore (processor, blockWithParams ("<PARAM id=\"band1_lookaheadMs\" value=\"5000\"/>"
                                         "<PARAM id=\"band1_gain\" value=\"3.04\"/>"
                                         "<PARAM id=\"band4_releaseMs\" value=\"-3\"/>"
                                         "<PARAM id=\"band3_bypass\" value=\"1\"/>"));
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_lookaheadMs"), 20.0f);
    EXPECT_NEAR (valueOf (processor, "band1_gain"), 3.0f, 1e-5f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band4_releaseMs"), 10.0f);
    EXPECT_FLOAT_EQ (valueOf (processor, "band3_bypass"), 1.0f);

    // Parameters the block does not mention come back, with their values, in the next save.
    const auto text = stateText (saveState (processor));
    for (auto* p : processor.getParameters())
    {
        const auto id = dynamic_cast<juce::RangedAudioParameter*> (p)->paramID;
        EXPECT_TRUE (text.contains ("<PARAM id=\"" + id + "\" value=\"")) << id;
    }
    VarnelleAudioProcessor fresh;
    restore (fresh, saveState (processor));
    EXPECT_EQ (allValues (fresh), allValues (processor));
}

TEST (StatePersistence, RootNameIsCheckedIgnoringCase)
{
    VarnelleAudioProcessor processor;
    restore (processor, blockWithParams ("<PARAM id=\"band1_gain\" value=\"-6\"/>", "parameters"));
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), -6.0f);

    restore (processor, blockWithParams ("<PARAM id=\"band1_gain\" value=\"-9\"/>", "Settings"));
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), -6.0f);
}

TEST (StatePersistence, UnknownChildrenSurviveTheNextSave)
{
    VarnelleAudioProcessor processor;
    restore (processor, blockWithParams (
                            "<PARAM id=\"band9_gain\" value=\"4\"/><PARAM id=\"band1_gain\" value=\"-2\"/>"));
    EXPECT_NEAR (valueOf (processor, "band1_gain"), -2.0f, 1e-5f);
    EXPECT_TRUE (stateText (saveState (processor)).contains ("<PARAM id=\"band9_gain\" value=\"4\"/>"));
}

TEST (StatePersistence, UnusableBlocksChangeNothing)
{
    VarnelleAudioProcessor processor;
    setDistinctValues (processor, 3);
    const auto expected = allValues (processor);
    const auto good = blockWithParams ("<PARAM id=\"band1_gain\" value=\"-6\"/>");

    auto wrongMagic = good;
    static_cast<char*> (wrongMagic.getData())[0] = 'X';
    auto zeroLength = good;
    juce::ByteOrder::littleEndianInt (zeroLength.getData());
    std::memset (static_cast<char*> (zeroLength.getData()) + 4, 0, 4);
    auto negativeLength = good;
    static_cast<juce::uint8*> (negativeLength.getData())[7] = 0x80;
    juce::MemoryBlock eightBytes (good.getData(), 8);

    const std::vector<juce::MemoryBlock> unusable{
        wrongMagic,        zeroLength, negativeLength, eightBytes, blockFromText ("this is not XML <"),
        blockFromText ("")};
    for (const auto& block : unusable)
    {
        restore (processor, block);
        ASSERT_EQ (allValues (processor), expected);
    }
    processor.setStateInformation (nullptr, 0);
    processor.setStateInformation (nullptr, 100);
    processor.setStateInformation (good.getData(), -5);
    EXPECT_EQ (allValues (processor), expected);

    // A length field larger than the data is cut to the data present.
    auto tooLong = good;
    std::memset (static_cast<char*> (tooLong.getData()) + 4, 0x7f, 3);
    restore (processor, tooLong);
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), -6.0f);
}

TEST (StatePersistence, NonFiniteValuesFallBackToDefaultsAndAudioStaysFinite)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    test::setParameter (*processor, "band1_gain", -12.0f);
    test::setParameter (*processor, "band2_freqLow", 300.0f);
    test::setParameter (*processor, "band3_attackMs", 100.0f);
    test::setParameter (*processor, "band4_levelMin", -20.0f);

    restore (*processor, blockWithParams ("<PARAM id=\"band1_gain\" value=\"nan\"/>"
                                          "<PARAM id=\"band2_freqLow\" value=\"inf\"/>"
                                          "<PARAM id=\"band3_attackMs\" value=\"1e999\"/>"
                                          "<PARAM id=\"band4_levelMin\" value=\"-inf\"/>"
                                          "<PARAM id=\"band5_gain\" value=\"-4.5\"/>"));
    EXPECT_FLOAT_EQ (valueOf (*processor, "band1_gain"), 0.0f);
    EXPECT_FLOAT_EQ (valueOf (*processor, "band2_freqLow"), 120.0f);
    EXPECT_FLOAT_EQ (valueOf (*processor, "band3_attackMs"), 25.0f);
    EXPECT_FLOAT_EQ (valueOf (*processor, "band4_levelMin"), -80.0f);
    EXPECT_NEAR (valueOf (*processor, "band5_gain"), -4.5f, 1e-5f);
    for (auto v : allValues (*processor))
        ASSERT_TRUE (std::isfinite (v));

    std::vector<std::vector<float>> audio{test::makePinkNoise (20000, 0.5f, 1),
                                          test::makeWhiteNoise (20000, 0.5f, 2)};
    test::processInBlocks (*processor, audio, {512});
    for (const auto& channel : audio)
        for (auto x : channel)
            ASSERT_TRUE (std::isfinite (x));
}

TEST (StatePersistence, RestoringWhileAudioRunsIsSafe)
{
    auto processor = test::makePreparedProcessor (2, 48000.0);
    VarnelleAudioProcessor a, b;
    setDistinctValues (a, 10);
    setDistinctValues (b, 11);
    const auto blockA = saveState (a), blockB = saveState (b);

    std::atomic<bool> running{true};
    std::atomic<bool> allFinite{true};
    std::thread audioThread (
        [&]
        {
            juce::AudioBuffer<float> block (2, 256);
            juce::MidiBuffer midi;
            juce::Random random (9);
            while (running.load())
            {
                for (int ch = 0; ch < 2; ++ch)
                    for (int s = 0; s < 256; ++s)
                        block.setSample (ch, s, random.nextFloat() - 0.5f);
                processor->processBlock (block, midi);
                for (int ch = 0; ch < 2; ++ch)
                    for (int s = 0; s < 256; ++s)
                        if (!std::isfinite (block.getSample (ch, s)))
                            allFinite = false;
            }
        });

    for (int i = 0; i < 200; ++i)
    {
        restore (*processor, i % 2 == 0 ? blockA : blockB);
        juce::MemoryBlock saved;
        processor->getStateInformation (saved);
    }
    running.store (false);
    audioThread.join();

    EXPECT_TRUE (allFinite.load());
    EXPECT_EQ (allValues (*processor), allValues (b));
}

TEST (StatePersistence, MalformedTextThatJuceMisreadsIsRefusedWhole)
{
    // Each of these once made the XML reader read past its buffer, loop forever, or run with
    // one value while saving another. Such a block must change nothing.
    VarnelleAudioProcessor processor;
    setDistinctValues (processor, 4);
    const auto expected = allValues (processor);

    const juce::String decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> ";
    juce::MemoryBlock invalidUtf8 =
        blockFromText (decl + "<Parameters><PARAM id=\"band1_gain\" value=\"-6\"/>");
    static_cast<char*> (invalidUtf8.getData())[invalidUtf8.getSize() - 2] = (char)0xff;

    const std::vector<juce::MemoryBlock> refused{
        invalidUtf8,
        blockFromText ("<Parameters><?x?>a<PARAM id=\"band1_gain\" value=\"-6\"/></Parameters>"),
        blockFromText (decl + "<Parameters><PARAM id=\"band1_gain\" value=\"-6\"/>&#x"),
        blockFromText (decl +
                       "<Parameters><PARAM id=\"band1_gain\" value=\"-6.0\" value=\"3.0\"/></Parameters>"),
        blockFromText (decl +
                       "<Parameters><PARAM id=\"band1_gain\" value=\"nan\" value=\"nan\"/></Parameters>"),
    };
    for (const auto& block : refused)
    {
        restore (processor, block);
        ASSERT_EQ (allValues (processor), expected);
    }

    // Well-formed references and the leading declaration are fine.
    restore (processor, blockWithParams ("<PARAM id=\"band9_note\" text=\"&#x41;&#66;&amp;\"/>"
                                         "<PARAM id=\"band1_gain\" value=\"-6\"/>"));
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), -6.0f);
}

TEST (StatePersistence, ValuesThatAreNotPlainNumbersTakeTheDefault)
{
    VarnelleAudioProcessor processor;
    for (const char* text : {"1e99999999999", "1e-99999999999", "1e1234", "abc", "0x10", "", "12.5dB", ".",
                             "-", "1e", "1e+", "--6", "1.2.3", "6 6", "1e3.5"})
    {
        test::setParameter (processor, "band2_gain", -9.0f);
        restore (processor,
                 blockWithParams ("<PARAM id=\"band2_gain\" value=\"" + juce::String (text) + "\"/>"));
        EXPECT_FLOAT_EQ (valueOf (processor, "band2_gain"), 0.0f) << text;
    }
    for (const char* text : {"-6", " -6.0 ", "-6.", "-.6e1", "+3.5", "2e1"})
    {
        restore (processor,
                 blockWithParams ("<PARAM id=\"band2_gain\" value=\"" + juce::String (text) + "\"/>"));
        EXPECT_NE (valueOf (processor, "band2_gain"), 0.0f) << text;
    }
}

TEST (StatePersistence, DeeplyNestedOrEntityExpandingMarkupIsRefusedBeforeParsing)
{
    // JUCE's reader recurses once per element and expands DOCTYPE entities into elements: a
    // block nested a million deep used to crash the host on its message thread.
    VarnelleAudioProcessor processor;
    setDistinctValues (processor, 5);
    const auto expected = allValues (processor);

    std::string deep;
    deep.reserve (7'000'000);
    for (int i = 0; i < 1'000'000; ++i)
        deep += "<a>";
    for (int i = 0; i < 1'000'000; ++i)
        deep += "</a>";

    // A foreign child `levels` elements deep below the tree's own level.
    const auto nested = [] (int levels)
    {
        juce::String open, close;
        for (int i = 1; i < levels; ++i)
        {
            open << "<x>";
            close << "</x>";
        }
        return open + "<y/>" + close;
    };

    const std::vector<juce::MemoryBlock> refused{
        blockWithParams (juce::String (deep) + "<PARAM id=\"band1_gain\" value=\"-6\"/>"),
        // sixteen levels below the tree's own: one more than a block may have
        blockWithParams (nested (16) + "<PARAM id=\"band1_gain\" value=\"-6\"/>"),
        blockFromText ("<!DOCTYPE p [<!ENTITY e \"<x><x></x></x>\">]><Parameters>&e;"
                       "<PARAM id=\"band1_gain\" value=\"-6\"/></Parameters>"),
        blockWithParams ("<PARAM id=\"band1_gain\" value=\"-6\" note=\"&unknown;\"/>"),
        // JUCE reads "<!-->" as the start of a comment that runs on to the next "-->"
        blockFromText ("<Parameters><!--></Parameters>--><PARAM id=\"band1_gain\" value=\"-6\"/>" +
                       juce::String (deep) + "</Parameters>"),
    };
    for (size_t i = 0; i < refused.size(); ++i)
    {
        restore (processor, refused[i]);
        ASSERT_EQ (allValues (processor), expected) << "block " << i;
    }

    restore (processor, blockWithParams (nested (15) + "<PARAM id=\"band1_gain\" value=\"-6\"/>"));
    EXPECT_FLOAT_EQ (valueOf (processor, "band1_gain"), -6.0f);
}

TEST (StatePersistence, ASavedStateHoldsTheLiveValueEvenWhenARestoreSnappedIt)
{
    // 600 Hz snaps to the nearest frequency that survives a save and reopen, which band 3's
    // default already is: the tree, seeing no change, kept the text "600" and saved it.
    VarnelleAudioProcessor processor;
    const float live = valueOf (processor, "band3_freqLow");
    ASSERT_NE (live, 600.0f);
    restore (processor, blockWithParams ("<PARAM id=\"band3_freqLow\" value=\"600\"/>"));
    ASSERT_EQ (valueOf (processor, "band3_freqLow"), live);

    const auto xml = juce::parseXML (stateText (saveState (processor)));
    ASSERT_NE (xml, nullptr);
    const auto* child = xml->getChildByAttribute ("id", "band3_freqLow");
    ASSERT_NE (child, nullptr);
    EXPECT_EQ ((float)child->getDoubleAttribute ("value"), live);
}

TEST (StatePersistence, SaveAndReopenKeepEveryValueOfEveryParameterBitForBit)
{
    // Frequencies once moved by an ULP or two per save and reopen: the value a state holds
    // must restore to exactly itself, whether it came from a host's automation or a state.
    VarnelleAudioProcessor live, reopened;
    juce::Random random (12);
    for (int round = 0; round < 300; ++round)
    {
        juce::String children;
        for (auto* p : live.getParameters())
        {
            const auto& ranged = dynamic_cast<juce::RangedAudioParameter&> (*p);
            const auto range = ranged.getNormalisableRange();
            const auto proportion = round < 2 ? (float)round : random.nextFloat();
            if (round % 2 == 0)
                p->setValueNotifyingHost (proportion);
            else
                children << "<PARAM id=\"" << ranged.paramID << "\" value=\""
                         << juce::String (range.start + (range.end - range.start) * (double)proportion, 13)
                         << "\"/>";
        }
        if (round % 2 == 1)
            restore (live, blockWithParams (children));

        const auto saved = saveState (live);
        restore (reopened, saved);
        ASSERT_EQ (allValues (reopened), allValues (live)) << "round " << round;
        const auto savedAgain = saveState (reopened);
        restore (live, savedAgain);
        ASSERT_EQ (saveState (live), saved) << "round " << round;
        ASSERT_EQ (savedAgain, saved) << "round " << round;
    }
}
