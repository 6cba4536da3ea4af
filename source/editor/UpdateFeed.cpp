#include "UpdateFeed.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace varnelle::editor
{
namespace
{

/** True if JUCE's JSON parser can read `json` safely: arrays and objects nest at most
    `maxDepth` deep, and no number has more digits than its readers can hold.

    JUCE's parser recurses once per level, so a small but deeply nested document could exhaust
    the stack of the thread parsing it. Its integer reader collects every digit of a number in
    a 64-bit integer, and its exponent reader in an int, both without overflow checks.

    The text is read as JUCE's parser reads it, so that no bracket it will see as one goes
    uncounted: strings in double or single quotes (a backslash escapes the next character),
    and after a minus sign the one character (past any white space) that its number reader
    takes as a digit without looking, be it a quote or a bracket. Wherever this reading and
    the parser's could still part, the parser stops at a syntax error or the counts here are
    the larger, so a feed is at worst refused, never read unsafely. */
bool isSafeForJuceJson (const juce::String& json, int maxDepth)
{
    // A number's integer part, started by any character after a minus sign (whose code,
    // up to 0x10FFFF, weighs at most seven digits), stays below 10^18; an exponent below 10^9.
    constexpr int maxIntegerDigits = 17, maxExponentDigits = 8;

    enum class NumberPart
    {
        integer,
        fraction,
        exponent
    };

    int depth = 0, digits = 0;
    auto part = NumberPart::integer;
    juce::juce_wchar openQuote = 0; // the quote of the string being read, 0 outside strings
    bool escaped = false;

    for (auto p = json.getCharPointer(); !p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (openQuote != 0)
        {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == openQuote)
                openQuote = 0;
            continue;
        }

        if (c >= '0' && c <= '9')
        {
            const int limit = part == NumberPart::exponent ? maxExponentDigits : maxIntegerDigits;
            if (part != NumberPart::fraction && ++digits > limit)
                return false;
            continue;
        }

        digits = 0;
        part = NumberPart::integer;

        if (c == '"' || c == '\'')
        {
            openQuote = c;
        }
        else if (c == '.')
        {
            part = NumberPart::fraction;
        }
        else if (c == 'e' || c == 'E')
        {
            part = NumberPart::exponent;
            if (*p == '-' || *p == '+')
                ++p;
        }
        else if (c == '-')
        {
            // At the end of the text that character would be the terminator, and the parser
            // would read on past it: beyond the text, or into whatever follows a zero byte.
            p = p.findEndOfWhitespace();
            if (p.isEmpty())
                return false;
            const auto first = p.getAndAdvance();
            digits = first >= '0' && first <= '9' ? 1 : 7;
        }
        else if (c == '[' || c == '{')
        {
            if (++depth > maxDepth)
                return false;
        }
        else if (c == ']' || c == '}')
        {
            depth = std::max (0, depth - 1);
        }
    }

    return true;
}

/** One version part: white space, an optional sign, then digits up to the first non-digit.
    Saturates instead of overflowing, so that a huge number cannot wrap into a small one. */
int readVersionPart (const juce::String& token)
{
    auto p = token.getCharPointer().findEndOfWhitespace();
    const bool negative = *p == '-';

    if (*p == '-' || *p == '+')
        ++p;

    constexpr juce::int64 limit = (juce::int64)INT_MAX + 1;
    juce::int64 value = 0;

    for (;;)
    {
        const auto c = p.getAndAdvance();

        if (c < '0' || c > '9')
            break;

        value = std::min (limit, value * 10 + (juce::int64) (c - '0'));
    }

    if (negative)
        return (int)-value; // -limit is INT_MIN
    return (int)std::min (value, (juce::int64)INT_MAX);
}

} // namespace

VersionNumber parseVersion (const juce::String& text)
{
    juce::StringArray tokens;
    tokens.addTokens (text, ".", "");
    tokens.removeEmptyStrings (false);

    VersionNumber v;
    int* const parts[] = {&v.major, &v.minor, &v.patch};

    for (int i = 0; i < 3 && i < tokens.size(); ++i)
        *parts[i] = readVersionPart (tokens[i]);

    return v;
}

bool isNewerVersion (const VersionNumber& candidate, const VersionNumber& current) noexcept
{
    if (candidate.major != current.major)
        return candidate.major > current.major;
    if (candidate.minor != current.minor)
        return candidate.minor > current.minor;
    return candidate.patch > current.patch;
}

juce::String getOwnVersion()
{
    return JucePlugin_VersionString;
}

juce::String readLatestVersion (const juce::String& feedText)
{
    if (!isSafeForJuceJson (feedText, updateCheckLimits::maxFeedNesting))
        return {};

    const auto document = juce::JSON::parse (feedText);
    auto* root = document.getDynamicObject();

    if (root == nullptr)
        return {};

    auto* products = root->getProperty ("products").getDynamicObject();

    if (products == nullptr)
        return {};

    auto* entry = products->getProperty ("varnelle").getDynamicObject();

    if (entry == nullptr)
        return {};

    const auto& latest = entry->getProperty ("latest_version");

    // Objects and arrays have no version-like text form (JUCE prints an address for them).
    if (!(latest.isString() || latest.isInt() || latest.isInt64() || latest.isDouble()))
        return {};

    return latest.toString().trim();
}

juce::String feedTextFromBytes (const void* feedBytes, size_t numBytes)
{
    // JUCE's conversion reads past the end of some inputs (one holding only a byte order mark,
    // a multi-byte sequence cut short), so it reads a copy with zero bytes behind it.
    juce::MemoryBlock padded (numBytes + 4, true);
    if (numBytes > 0)
        std::memcpy (padded.getData(), feedBytes, numBytes);
    return juce::String::createStringFromData (padded.getData(), (int)numBytes);
}

UpdateCheckResult evaluateFeed (const void* feedBytes, size_t numBytes, const juce::String& ownVersion)
{
    if (numBytes > (size_t)updateCheckLimits::maxFeedBytes)
        return UpdateCheckResult::failed;

    const auto feed = feedTextFromBytes (feedBytes, numBytes);
    const auto latest = readLatestVersion (feed);

    if (latest.isEmpty())
        return UpdateCheckResult::failed;

    return isNewerVersion (parseVersion (latest), parseVersion (ownVersion.trim()))
               ? UpdateCheckResult::newerVersion
               : UpdateCheckResult::notNewer;
}

} // namespace varnelle::editor
