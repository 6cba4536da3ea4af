#include "StatePersistence.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <string_view>

namespace varnelle
{
namespace
{
const juce::Identifier valueAttribute{"value"};

constexpr juce::uint32 stateMagic = 0x21324356; // "VC2!"

// The deepest element nesting a state block may have, counting the outermost element as one.
// Blocks this plug-in writes have two levels (the tree and its parameters); the rest is room
// for foreign children a host might keep.
constexpr int maxElementDepth = 16;

bool isAsciiSpace (char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isAsciiDigit (char c)
{
    return c >= '0' && c <= '9';
}
bool isAsciiNameChar (char c)
{
    return isAsciiDigit (c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-' ||
           c == ':' || c == '.';
}

/** Reads the markup of a state block without recursion, the way JUCE's XML reader will, and
    says whether it keeps to the plain form blocks are written in: elements with quoted
    attributes, text, comments, CDATA, the five named entities and complete character
    references, and at most maxElementDepth levels.

    JUCE's reader recurses once per element level, so a small block nesting a few hundred
    thousand elements exhausts any thread's stack; host projects and preset files reach the
    reader on the message thread. It also expands entities declared in a DOCTYPE (exponentially,
    and into more elements), loops on a processing instruction inside an element, reads past
    the end on a truncated character reference, and keeps reading after an error, so text that
    JUCE would reject can still nest deeply. Anything outside the plain form is therefore
    refused as a whole, before the reader sees it, and inside the plain form this reading and
    JUCE's agree on every element boundary. */
class PlainMarkupReader
{
public:
    explicit PlainMarkupReader (std::string_view textToRead) : text (textToRead) {}

    bool isPlainAndShallow()
    {
        skipSpace();
        if (startsWith ("<?xml") && !skipPast ("?>"))
            return false;

        int depth = 0;
        while (pos < text.size())
        {
            const char c = text[pos];
            if (c == '&')
            {
                if (!skipReference())
                    return false;
            }
            else if (c != '<')
            {
                ++pos;
            }
            else if (startsWith ("<!--"))
            {
                // JUCE looks for the end past the opening, so "<!-->" opens a comment.
                if (!skipPast ("<!--", "-->"))
                    return false;
            }
            else if (startsWith ("<![CDATA["))
            {
                if (depth == 0 || !skipPast ("<![CDATA[", "]]>"))
                    return false;
            }
            else if (startsWith ("</"))
            {
                // JUCE ends the element at the next '>' whatever the name says.
                if (depth == 0 || !skipPast (">"))
                    return false;
                --depth;
            }
            else
            {
                bool opensContent = false;
                if (!readTag (opensContent) || depth + 1 > maxElementDepth)
                    return false;
                if (opensContent)
                    ++depth;
            }
        }
        return true;
    }

private:
    bool startsWith (std::string_view prefix) const { return text.substr (pos, prefix.size()) == prefix; }

    // Past `opening` (at pos), then past the next `terminator`.
    bool skipPast (std::string_view opening, std::string_view terminator)
    {
        const auto found = text.find (terminator, pos + opening.size());
        if (found == std::string_view::npos)
            return false;
        pos = found + terminator.size();
        return true;
    }

    bool skipPast (std::string_view terminator)
    {
        const auto found = text.find (terminator, pos);
        if (found == std::string_view::npos)
            return false;
        pos = found + terminator.size();
        return true;
    }

    void skipSpace()
    {
        while (pos < text.size() && isAsciiSpace (text[pos]))
            ++pos;
    }

    size_t skipName()
    {
        const auto start = pos;
        while (pos < text.size() && isAsciiNameChar (text[pos]))
            ++pos;
        return pos - start;
    }

    // &amp; &lt; &gt; &quot; &apos; (any case, as JUCE reads them), &#digits; or &#xhex; with
    // at most eight digits. JUCE reads any other name up to the next ';', wherever that is.
    bool skipReference()
    {
        ++pos; // '&'
        if (pos < text.size() && text[pos] == '#')
        {
            ++pos;
            const bool hex = pos < text.size() && (text[pos] == 'x' || text[pos] == 'X');
            if (hex)
                ++pos;
            const auto digitsStart = pos;
            while (pos < text.size() &&
                   (hex ? std::isxdigit ((unsigned char)text[pos]) != 0 : isAsciiDigit (text[pos])))
                ++pos;
            if (pos == digitsStart || pos - digitsStart > 8 || pos >= text.size() || text[pos] != ';')
                return false;
            ++pos;
            return true;
        }

        const auto nameStart = pos;
        while (pos < text.size() && std::isalpha ((unsigned char)text[pos]) != 0)
            ++pos;
        if (pos >= text.size() || text[pos] != ';')
            return false;
        const auto name = juce::String (text.data() + nameStart, pos - nameStart).toLowerCase();
        ++pos;
        return name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
    }

    // From '<' to the end of the start tag: a name, then name="value" or name='value' pairs.
    // `opensContent` tells '>' (children follow) from '/>'.
    bool readTag (bool& opensContent)
    {
        ++pos; // '<'
        if (skipName() == 0)
            return false;

        for (;;)
        {
            skipSpace();
            if (startsWith ("/>"))
            {
                pos += 2;
                opensContent = false;
                return true;
            }
            if (startsWith (">"))
            {
                ++pos;
                opensContent = true;
                return true;
            }
            if (skipName() == 0)
                return false;
            skipSpace();
            if (!startsWith ("="))
                return false;
            ++pos;
            skipSpace();
            if (pos >= text.size() || (text[pos] != '"' && text[pos] != '\''))
                return false;
            const char quote = text[pos++];
            while (pos < text.size() && text[pos] != quote)
            {
                if (text[pos] == '<')
                    return false;
                if (text[pos] == '&')
                {
                    if (!skipReference())
                        return false;
                }
                else
                {
                    ++pos;
                }
            }
            if (pos >= text.size())
                return false;
            ++pos; // the closing quote
        }
    }

    std::string_view text;
    size_t pos = 0;
};

// JUCE's XML reader misbehaves on some malformed text: it reads past the end on invalid UTF-8
// and on a truncated character reference, loops forever on a processing instruction inside an
// element, and recurses once per nested element. State blocks come from hosts and preset
// files, so such text is refused before it reaches the reader. Blocks this plug-in writes
// never contain any of it.
bool isSafeToParse (const char* text, size_t length)
{
    if (!juce::CharPointer_UTF8::isValidString (text, (int)length))
        return false;

    const std::string_view view (text, length);

    // Only a leading XML declaration may use "<?".
    auto start = view.find_first_not_of (" \t\r\n");
    if (start == std::string_view::npos)
        start = view.size();
    const bool hasDeclaration = view.substr (start, 5) == "<?xml";
    const auto pi = view.find ("<?", hasDeclaration ? start + 2 : 0);
    if (pi != std::string_view::npos)
        return false;

    return PlainMarkupReader (view).isPlainAndShallow();
}

// XML forbids an attribute twice on one element; the parser keeps both, and the parameter
// tree would run with one value while saving the other.
bool hasRepeatedAttributes (const juce::XmlElement& element)
{
    juce::StringArray names;
    for (int i = 0; i < element.getNumAttributes(); ++i)
    {
        if (names.contains (element.getAttributeName (i), false))
            return true;
        names.add (element.getAttributeName (i));
    }
    for (auto* child : element.getChildIterator())
        if (hasRepeatedAttributes (*child))
            return true;
    return false;
}

// A "value" such as "nan", "inf" or "1e999" would reach the parameter as a non-finite
// number and turn the audio into NaN, and an exponent too long for JUCE's number reader
// overflows it. A child whose value is not a plain, finite number is treated as one without
// a value, so its parameter takes the default.

// Optional blanks, an optional sign, digits with at most one decimal point (at least one
// digit), an optional exponent of one to three digits, optional blanks; nothing else.
bool isPlainDecimal (const std::string& text)
{
    size_t i = 0;
    const auto countDigits = [&]
    {
        const auto start = i;
        while (i < text.size() && isAsciiDigit (text[i]))
            ++i;
        return i - start;
    };

    while (i < text.size() && isAsciiSpace (text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;

    auto digits = countDigits();
    if (i < text.size() && text[i] == '.')
    {
        ++i;
        digits += countDigits();
    }
    if (digits == 0)
        return false;

    if (i < text.size() && (text[i] == 'e' || text[i] == 'E'))
    {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        const auto exponentDigits = countDigits();
        if (exponentDigits == 0 || exponentDigits > 3)
            return false;
    }

    while (i < text.size() && isAsciiSpace (text[i]))
        ++i;
    return i == text.size();
}

bool isPlainFiniteNumber (const juce::String& text)
{
    if (text.length() > 64 || !isPlainDecimal (text.toStdString()))
        return false;
    return std::isfinite (text.getDoubleValue());
}

void dropUnusableValues (juce::XmlElement& root)
{
    // The value tree would decode a "base64:value" attribute into binary data for "value";
    // parameters are plain numbers, so such an attribute counts as no value.
    const juce::Identifier base64Value{"base64:value"};
    for (auto* child : root.getChildIterator())
        child->removeAttribute (base64Value);

    for (auto* child : root.getChildIterator())
        if (child->hasAttribute (valueAttribute.toString()) &&
            !isPlainFiniteNumber (child->getStringAttribute (valueAttribute.toString())))
            child->removeAttribute (valueAttribute);
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

// A restored value that its parameter snapped to a nearby one stays in the tree as it was
// written when the snapped value is the one the parameter already had (the tree then reports
// no change). The tree must hold what the plug-in runs with, so that the next save stores
// exactly the live values.
void storeLiveValues (juce::AudioProcessorValueTreeState& parameters)
{
    const juce::Identifier idAttribute{"id"};
    for (auto* parameter : parameters.processor.getParameters())
    {
        const auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter);
        auto child = ranged != nullptr ? parameters.state.getChildWithProperty (idAttribute, ranged->paramID)
                                       : juce::ValueTree();
        if (!child.isValid())
            continue;
        const float live = parameters.getRawParameterValue (ranged->paramID)->load();
        if (!child.hasProperty (valueAttribute) || (float)child[valueAttribute] != live)
            child.setProperty (valueAttribute, live, nullptr);
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
    // The layout copyXmlToBinary writes: magic, text length, UTF-8 text, a zero byte. A length
    // beyond the data present is cut to the data present.
    if (data == nullptr || sizeInBytes <= 8)
        return {};

    const auto* bytes = static_cast<const char*> (data);
    if (juce::ByteOrder::littleEndianInt (bytes) != stateMagic)
        return {};

    const auto declaredLength = (int)juce::ByteOrder::littleEndianInt (bytes + 4);
    if (declaredLength <= 0)
        return {};

    auto length = (size_t)juce::jmin (sizeInBytes - 8, declaredLength);
    while (length > 0 && bytes[8 + length - 1] == 0) // the terminator, if it falls inside
        --length;
    if (std::memchr (bytes + 8, 0, length) != nullptr || !isSafeToParse (bytes + 8, length))
        return {};

    auto xml = juce::parseXML (juce::String::fromUTF8 (bytes + 8, (int)length));
    if (xml == nullptr || !xml->hasTagName (parameters.state.getType().toString()) ||
        hasRepeatedAttributes (*xml))
        return {};

    return xml;
}

bool restoreStateBlock (juce::AudioProcessorValueTreeState& parameters, const void* data, int sizeInBytes)
{
    auto xml = decodeStateBlock (parameters, data, sizeInBytes);
    if (xml == nullptr)
        return false;

    dropUnusableValues (*xml);
    auto newState = juce::ValueTree::fromXml (*xml);
    addMissingParameters (parameters, newState);
    parameters.replaceState (newState);
    storeLiveValues (parameters);
    return true;
}

} // namespace varnelle
